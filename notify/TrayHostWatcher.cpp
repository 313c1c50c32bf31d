#include "notify/TrayHostWatcher.h"

#include <QGuiApplication>

#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#endif

namespace {

#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString path = QStringLiteral("/StatusNotifierWatcher");
#endif

bool isHostRegistered()
{
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    QDBusInterface watcher(service, path, service);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
#else
    return false;
#endif
}

} // namespace

TrayHostWatcher::TrayHostWatcher(QObject* parent, int maxWait) : QObject(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &TrayHostWatcher::waitOver);
    timer.start(maxWait);
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    // A watcher that starts with its host, or one already there whose host comes later.
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* services = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(services, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatcher::check);
    bus.connect(service, path, service, QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
#endif
}

bool TrayHostWatcher::mustWait()
{
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && !isHostRegistered();
#else
    return false;
#endif
}

void TrayHostWatcher::check()
{
    if (timer.isActive() && isHostRegistered()) {
        timer.stop();
        emit waitOver();
    }
}
