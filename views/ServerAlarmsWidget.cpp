#include "views/ServerAlarmsWidget.h"

#include "dialogs/IgnoreNotificationDialog.h"
#include "monitor/ServerManager.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>

ServerAlarmsWidget::ServerAlarmsWidget(QWidget* parent) : ServerTabWidget(parent), tabHighlighted(false)
{
    setupUi();
}

void ServerAlarmsWidget::setupUi()
{
    ServerTabWidget::setupUi();
    connect(serverManager, &ServerManager::serverAdded, this, &ServerAlarmsWidget::onServerAdded);
    connect(model, &QAbstractItemModel::dataChanged, this, &ServerAlarmsWidget::updateErrorState);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row)
                    rowsInAlarm.remove(model->item(row, 0));
            });
    // A removed server reports nothing more: without this the page would stay in alarm for its sake.
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
        if (!parent.isValid())
            emit errorStateChanged(!rowsInAlarm.isEmpty());
    });
    setupAlarmsMenu();
}

void ServerAlarmsWidget::setupAlarmsMenu()
{
    ignoreAction = new QAction(tr("Ignore notifications"), contextMenu);
    contextMenu->addAction(ignoreAction);
    connect(ignoreAction, &QAction::triggered, this, &ServerAlarmsWidget::onIgnoreNotifications);

    unignoreAction = new QAction(tr("Unignore notifications"), contextMenu);
    contextMenu->addAction(unignoreAction);
    connect(unignoreAction, &QAction::triggered, this, &ServerAlarmsWidget::onUnignoreNotifications);
}

void ServerAlarmsWidget::onServerAdded(std::shared_ptr<Server> server)
{
    auto* row = new ServerAlarmsTreeItem(server);
    model->insertRow(model->rowCount(), row);
    // Connected after the row's own refresh: a report that changes nothing on screen changes no data, yet
    // the page gives its state after every one.
    connect(server.get(), &Server::alarmsUpdated, row, [this, row] { updateErrorState(row->index()); });
}

void ServerAlarmsWidget::updateErrorState(const QModelIndex& changed)
{
    if (!changed.parent().isValid()) {
        auto* item = dynamic_cast<ServerAlarmsTreeItem*>(model->itemFromIndex(changed));
        const int before = rowsInAlarm.value(item);
        const int now = item ? item->alarms : 0;
        if (now != 0)
            rowsInAlarm.insert(item, now);
        else
            rowsInAlarm.remove(item);
        if ((now & ~before) != 0)
            emit alarmRaised();
    }
    emit errorStateChanged(!rowsInAlarm.isEmpty());
}

void ServerAlarmsWidget::contextMenuEvent(QContextMenuEvent* event)
{
    editServerAction->setVisible(false);
    deleteServerAction->setVisible(false);
    ignoreAction->setVisible(false);
    unignoreAction->setVisible(false);

    QStandardItem* item = selectItemAt(event->globalPos());
    if (item && item->type() == ServerTreeItem::Type) {
        editServerAction->setVisible(true);
        deleteServerAction->setVisible(true);
    } else if (item && item->type() == NotificationTreeItem::Type) {
        const bool ignored = dynamic_cast<NotificationTreeItem*>(item)->isIgnored();
        ignoreAction->setVisible(!ignored);
        unignoreAction->setVisible(ignored);
    }

    contextMenu->exec(event->globalPos());
}

NotificationTreeItem* ServerAlarmsWidget::currentCategory()
{
    auto* category = dynamic_cast<NotificationTreeItem*>(currentItem());
    if (!category || !dynamic_cast<ServerTreeItem*>(category->QStandardItem::parent())) {
        return nullptr;
    }
    return category;
}

void ServerAlarmsWidget::onIgnoreNotifications()
{
    NotificationTreeItem* category = currentCategory();
    if (!category) {
        return;
    }
    // The dialog's loop goes on polling, and a failed poll deletes the category rows: hold the server and
    // its own ignore time, never the row, across it.
    const std::shared_ptr<Server> server = static_cast<ServerTreeItem*>(category->QStandardItem::parent())->server;
    QDateTime& ignoreUntil = category->ignoreUntil;
    ignoreUntil = IgnoreNotificationDialog::askIgnoreUntil(this, server);
}

void ServerAlarmsWidget::onUnignoreNotifications()
{
    NotificationTreeItem* category = currentCategory();
    if (category) {
        category->ignoreUntil = QDateTime::currentDateTime();
        serverManager->refreshAlarms(static_cast<ServerTreeItem*>(category->QStandardItem::parent())->server);
    }
}
