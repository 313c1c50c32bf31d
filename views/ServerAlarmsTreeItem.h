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

    // Non-owning: the category rows are children of this row.
    NotificationTreeItem* recorderItem = nullptr;
    NotificationTreeItem* camerasItem = nullptr;
    NotificationTreeItem* hardwareItem = nullptr;
    bool ok = true;
    // One bit per category in alarm and not ignored (recorder, cameras, hardware); 0 when ok.
    int alarms = 0;

protected:
    QString connectingText() const override;

private:
    void announceChange();
    NotificationTreeItem* addCategory(const QString& text, QStringList* messages, QDateTime& ignoreUntil,
                                      NotificationCategory category);

    QString shownLook;
};
