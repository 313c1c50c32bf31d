#pragma once

#include <QMainWindow>

class ConfigManager;
class ExtActionsDialog;
class QAction;
class QMenu;
class QTabWidget;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

private:
    ConfigManager* config = nullptr;
    ExtActionsDialog* extActionsDialog = nullptr;
    QTabWidget* tabWidget;
    QMenu* serversMenu;
    QAction* addServerAction;
    QAction* extActionsAction;
};
