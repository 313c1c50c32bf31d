#include "notify/SysTray.h"

#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
#include "notify/DesktopNotifier.h"
#endif

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QWidget>

SysTray::SysTray(QObject* parent) : QSystemTrayIcon(parent)
{
#ifdef QUELVANE_DESKTOP_NOTIFICATIONS
    notifier = new DesktopNotifier(this);
    connect(notifier, &DesktopNotifier::activated, this, &SysTray::notificationClicked);
    // A server that comes (or comes back) while an alarm lasts shows it.
    connect(notifier, &DesktopNotifier::serverChanged, this, [this] {
        if (shownError && notifier->isAvailable())
            notifier->show(title, shownMessage);
    });
#endif
    applyTimer.setSingleShot(true);
    connect(&applyTimer, &QTimer::timeout, this, &SysTray::applyError);
    // The first state, "no alarm": the icon must be there before the tray shows it.
    setIcon(okIcon);
    init();
}

SysTray::~SysTray() = default;

void SysTray::init()
{
    // Shown even with no tray yet: at login the desktop's panel often comes after the program, and Qt
    // docks a visible icon in a tray that appears later.
    auto* menu = new QMenu(qobject_cast<QWidget*>(parent()));
    auto* quitAction = new QAction(QCoreApplication::translate("Systray", "Quit"), menu);
    menu->addAction(quitAction);
    connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    setContextMenu(menu);
    setVisible(true);
}

void SysTray::setError(bool inError)
{
    pendingError = inError;
    if (!applyTimer.isActive())
        applyTimer.start(0);
}

void SysTray::alarmRaised()
{
    pendingRaise = true;
}

void SysTray::setAttention(const QStringList& lines)
{
    attention = lines;
    if (!applyTimer.isActive())
        applyTimer.start(0);
}

void SysTray::applyError()
{
    applyTimer.stop();
    const bool inError = pendingError;
    const bool raised = pendingRaise;
    pendingRaise = false;
    QStringList lines{QCoreApplication::translate("Systray", "Some elements require your attention")};
    lines << attention;
    const QString message = lines.join(QLatin1Char('\n'));
    shownMessage = message;
    // The balloon where no notification server runs now: on a tray over D-Bus the balloon is itself a
    // notification, a new one at every reminder that is never taken back.
    if (notifier && notifier->isAvailable()) {
        // Shown while alarms last, told again on a new one, withdrawn once every server is in order.
        if (!inError)
            notifier->close();
        else if (raised || !shownError)
            notifier->show(title, message);
    } else if (inError && (!shownError || sinceBalloon.hasExpired(balloonInterval))) {
        showBalloon(title, message);
        sinceBalloon.start();
    }
    const QString toolTip = inError ? message : QString();
    if (toolTip != shownToolTip) {
        shownToolTip = toolTip;
        setToolTip(toolTip);
    }
    if (inError != shownError)
        setIcon(inError ? alarmIcon : okIcon);
    shownError = inError;
}

void SysTray::showBalloon(const QString& title, const QString& message)
{
    showMessage(title, message, QSystemTrayIcon::Warning, 0);
}
