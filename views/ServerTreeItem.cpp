#include "views/ServerTreeItem.h"

#include <utility>

ServerTreeItem::ServerTreeItem(std::shared_ptr<Server> server) : TreeItem(), server(std::move(server)) {}

ServerTreeItem::~ServerTreeItem() = default;

int ServerTreeItem::type() const
{
    return Type;
}
