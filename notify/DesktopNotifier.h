#pragma once

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// The desktop's own notifications (the freedesktop notification server on the session bus), used
// instead of the tray's balloon where there is one: the balloon there becomes a new notification at
// every call, none of which is ever withdrawn. This keeps at most one on screen and takes it back.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    // Withdraws the notification still shown.
    ~DesktopNotifier() override;

    // Whether a notification server is on the session bus or can be started by it.
    static bool isAvailable();

    // Shows the notification, or replaces the one shown so that the desktop tells the user again.
    void show(const QString& title, const QString& message);
    // Withdraws the notification shown, if any.
    void close();

signals:
    // The user clicked the notification.
    void activated();

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void send();
    void onSent(QDBusPendingCallWatcher* call);

    QString title;
    QString message;
    // The server's id of the notification shown; 0 when none is.
    uint shownId = 0;
    // A call is on its way: what is asked meanwhile waits for its id.
    bool sending = false;
    bool showAgain = false;
    bool closeWhenSent = false;
};
