#include "app/MainWindow.h"

#include "app/config/ConfigManager.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionsDialog.h"
#include "monitor/ServerManager.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    tabWidget = new QTabWidget(this);
    tabWidget->setTabPosition(QTabWidget::South);

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

    config = ConfigManager::instance();
    // The monitor cannot reach the configuration file itself; removing a server saves through this.
    ServerManager::instance()->setSaveHandler([] { ConfigManager::instance()->save(); });

    extActionsDialog = new ExtActionsDialog(this);

    // Last, so the dialog is already connected and lists every stored script.
    config->load();
}
