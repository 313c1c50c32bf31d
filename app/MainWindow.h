#pragma once

#include <QMainWindow>

class QMenu;
class QTabWidget;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

private:
    QTabWidget* tabWidget;
    QMenu* serversMenu;
};
