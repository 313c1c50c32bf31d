#pragma once

#include "views/ServerTabWidget.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <memory>

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
    // What needs attention, one "Name: reason" line per server in the order of the rows: at most
    // maxAttentionLines, then how many more.
    QStringList attention() const;
    static constexpr int maxAttentionLines = 5;

    // Kept by the main window: whether the Alarms tab title is currently shown red.
    bool tabHighlighted;

signals:
    void errorStateChanged(bool inError);
    // A server or category that was in order is in alarm now; comes before its errorStateChanged(true).
    void alarmRaised();
    // The lines of attention() changed; comes before the errorStateChanged of the same change.
    void attentionChanged(const QStringList& lines);

protected:
    void setupUi() override;
    void setupAlarmsMenu();
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Tooltips say since when what they show lasts, counted when they show.
    bool eventFilter(QObject* watched, QEvent* event) override;

    QAction* ignoreAction = nullptr;
    QAction* unignoreAction = nullptr;

private:
    struct Attention
    {
        int alarms = 0;
        QString line;
    };

    // The silence that the current row holds, on its server's record, and that server; null when the
    // current row is neither a server nor one of its categories.
    QDateTime* currentSilence(std::shared_ptr<Server>* server);
    void updateAttention();
    // "since 14:02, 2 h 13 min" for an alarm line, a category in alarm or a server that cannot be watched.
    QString sinceText(const QModelIndex& index) const;

    // The server rows not in order as of their last data change, with what is in alarm.
    QHash<const QStandardItem*, Attention> rowsInAlarm;
    QStringList attentionShown;
};
