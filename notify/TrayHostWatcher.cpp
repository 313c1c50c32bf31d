#include "notify/TrayHostWatcher.h"

#include <QGuiApplication>

#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#endif

namespace {

#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString path = QStringLiteral("/StatusNotifierWatcher");
#endif

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
    check();
#endif
}

bool TrayHostWatcher::mayWait()
{
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
#else
    return false;
#endif
}

void TrayHostWatcher::check()
{
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << service << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* reply) {
        reply->deleteLater();
        const QDBusPendingReply<QDBusVariant> registered = *reply;
        if (timer.isActive() && !registered.isError() && registered.value().variant().toBool()) {
            timer.stop();
            emit waitOver();
        }
    });
#endif
}
