#include "notify/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
// The name of the installed desktop entry and icon: the desktop groups the notification under the program.
const QString desktopEntry = QStringLiteral("quelvane-monitor");
// The bus itself answers these at once; a bus that does not must not hold up the start for long.
constexpr int busTimeout = 1000;

QDBusMessage notificationCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

QDBusMessage askBus(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, busTimeout);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { onOwnerChanged(newOwner); });
    const QDBusMessage found = askBus(QStringLiteral("GetNameOwner"), {service});
    if (found.type() == QDBusMessage::ReplyMessage)
        owner = found.arguments().value(0).toString();
    const QDBusMessage names = askBus(QStringLiteral("ListActivatableNames"), {});
    activatable = names.arguments().value(0).toStringList().contains(service);
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier()
{
    // The program is ending: a notification of its alarms must not outlive it.
    if (currentId() != 0) {
        QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
        call << currentId();
        QDBusConnection::sessionBus().call(call, QDBus::Block, busTimeout);
    }
}

bool DesktopNotifier::isAvailable() const
{
    return !owner.isEmpty() || activatable;
}

uint DesktopNotifier::currentId() const
{
    return !owner.isEmpty() && shownBy == owner ? shownId : 0;
}

void DesktopNotifier::onOwnerChanged(const QString& newOwner)
{
    // One started by the call that showed the notification is known already.
    if (newOwner == owner)
        return;
    owner = newOwner;
    shownId = 0;
    shownBy.clear();
    emit serverChanged();
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
    if (currentId() == 0)
        return;
    QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
    call << currentId();
    shownId = 0;
    QDBusConnection::sessionBus().asyncCall(call);
}

void DesktopNotifier::askCapabilities()
{
    sending = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notificationCall(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, asked = owner](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        sending = false;
        const QDBusPendingReply<QStringList> capabilities = *call;
        askedOwner = asked;
        markup = !capabilities.isError() && capabilities.value().contains(QStringLiteral("body-markup"));
        // Asked on the way to a notification: it goes now, unless it was withdrawn meanwhile.
        showAgain = !closeWhenSent;
        sendPending();
    });
}

void DesktopNotifier::send()
{
    if (!owner.isEmpty() && askedOwner != owner) {
        askCapabilities();
        return;
    }
    // Hints with the types the protocol gives them: urgency is a byte, the entry a string.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))},
                            {QStringLiteral("desktop-entry"), desktopEntry}};
    QDBusMessage call = notificationCall(QStringLiteral("Notify"));
    // Replacing the one shown, never adding one; no time limit, since it is withdrawn when the alarms end.
    call << QStringLiteral("Quelvane Monitor") << currentId() << desktopEntry << title
         << (markup ? message.toHtmlEscaped() : message) << QStringList{QStringLiteral("default"), title} << hints
         << qint32(0);
    sending = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onSent);
}

void DesktopNotifier::onSent(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    sending = false;
    const QDBusPendingReply<uint> reply = *call;
    // A server that failed keeps no notification of ours; the next alarm asks again. One started by the
    // call itself is the owner from now on.
    shownId = reply.isError() ? 0 : reply.value();
    shownBy = reply.reply().service();
    if (owner.isEmpty() && shownId != 0)
        owner = shownBy;
    sendPending();
}

void DesktopNotifier::sendPending()
{
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
    if (id != 0 && id == currentId() && action == QLatin1String("default"))
        emit activated();
}

void DesktopNotifier::onNotificationClosed(uint id, uint /*reason*/)
{
    // Dismissed by the user or withdrawn: the next alarm shows a new one.
    if (id != 0 && id == currentId())
        shownId = 0;
}
