#include "web/web_page.h"

#include <QFile>

// The page is built into this static library; its resources are linked in
// only when something refers to them.
static void initPageResources()
{
    Q_INIT_RESOURCE(page);
}

namespace tallowcrest {

WebReply pageFile(const QString& path, bool get)
{
    if (!get)
        return errorReply(405, "use GET");
    static const bool kLoaded = (initPageResources(), true);
    Q_UNUSED(kLoaded);
    QFile resource(QStringLiteral(":/web") + (path == QLatin1String("/") ? QStringLiteral("/index.html") : path));
    if (!resource.open(QIODevice::ReadOnly))
        return errorReply(500, "the page is missing from the program");
    const QByteArray type = path.endsWith(QLatin1String(".js"))   ? "text/javascript; charset=utf-8"
        : path.endsWith(QLatin1String(".css")) ? "text/css; charset=utf-8"
                                               : "text/html; charset=utf-8";
    return {200, type, resource.readAll()};
}

}  // namespace tallowcrest
