#include "views/ServerAlarmsTreeItem.h"

#include <QIcon>
#include <utility>

ServerAlarmsTreeItem::ServerAlarmsTreeItem(std::shared_ptr<Server> server) : ServerTreeItem(std::move(server))
{
    connect(this->server.get(), &Server::alarmsUpdated, this, &ServerAlarmsTreeItem::refresh);
}

ServerAlarmsTreeItem::~ServerAlarmsTreeItem() = default;

QVariant ServerAlarmsTreeItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return server->name;
    case Qt::DecorationRole:
        return QIcon(iconPath());
    case Qt::ToolTipRole:
        if (!server->initialized) {
            return TreeItem::tr("Connecting...");
        }
        if (!server->alarmsError.isEmpty()) {
            return server->alarmsError;
        }
        return QVariant();
    case Qt::UserRole - 1:
        // QStandardItem keeps the item flags under this role; without it flags() would fall back to editable.
        return QStandardItem::data(role);
    default:
        return QVariant();
    }
}

QString ServerAlarmsTreeItem::iconPath() const
{
    if (!server->initialized) {
        return QStringLiteral(":icons/server-wait");
    }
    if (!server->alarmsError.isEmpty()) {
        return QStringLiteral(":icons/forbidden");
    }
    return ok ? QStringLiteral(":icons/server-ok") : QStringLiteral(":icons/server-nok");
}

void ServerAlarmsTreeItem::refresh()
{
    if (!server->alarmsError.isEmpty()) {
        if (rowCount() > 0) {
            removeAllChildren();
            recorderItem = nullptr;
            camerasItem = nullptr;
            hardwareItem = nullptr;
        }
        emitDataChanged();
        return;
    }
    if (!server->initialized) {
        emitDataChanged();
        return;
    }
    if (!recorderItem) {
        recorderItem = addCategory(TreeItem::tr("Recorder"), &server->recorderErrors, RecorderCategory);
    }
    if (!camerasItem) {
        camerasItem = addCategory(TreeItem::tr("Cameras"), &server->camerasErrors, CamerasCategory);
    }
    if (!hardwareItem) {
        hardwareItem = addCategory(TreeItem::tr("Hardware"), &server->hardwareErrors, HardwareCategory);
    }
    recorderItem->refresh();
    camerasItem->refresh();
    hardwareItem->refresh();
    updateOk();
    emitDataChanged();
}

void ServerAlarmsTreeItem::updateOk()
{
    ok = !(camerasItem && !camerasItem->isIgnored() && !server->camerasOk()) &&
         !(hardwareItem && !hardwareItem->isIgnored() && !server->hardwareOk()) &&
         !(recorderItem && !recorderItem->isIgnored() && !server->recorderOk());
}

NotificationTreeItem* ServerAlarmsTreeItem::addCategory(const QString& text, QStringList* messages,
                                                        NotificationCategory category)
{
    auto* item = new NotificationTreeItem(text, messages);
    item->category = category;
    appendChild(item);
    return item;
}
