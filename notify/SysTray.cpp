#include "notify/SysTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QWidget>

SysTray::SysTray(QObject* parent) : QSystemTrayIcon(parent)
{
    applyTimer.setSingleShot(true);
    connect(&applyTimer, &QTimer::timeout, this, &SysTray::applyError);
    // The first state, "no alarm": the icon must be there before the tray shows it.
    setIcon(okIcon);
    init();
}

SysTray::~SysTray() = default;

void SysTray::init()
{
    // Without a tray the icon stays hidden for the whole run and there is no way to reach "Quit".
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
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

void SysTray::applyError()
{
    applyTimer.stop();
    const bool inError = pendingError;
    const QString message = QCoreApplication::translate("Systray", "Some elements require your attention");
    if (inError && (!shownError || sinceBalloon.hasExpired(balloonInterval))) {
        showBalloon(QStringLiteral("Quelvane Monitor"), message);
        sinceBalloon.start();
    }
    if (inError != shownError) {
        setToolTip(inError ? message : QString());
        setIcon(inError ? alarmIcon : okIcon);
    }
    shownError = inError;
}

void SysTray::showBalloon(const QString& title, const QString& message)
{
    showMessage(title, message, QSystemTrayIcon::Warning, 0);
}
