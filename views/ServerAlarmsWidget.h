#pragma once

#include "views/ServerTabWidget.h"

#include <QHash>
#include <memory>

class NotificationTreeItem;

// The Alarms page: server rows with their alarm categories, and the one error state of all servers.
class ServerAlarmsWidget : public ServerTabWidget
{
    Q_OBJECT

public:
    explicit ServerAlarmsWidget(QWidget* parent = nullptr);

    void onServerAdded(std::shared_ptr<Server> server);
    // Only the row whose data changed can have changed its state: no pass over every server.
    void updateErrorState(const QModelIndex& changed);
    void onIgnoreNotifications();
    void onUnignoreNotifications();
    bool inError() const { return !rowsInAlarm.isEmpty(); }

    // Kept by the main window: whether the Alarms tab title is currently shown red.
    bool tabHighlighted;

signals:
    void errorStateChanged(bool inError);
    // A server or category that was in order is in alarm now; comes before its errorStateChanged(true).
    void alarmRaised();

protected:
    void setupUi() override;
    void setupAlarmsMenu();
    void contextMenuEvent(QContextMenuEvent* event) override;

    QAction* ignoreAction = nullptr;
    QAction* unignoreAction = nullptr;

private:
    NotificationTreeItem* currentCategory();

    // The server rows not in order as of their last data change, with their categories in alarm.
    QHash<const QStandardItem*, int> rowsInAlarm;
};
