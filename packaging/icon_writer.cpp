// Writes the window icon into an icon theme folder, one PNG per size:
//
//   tallowcrest-icon-writer THEME_FOLDER SIZE...
//
// gives THEME_FOLDER/SIZExSIZE/apps/tallowcrest-server.png, each image exactly
// as the artwork draws it. A size the artwork does not draw is an error rather
// than a scaled copy.

#include "shell/artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

namespace tallowcrest {

namespace {

int writeThemeIcons(const QStringList& arguments)
{
    if (arguments.size() < 3) {
        std::fputs("usage: tallowcrest-icon-writer THEME_FOLDER SIZE...\n", stderr);
        return 2;
    }
    const QIcon icon = windowIcon();
    for (const QString& sizeText : arguments.mid(2)) {
        bool ok = false;
        const int side = sizeText.toInt(&ok);
        const QSize size(side, side);
        if (!ok || !icon.availableSizes().contains(size)) {
            std::fprintf(stderr, "tallowcrest-icon-writer: the icon has no %s pixel image\n",
                         qPrintable(sizeText));
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments.at(1)).arg(side);
        const QString file = folder + QStringLiteral("/tallowcrest-server.png");
        if (!QDir().mkpath(folder) || !icon.pixmap(size, 1.0).save(file, "PNG")) {
            std::fprintf(stderr, "tallowcrest-icon-writer: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

}  // namespace

}  // namespace tallowcrest

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    return tallowcrest::writeThemeIcons(QCoreApplication::arguments());
}
