#include "app/MainWindow.h"

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
}
