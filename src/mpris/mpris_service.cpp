#include "mpris/mpris_service.h"

#include "mpris/mpris_player.h"
#include "mpris/mpris_root.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QMetaObject>

#include <cstdio>

namespace tallowcrest {

MprisRoot::MprisRoot(QObject* parent, WindowHands hands) : QDBusAbstractAdaptor(parent), m_hands(std::move(hands)) {}

void MprisRoot::Raise() { m_hands.raise(); }

// Later, so that the caller has its answer before the program ends.
void MprisRoot::Quit() { QMetaObject::invokeMethod(this, [this] { m_hands.quit(); }, Qt::QueuedConnection); }

MprisService::MprisService(ServerController& controller, WindowHands hands)
{
    new MprisRoot(this, std::move(hands));
    new MprisPlayer(this, controller, QDBusConnection::sessionBus());
}

MprisService::~MprisService()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_busName.isEmpty())
        bus.unregisterService(m_busName);
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

std::unique_ptr<MprisService> MprisService::start(ServerController& controller, WindowHands hands)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto unavailable = [&bus](const char* what) {
        std::fprintf(stderr, "tallowcrest-server: %s (%s); media keys and playerctl will not reach the server\n", what,
                     qPrintable(bus.lastError().message().simplified()));
        return nullptr;
    };
    if (!bus.isConnected())
        return unavailable("no session bus");
    std::unique_ptr<MprisService> service(new MprisService(controller, std::move(hands)));
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
