#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

class ConfigManager;
class ExtActionsDialog;
class HistoryWindow;
class QAction;
class QMenu;
class QMessageBox;
class QTabWidget;
class ServerAlarmsWidget;
class ServerInfoWidget;
class SysTray;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Started with the session: the window stays hidden unless no tray has come after trayWait ms.
    void startInTray(int trayWait = 5000);
    // Shown, restored and brought to the front: from the tray, a notification, or a second start.
    void restoreWindow();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The icon, its menu and its connections; made once there is a tray to hold it.
    void setUpTray();
    void readStartAtLogin();
    // Whether the icon is in a tray now, so that the window can go there.
    bool trayShown() const;
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void setStartAtLogin(bool enabled);
    // One warning however many saves fail before the user answers it; "Retry" saves again.
    void showSaveFailure(const QString& path, const QString& reason);
    // Whether a keyring answers, shown on the menus' entry.
    void askKeyring();
    void showKeyringFailure(const QString& server, const QString& reason);
    void showHistory();

    ConfigManager* config = nullptr;
    SysTray* sysTray = nullptr;
    ExtActionsDialog* extActionsDialog = nullptr;
    ServerAlarmsWidget* alarmsWidget;
    ServerInfoWidget* infoWidget;
    QTabWidget* tabWidget;
    QMenu* serversMenu;
    QAction* addServerAction;
    QAction* extActionsAction;
    QAction* startAtLoginAction;
    QAction* keyringAction;
    QAction* historyAction;
    HistoryWindow* historyWindow = nullptr;
    QMessageBox* saveWarning = nullptr;
    QMessageBox* keyringWarning = nullptr;
};
