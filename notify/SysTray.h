#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

class DesktopNotifier;

// The tray icon: one image for all servers, a warning balloon while some server is in alarm, and "Quit".
class SysTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SysTray(QObject* parent);
    ~SysTray() override;

    void init();
    // A fleet reports its state after every poll of every server: the last report of a pass of the event
    // loop is applied once, the balloon at once on a new alarm and at most once every balloonInterval after.
    void setError(bool inError);
    // Some server or category that was in order is in alarm now: the desktop's notification tells it again.
    void alarmRaised();
    // What needs attention, a line each, told below the message; a change alone updates the tooltip only.
    void setAttention(const QStringList& lines);

signals:
    // The user clicked the desktop's notification.
    void notificationClicked();

protected:
    // The one place the warning balloon is shown; QSystemTrayIcon::showMessage cannot be overridden,
    // so tests observe the balloon here.
    virtual void showBalloon(const QString& title, const QString& message);

    // The balloon stays until clicked where Qt draws it, so showing it again changes nothing on screen
    // but costs a new window (about 3 ms); a lone server, polled every 10 s, still brings it back after
    // each poll. Shortened by tests.
    int balloonInterval = 5000;

private:
    void applyError();

    // The desktop's notification server, where there is one; the balloon elsewhere.
    DesktopNotifier* notifier = nullptr;
    bool pendingError = false;
    bool pendingRaise = false;
    bool shownError = false;
    QStringList attention;
    QString shownMessage;
    QString shownToolTip;
    const QString title = QStringLiteral("Quelvane Monitor");
    QTimer applyTimer;
    QElapsedTimer sinceBalloon;
    // Made once: the resource names carry no suffix, so each new QIcon would sniff the file's type and
    // parse the SVG again, and setError runs on every change of the Alarms page.
    const QIcon okIcon{QStringLiteral(":/icons/systray-ok")};
    const QIcon alarmIcon{QStringLiteral(":/icons/systray-nok")};
};
