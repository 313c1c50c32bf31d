#include "app/MainWindow.h"

#include "app/AutostartEntry.h"
#include "app/config/ConfigManager.h"
#include "app/config/Keyring.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionsDialog.h"
#include "history/AlarmHistory.h"
#include "monitor/ServerManager.h"
#include "notify/SysTray.h"
#include "notify/TrayHostWatcher.h"
#include "views/AlarmScriptLauncher.h"
#include "views/HistoryWindow.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoWidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    // The program lives in the tray: closing a warning or a dialog while the window is hidden there must
    // not end it. It ends through "Quit", or when the window is closed with no tray to go to.
    QApplication::setQuitOnLastWindowClosed(false);
    alarmsWidget = new ServerAlarmsWidget();
    alarmsWidget->setObjectName(QStringLiteral("ServerAlarmsWidget"));
    // Starts the user's scripts whenever the overall state turns to alarm; owned by the page.
    new AlarmScriptLauncher(alarmsWidget);
    infoWidget = new ServerInfoWidget();

    tabWidget = new QTabWidget(this);
    tabWidget->setTabPosition(QTabWidget::South);
    tabWidget->addTab(alarmsWidget, tr("Alarms"));
    tabWidget->addTab(infoWidget, tr("Information"));

    // The Alarms title turns red on an error seen elsewhere and stays red until the user looks at it.
    connect(tabWidget, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == tabWidget->indexOf(alarmsWidget)) {
            alarmsWidget->tabHighlighted = false;
            tabWidget->setStyleSheet(QString());
        }
    });
    connect(alarmsWidget, &ServerAlarmsWidget::errorStateChanged, this, [this](bool inError) {
        if (tabWidget->currentWidget() != alarmsWidget && !alarmsWidget->tabHighlighted && inError) {
            alarmsWidget->tabHighlighted = true;
            tabWidget->setStyleSheet(QStringLiteral("QTabBar::tab:first {color: #F00;}"));
        }
    });

    setCentralWidget(tabWidget);

    setWindowTitle(tr("Quelvane Monitor"));
    setWindowModality(Qt::NonModal);
    resize(497, 321);

    serversMenu = menuBar()->addMenu(tr("Servers"));
    addServerAction = new QAction(tr("Add server"), serversMenu);
    connect(addServerAction, &QAction::triggered, this, [this] { EditserverDialog::newServer(this); });
    serversMenu->addAction(addServerAction);
    extActionsAction = new QAction(tr("Scripts on alarms"), serversMenu);
    connect(extActionsAction, &QAction::triggered, this, [this] { extActionsDialog->open(); });
    serversMenu->addAction(extActionsAction);
    historyAction = new QAction(tr("History"), this);
    connect(historyAction, &QAction::triggered, this, &MainWindow::showHistory);
    serversMenu->addAction(historyAction);

    config = ConfigManager::instance();
    // The monitor cannot reach the configuration file itself; removing a server saves through this.
    ServerManager::instance()->setSaveHandler([] { ConfigManager::instance()->save(); });
    config->setSaveFailedHandler([window = QPointer<MainWindow>(this)](const QString& path, const QString& reason) {
        if (window)
            window->showSaveFailure(path, reason);
    });

    // One action in both menus, so that both show the same state.
    startAtLoginAction = new QAction(tr("Start at login"), this);
    startAtLoginAction->setObjectName(QStringLiteral("startAtLogin"));
    startAtLoginAction->setCheckable(true);
    readStartAtLogin();
    connect(startAtLoginAction, &QAction::triggered, this, &MainWindow::setStartAtLogin);
    serversMenu->addSeparator();
    serversMenu->addAction(startAtLoginAction);
    // The entry is the user's as much as ours: what it says when a menu opens is what the menu shows.
    connect(serversMenu, &QMenu::aboutToShow, this, &MainWindow::readStartAtLogin);

    keyringAction = new QAction(tr("Keep passwords in the desktop keyring"), this);
    keyringAction->setObjectName(QStringLiteral("passwordsInKeyring"));
    keyringAction->setCheckable(true);
    connect(keyringAction, &QAction::triggered, this, [this](bool inKeyring) {
        config->setPasswordsInKeyring(inKeyring);
        keyringAction->setChecked(config->passwordsInKeyring());
    });
    serversMenu->addAction(keyringAction);
    serversMenu->setToolTipsVisible(true);
    connect(serversMenu, &QMenu::aboutToShow, this, &MainWindow::askKeyring);
    config->setKeyringFailedHandler(
        [window = QPointer<MainWindow>(this)](const QString& server, const QString& reason) {
            if (window)
                window->showKeyringFailure(server, reason);
        });

    extActionsDialog = new ExtActionsDialog(this);

    if (TrayHostWatcher::mayWait()) {
        auto* hostWatcher = new TrayHostWatcher(this, 10000);
        connect(hostWatcher, &TrayHostWatcher::waitOver, this, [this, hostWatcher] {
            hostWatcher->deleteLater();
            setUpTray();
            sysTray->setAttention(alarmsWidget->attention());
            sysTray->setError(alarmsWidget->inError());
        });
    } else {
        setUpTray();
    }

    // Beside the configuration, following every server from the first one loaded.
    AlarmHistory* history = AlarmHistory::instance();
    history->open(config->configDir().absoluteFilePath(QStringLiteral("history.sqlite")));
    history->follow(ServerManager::instance());

    // Last, so the dialog and the tray are already connected and see every stored script and server.
    config->load();
    keyringAction->setChecked(config->passwordsInKeyring());
}

