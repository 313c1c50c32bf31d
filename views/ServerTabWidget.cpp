#include "views/ServerTabWidget.h"

#include "dialogs/EditserverDialog.h"
#include "monitor/ServerManager.h"
#include "views/RowSizeCacheDelegate.h"
#include "views/ServerTreeItem.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

ServerTabWidget::ServerTabWidget(QWidget* parent)
    : QWidget(parent), model(new QStandardItemModel(this)), serverManager(ServerManager::instance())
{
}

void ServerTabWidget::setupUi()
{
    QFont font;
    font.setPointSize(10);

    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setSpacing(6);
    mainLayout->setObjectName(QStringLiteral("mainLayout"));

    treeView = new QTreeView(this);
    treeView->setFont(font);
    treeView->setObjectName(QStringLiteral("serverTreeView"));
    treeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeView->setProperty("showDropIndicator", QVariant(true));
    treeView->setIconSize(QSize(32, 32));
    treeView->setItemsExpandable(true);
    treeView->header()->setVisible(false);
    treeView->setItemDelegate(new RowSizeCacheDelegate(treeView));
    treeView->setModel(model);

    mainLayout->addWidget(treeView);

    connect(serverManager, &ServerManager::serverRemoved, this, &ServerTabWidget::onServerRemoved);

    setupContextMenu();
}

void ServerTabWidget::setupContextMenu()
{
    contextMenu = new QMenu(treeView);

    editServerAction = new QAction(tr("Edit server"), contextMenu);
    contextMenu->addAction(editServerAction);
    connect(editServerAction, &QAction::triggered, this, &ServerTabWidget::onEditServer);

    deleteServerAction = new QAction(tr("Delete server"), contextMenu);
    contextMenu->addAction(deleteServerAction);
    connect(deleteServerAction, &QAction::triggered, this, &ServerTabWidget::onDeleteServer);
}

void ServerTabWidget::onServerRemoved(std::shared_ptr<Server> server)
{
    for (int row = 0; row < model->rowCount(); ++row) {
        auto* item = dynamic_cast<ServerTreeItem*>(model->item(row, 0));
        if (item && item->server == server) {
            model->removeRow(row);
            return;
        }
    }
}

QStandardItem* ServerTabWidget::currentItem()
{
    const QModelIndex index = treeView->selectionModel()->currentIndex();
    return index.isValid() ? model->itemFromIndex(index) : nullptr;
}

void ServerTabWidget::onEditServer()
{
    auto* item = dynamic_cast<ServerTreeItem*>(currentItem());
    if (item) {
        EditserverDialog::editServer(this, item->server);
    }
}

void ServerTabWidget::onDeleteServer()
{
    auto* item = dynamic_cast<ServerTreeItem*>(currentItem());
    if (item) {
        serverManager->removeServer(item->server);
    }
}

void ServerTabWidget::contextMenuEvent(QContextMenuEvent* event)
{
    editServerAction->setVisible(false);
    deleteServerAction->setVisible(false);

    QStandardItem* item = selectItemAt(event->globalPos());
    if (item && item->type() == ServerTreeItem::Type) {
        editServerAction->setVisible(true);
        deleteServerAction->setVisible(true);
    }

    contextMenu->exec(event->globalPos());
}

QStandardItem* ServerTabWidget::selectItemAt(const QPoint& globalPos)
{
    const QModelIndex index = treeView->indexAt(treeView->viewport()->mapFromGlobal(globalPos));
    QStandardItem* item = model->itemFromIndex(index);
    if (!item || !item->flags().testFlag(Qt::ItemIsSelectable)) {
        return nullptr;
    }
    treeView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    return item;
}
