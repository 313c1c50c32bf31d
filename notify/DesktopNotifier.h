#pragma once

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// The desktop's own notifications (the freedesktop notification server on the session bus), used
// instead of the tray's balloon where there is one: the balloon there becomes a new notification at
// every call, none of which is ever withdrawn. This keeps at most one on screen and takes it back.
// The server may start after the program, stop, or be replaced (a shell restarted): an id is only
// ever sent to the server that gave it.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    // Withdraws the notification still shown.
    ~DesktopNotifier() override;

    // Whether a notification server is on the session bus now, or can be started by it.
    bool isAvailable() const;

    // Shows the notification, or replaces the one shown so that the desktop tells the user again.
    void show(const QString& title, const QString& message);
    // Withdraws the notification shown, if any.
    void close();

signals:
    // The user clicked the notification.
    void activated();
    // A server came, went or was replaced: whatever it showed of ours is gone.
    void serverChanged();

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void onOwnerChanged(const QString& newOwner);
    void send();
    // Whether the server reads the body as markup: a server name with "&" or "<" must then be escaped.
    void askCapabilities();
    void onSent(QDBusPendingCallWatcher* call);
    // What was asked while a call was on its way, now that it has come back.
    void sendPending();
    // The id of the notification shown, when the current server gave it; 0 otherwise.
    uint currentId() const;

    QString title;
    QString message;
    // The unique bus name of the notification server now, empty when none runs.
    QString owner;
    bool activatable = false;
    // The server whose capabilities are known, and whether it takes markup.
    QString askedOwner;
    bool markup = false;
    uint shownId = 0;
    // Who gave shownId.
    QString shownBy;
    // A call is on its way: what is asked meanwhile waits for its id.
    bool sending = false;
    bool showAgain = false;
    bool closeWhenSent = false;
};
