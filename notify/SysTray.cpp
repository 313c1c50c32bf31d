#include "notify/SysTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QWidget>

SysTray::SysTray(QObject* parent) : QSystemTrayIcon(parent)
{
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
    setError(false);
    setVisible(true);
}

void SysTray::setError(bool inError)
{
    const QString title = QStringLiteral("Quelvane Monitor");
    const QString message = QCoreApplication::translate("Systray", "Some elements require your attention");
    if (inError) {
        showBalloon(title, message);
    }
    setToolTip(inError ? message : QString());
    setIcon(inError ? alarmIcon : okIcon);
}

void SysTray::showBalloon(const QString& title, const QString& message)
{
    showMessage(title, message, QSystemTrayIcon::Warning, 0);
}