void MainWindow::askKeyring()
{
    // Only when a menu shows the entry: asking may start the desktop's wallet, which can ask the user to
    // open it, and nobody should meet that at every start for a choice they never made.
    Keyring::instance()->probe([action = QPointer<QAction>(keyringAction)](const QString& error) {
        if (!action)
            return;
        // Passwords kept there can always be brought back.
        action->setEnabled(error.isEmpty() || action->isChecked());
        action->setToolTip(error.isEmpty() ? QString() : tr("No desktop keyring answers: %1").arg(error));
    });
}

void MainWindow::showKeyringFailure(const QString& server, const QString& reason)
{
    if (!keyringWarning) {
        keyringWarning =
            new QMessageBox(QMessageBox::Warning, tr("Quelvane Monitor"), QString(), QMessageBox::Close, this);
        keyringWarning->setWindowModality(Qt::NonModal);
        keyringWarning->setObjectName(QStringLiteral("keyringWarning"));
    }
    // Several servers may fail in one go: each is named while the warning shows.
    const QString line = tr("The password of \"%1\" could not be stored in the desktop keyring: %2").arg(server, reason);
    keyringWarning->setText(keyringWarning->isVisible() ? keyringWarning->text() + QLatin1Char('\n') + line : line);
    keyringWarning->setInformativeText(tr("It stays in the configuration file."));
    keyringWarning->show();
    keyringWarning->raise();
}

void MainWindow::setUpTray()
{
    sysTray = new SysTray(this);
    connect(sysTray, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    connect(sysTray, &QSystemTrayIcon::messageClicked, this, &MainWindow::restoreWindow);
    connect(sysTray, &SysTray::notificationClicked, this, &MainWindow::restoreWindow);
    connect(alarmsWidget, &ServerAlarmsWidget::alarmRaised, sysTray, &SysTray::alarmRaised);
    connect(alarmsWidget, &ServerAlarmsWidget::attentionChanged, sysTray, &SysTray::setAttention);
    connect(alarmsWidget, &ServerAlarmsWidget::errorStateChanged, sysTray, &SysTray::setError);
    QMenu* trayMenu = sysTray->contextMenu();
    QAction* quit = trayMenu->actions().value(0);
    trayMenu->insertAction(quit, historyAction);
    trayMenu->insertAction(quit, startAtLoginAction);
    trayMenu->insertAction(quit, keyringAction);
    trayMenu->setToolTipsVisible(true);
    connect(trayMenu, &QMenu::aboutToShow, this, &MainWindow::askKeyring);
    trayMenu->insertSeparator(quit);
    connect(trayMenu, &QMenu::aboutToShow, this, &MainWindow::readStartAtLogin);
}

void MainWindow::showHistory()
{
    if (!historyWindow)
        historyWindow = new HistoryWindow(AlarmHistory::instance(), this);
    historyWindow->reload();
    historyWindow->show();
    historyWindow->raise();
    historyWindow->activateWindow();
}

void MainWindow::readStartAtLogin()
{
    startAtLoginAction->setChecked(AutostartEntry::isEnabled());
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        restoreWindow();
        break;
    case QSystemTrayIcon::Context:
        sysTray->contextMenu()->show();
        break;
    default:
        break;
    }
}

bool MainWindow::trayShown() const
{
    // Asked each time: the desktop's tray may come or go while the program runs.
    return sysTray && sysTray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::startInTray(int trayWait)
{
    // The window is the only way in when no tray has come by then.
    QTimer::singleShot(trayWait, this, [this] {
        if (!trayShown())
            restoreWindow();
    });
}

void MainWindow::setStartAtLogin(bool enabled)
{
    QString reason;
    if (AutostartEntry::setEnabled(enabled, &reason))
        return;
    startAtLoginAction->setChecked(!enabled);
    auto* warning = new QMessageBox(
        QMessageBox::Warning, tr("Quelvane Monitor"),
        tr("The start at login could not be changed in \"%1\": %2").arg(AutostartEntry::location(), reason),
        QMessageBox::Close, this);
    warning->setObjectName(QStringLiteral("startAtLoginWarning"));
    warning->setAttribute(Qt::WA_DeleteOnClose);
    warning->setWindowModality(Qt::NonModal);
    warning->show();
}

void MainWindow::restoreWindow()
{
    if (!isVisible()) {
        setVisible(true);
    }
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
}

void MainWindow::showSaveFailure(const QString& path, const QString& reason)
{
    if (!saveWarning) {
        saveWarning = new QMessageBox(QMessageBox::Warning, tr("Quelvane Monitor"), QString(),
                                      QMessageBox::Retry | QMessageBox::Close, this);
        saveWarning->setWindowModality(Qt::NonModal);
        saveWarning->setObjectName(QStringLiteral("saveWarning"));
        connect(saveWarning, &QDialog::finished, this, [](int button) {
            if (button == QMessageBox::Retry)
                ConfigManager::instance()->save();
        });
    }
    saveWarning->setText(tr("The servers and scripts could not be saved to \"%1\": %2").arg(path, reason));
    saveWarning->setInformativeText(
        tr("Your changes are kept while the program runs and written by the next save that succeeds."));
    saveWarning->show();
    saveWarning->raise();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // With a tray icon shown the window only goes to the tray; "Quit" there ends the program.
    if (trayShown()) {
        setVisible(false);
        event->ignore();
    } else {
        event->accept();
        QCoreApplication::quit();
    }
}
