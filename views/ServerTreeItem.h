#pragma once

#include "monitor/Server.h"
#include "views/TreeItem.h"

#include <QString>
#include <QVariant>
#include <memory>

// Base of the two server rows; shares ownership of the server so it outlives its rows' references.
class ServerTreeItem : public TreeItem
{
public:
    enum
    {
        Type = QStandardItem::UserType + 1
    };

    explicit ServerTreeItem(std::shared_ptr<Server> server);
    ~ServerTreeItem() override;

    int type() const override;

    std::shared_ptr<Server> server;

protected:
    // The roles both server rows answer alike. `error` is the failure of the row's own side of the
    // server, `healthyIcon` the icon shown when there is none.
    QVariant serverData(int role, const QString& error, const QString& healthyIcon) const;
    QString statusIconPath(const QString& error, const QString& healthyIcon) const;
    // "Connecting...", translated in the context of the row that shows it.
    virtual QString connectingText() const = 0;
    // Whether the row shows the waiting state rather than the server's last outcome.
    virtual bool waiting() const;
};
