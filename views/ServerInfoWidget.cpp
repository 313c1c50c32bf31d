#include "views/ServerInfoWidget.h"

#include "monitor/ServerManager.h"
#include "views/ServerInfoTreeItem.h"

#include <QStandardItemModel>

ServerInfoWidget::ServerInfoWidget(QWidget* parent) : ServerTabWidget(parent)
{
    setupUi();
}

void ServerInfoWidget::setupUi()
{
    ServerTabWidget::setupUi();
    connect(serverManager, &ServerManager::serverAdded, this, &ServerInfoWidget::onServerAdded);
}

void ServerInfoWidget::onServerAdded(std::shared_ptr<Server> server)
{
    model->insertRow(model->rowCount(), new ServerInfoTreeItem(server, treeView));
}
