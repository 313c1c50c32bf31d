#pragma once

#include "monitor/Server.h"
#include "views/TreeItem.h"

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
};
