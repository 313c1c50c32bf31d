#pragma once

#include "views/NotificationTreeItem.h"
#include "views/ServerTreeItem.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

// A server's row in the Alarms tree, with its Recorder, Cameras and Hardware category rows below it.
class ServerAlarmsTreeItem : public ServerTreeItem
{
    Q_DECLARE_TR_FUNCTIONS(ServerAlarmsTreeItem)

public:
    explicit ServerAlarmsTreeItem(std::shared_ptr<Server> server);
    ~ServerAlarmsTreeItem() override;

    QVariant data(int role = Qt::UserRole + 1) const override;

    void refresh();
    void updateOk();
    QString iconPath() const;
    // Whether the user silences the whole server now.
    bool silenced() const;
    // "Name: reason" while the row is in alarm, for the user told what needs attention; empty otherwise.
    QString attentionLine() const;

    // Non-owning: the category rows are children of this row.
    NotificationTreeItem* recorderItem = nullptr;
    NotificationTreeItem* camerasItem = nullptr;
    NotificationTreeItem* hardwareItem = nullptr;
    bool ok = true;
    // One bit per category in alarm and not ignored, and one while the server cannot be watched; 0 when ok.
    enum Alarm
    {
        RecorderAlarm = 1,
        CamerasAlarm = 2,
        HardwareAlarm = 4,
        CategoryAlarms = RecorderAlarm | CamerasAlarm | HardwareAlarm,
        UnreachableAlarm = 8,
    };
    int alarms = 0;

protected:
    QString connectingText() const override;
    bool waiting() const override;

private:
    // The last failure, or while it logs in again the one that made the server unreachable.
    QString shownError() const;
    void refreshCategories();
    void announceChange();
    NotificationTreeItem* addCategory(const QString& text, QStringList* messages, QDateTime& ignoreUntil,
                                      NotificationCategory category);

    QString shownLook;
};
