#include "mpris/mpris_service.h"

#include "mpris/mpris_log.h"
#include "mpris/mpris_player.h"
#include "mpris/mpris_root.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>
#include <QMetaObject>


namespace tallowcrest {

MprisRoot::MprisRoot(QObject* parent, WindowHands hands) : QDBusAbstractAdaptor(parent), m_hands(std::move(hands)) {}

void MprisRoot::Raise() { m_hands.raise(); }

// Later, so that the caller has its answer before the program ends.
void MprisRoot::Quit() { QMetaObject::invokeMethod(this, [this] { m_hands.quit(); }, Qt::QueuedConnection); }

namespace {

// With no address given, libdbus looks for the user's bus in the runtime
// folder and, failing that, starts a bus of its own for the X display: one
// that nothing else on the desktop listens on, left running after us.
bool sessionBusNamed()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

MprisService::MprisService(Controls& controls, const NowPlaying& nowPlaying, WindowHands hands)
{
    new MprisRoot(this, std::move(hands));
    new MprisPlayer(this, *this, controls, nowPlaying, QDBusConnection::sessionBus());
}

MprisService::~MprisService()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_busName.isEmpty())
        bus.unregisterService(m_busName);
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

std::unique_ptr<MprisService> MprisService::start(Controls& controls, const NowPlaying& nowPlaying,
                                                  WindowHands hands)
{
    const auto say = [](const char* what, const QString& why) {
        qCWarning(mprisLog).noquote() << what << "(" + why.simplified() + ");"
                                      << "media keys and playerctl will not reach the server";
        return nullptr;
    };
    if (!sessionBusNamed())
        return say("no session bus", QStringLiteral("DBUS_SESSION_BUS_ADDRESS is not set"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto unavailable = [&](const char* what) { return say(what, bus.lastError().message()); };
    if (!bus.isConnected())
        return unavailable("no session bus");
    std::unique_ptr<MprisService> service(new MprisService(controls, nowPlaying, std::move(hands)));
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), service.get(), QDBusConnection::ExportAdaptors))
        return unavailable("cannot offer the player on the session bus");
    const QString own = QString::fromLatin1(kBusName);
    for (const QString& name : {own, own + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())}) {
        if (bus.registerService(name)) {
            service->m_busName = name;
            return service;
        }
    }
    return unavailable("no name free on the session bus");
}

}  // namespace tallowcrest
