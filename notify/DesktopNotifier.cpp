#include "notify/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
// The name of the installed desktop entry and icon: the desktop groups the notification under the program.
const QString desktopEntry = QStringLiteral("quelvane-monitor");

QDBusMessage notificationCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier()
{
    // The program is ending: a notification of its alarms must not outlive it.
    if (shownId != 0) {
        QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
        call << shownId;
        QDBusConnection::sessionBus().call(call, QDBus::Block, 1000);
    }
}

bool DesktopNotifier::isAvailable()
{
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    return bus->isServiceRegistered(service).value() || bus->activatableServiceNames().value().contains(service);
}

void DesktopNotifier::show(const QString& newTitle, const QString& newMessage)
{
    title = newTitle;
    message = newMessage;
    closeWhenSent = false;
    if (sending) {
        showAgain = true;
        return;
    }
    send();
}

void DesktopNotifier::close()
{
    showAgain = false;
    if (sending) {
        closeWhenSent = true;
        return;
    }
    if (shownId == 0)
        return;
    QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
    call << shownId;
    shownId = 0;
    QDBusConnection::sessionBus().asyncCall(call);
}

void DesktopNotifier::send()
{
    // Hints with the types the protocol gives them: urgency is a byte, the entry a string.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))},
                            {QStringLiteral("desktop-entry"), desktopEntry}};
    QDBusMessage call = notificationCall(QStringLiteral("Notify"));
    // Replacing the one shown, never adding one; no time limit, since it is withdrawn when the alarms end.
    call << QStringLiteral("Quelvane Monitor") << shownId << desktopEntry << title << message
         << QStringList{QStringLiteral("default"), title} << hints << qint32(0);
    sending = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onSent);
}

void DesktopNotifier::onSent(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    sending = false;
    const QDBusPendingReply<uint> reply = *call;
    // A server that failed keeps no notification of ours; the next alarm asks again.
    shownId = reply.isError() ? 0 : reply.value();
    if (closeWhenSent) {
        closeWhenSent = false;
        close();
    } else if (showAgain) {
        showAgain = false;
        send();
    }
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    if (id != 0 && id == shownId && action == QLatin1String("default"))
        emit activated();
}

void DesktopNotifier::onNotificationClosed(uint id, uint /*reason*/)
{
    // Dismissed by the user or withdrawn: the next alarm shows a new one.
    if (id != 0 && id == shownId)
        shownId = 0;
}
