#include "views/ServerTreeItem.h"

#include <utility>

ServerTreeItem::ServerTreeItem(std::shared_ptr<Server> server) : TreeItem(), server(std::move(server)) {}

ServerTreeItem::~ServerTreeItem() = default;

int ServerTreeItem::type() const
{
    return Type;
}

bool ServerTreeItem::waiting() const
{
    return !server->initialized;
}

QVariant ServerTreeItem::serverData(int role, const QString& error, const QString& healthyIcon) const
{
    switch (role) {
    case Qt::DisplayRole:
        return server->name;
    case Qt::DecorationRole:
        return cachedIcon(statusIconPath(error, healthyIcon));
    case Qt::ToolTipRole:
        if (waiting()) {
            return connectingText();
        }
        if (!error.isEmpty()) {
            return error;
        }
        return QVariant();
    case Qt::UserRole - 1:
        // QStandardItem keeps the item flags under this role; without it flags() would fall back to editable.
        return QStandardItem::data(role);
    default:
        return QVariant();
    }
}

QString ServerTreeItem::statusIconPath(const QString& error, const QString& healthyIcon) const
{
    if (waiting()) {
        return QStringLiteral(":icons/server-wait");
    }
    if (!error.isEmpty()) {
        return QStringLiteral(":icons/forbidden");
    }
    return healthyIcon;
}
