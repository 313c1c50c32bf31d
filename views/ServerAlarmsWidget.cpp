#include "views/ServerAlarmsWidget.h"

#include "dialogs/IgnoreNotificationDialog.h"
#include "history/AlarmHistory.h"
#include "monitor/ServerManager.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QMenu>
#include <QStandardItemModel>
#include <QHelpEvent>
#include <QToolTip>
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
    treeView->viewport()->installEventFilter(this);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row)
                    rowsInAlarm.remove(model->item(row, 0));
            });
    // A removed server reports nothing more: without this the page would stay in alarm for its sake.
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
        if (parent.isValid())
            return;
        updateAttention();
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

namespace {

QString categoryName(NotificationCategory category)
{
    switch (category) {
    case RecorderCategory:
        return QStringLiteral("recorder");
    case CamerasCategory:
        return QStringLiteral("cameras");
    case HardwareCategory:
        return QStringLiteral("hardware");
    }
    return QString();
}

} // namespace

bool ServerAlarmsWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != treeView->viewport() || event->type() != QEvent::ToolTip)
        return ServerTabWidget::eventFilter(watched, event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = treeView->indexAt(help->pos());
    QString text = index.data(Qt::ToolTipRole).toString();
    const QString since = sinceText(index);
    if (!since.isEmpty())
        text = text.isEmpty() ? since : text + QLatin1Char('\n') + since;
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, treeView->viewport(), treeView->visualRect(index));
    return true;
}

QString ServerAlarmsWidget::sinceText(const QModelIndex& index) const
{
    QStandardItem* item = model->itemFromIndex(index);
    if (!item)
        return QString();
    const AlarmHistory* history = AlarmHistory::instance();
    QDateTime began;
    if (const auto* row = dynamic_cast<const ServerAlarmsTreeItem*>(item)) {
        if (!row->server->unreachable.isEmpty())
            began = history->since(*row->server, HistoryEvent::Unreachable);
    } else if (const auto* category = dynamic_cast<const NotificationTreeItem*>(item)) {
        if (const auto* row = dynamic_cast<const ServerAlarmsTreeItem*>(category->QStandardItem::parent()))
            began = history->since(*row->server, HistoryEvent::Category, categoryName(category->category));
    } else if (const auto* category = dynamic_cast<const NotificationTreeItem*>(item->parent())) {
        if (const auto* row = dynamic_cast<const ServerAlarmsTreeItem*>(category->QStandardItem::parent()))
            began = history->since(*row->server, HistoryEvent::Line, categoryName(category->category), item->text());
    }
    return began.isValid() ? history->sinceText(began) : QString();
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
        const Attention before = rowsInAlarm.value(item);
        Attention now;
        if (item && item->alarms != 0)
            now = {item->alarms, item->attentionLine()};
        if (now.alarms != 0)
            rowsInAlarm.insert(item, now);
        else
            rowsInAlarm.remove(item);
        if ((now.alarms & ~before.alarms) != 0)
            emit alarmRaised();
        if (now.line != before.line)
            updateAttention();
    }
    emit errorStateChanged(!rowsInAlarm.isEmpty());
}

void ServerAlarmsWidget::updateAttention()
{
    const QStringList lines = attention();
    if (lines != attentionShown) {
        attentionShown = lines;
        emit attentionChanged(lines);
    }
}

QStringList ServerAlarmsWidget::attention() const
{
    QStringList lines;
    for (int row = 0; row < model->rowCount() && lines.size() < maxAttentionLines; ++row) {
        const auto found = rowsInAlarm.constFind(model->item(row, 0));
        if (found != rowsInAlarm.constEnd())
            lines << found->line;
    }
    const int more = int(rowsInAlarm.size()) - int(lines.size());
    if (more > 0)
        lines << tr("and %n more", nullptr, more);
    return lines;
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
        const bool silenced = static_cast<ServerAlarmsTreeItem*>(item)->silenced();
        ignoreAction->setVisible(!silenced);
        unignoreAction->setVisible(silenced);
    } else if (item && item->type() == NotificationTreeItem::Type) {
        // Under a silenced server only the category's own silence is the row's to end.
        const auto* category = static_cast<NotificationTreeItem*>(item);
        ignoreAction->setVisible(!category->isIgnored());
        unignoreAction->setVisible(NotificationTreeItem::silenceHolds(category->ignoreUntil));
    }

    contextMenu->exec(event->globalPos());
}

QDateTime* ServerAlarmsWidget::currentSilence(std::shared_ptr<Server>* server)
{
    QStandardItem* item = currentItem();
    if (auto* row = dynamic_cast<ServerAlarmsTreeItem*>(item)) {
        *server = row->server;
        return &row->server->ignoreUntil;
    }
    auto* category = dynamic_cast<NotificationTreeItem*>(item);
    auto* row = category ? dynamic_cast<ServerTreeItem*>(category->QStandardItem::parent()) : nullptr;
    if (!row)
        return nullptr;
    *server = row->server;
    // The category's time is kept on the server's record.
    return &category->ignoreUntil;
}

void ServerAlarmsWidget::onIgnoreNotifications()
{
    // The dialog's loop goes on polling, and a failed poll deletes the category rows: hold the server and
    // the ignore time on its record, never the row, across it.
    std::shared_ptr<Server> server;
    QDateTime* ignoreUntil = currentSilence(&server);
    if (ignoreUntil)
        *ignoreUntil = IgnoreNotificationDialog::askIgnoreUntil(this, server);
}

void ServerAlarmsWidget::onUnignoreNotifications()
{
    std::shared_ptr<Server> server;
    QDateTime* ignoreUntil = currentSilence(&server);
    if (ignoreUntil) {
        *ignoreUntil = QDateTime::currentDateTime();
        serverManager->refreshAlarms(server);
    }
}
