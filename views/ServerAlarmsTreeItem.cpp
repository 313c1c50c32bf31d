#include "views/ServerAlarmsTreeItem.h"

#include <QIcon>
#include <utility>

namespace {
QString healthyIcon(bool ok)
{
    return ok ? QStringLiteral(":icons/server-ok") : QStringLiteral(":icons/server-nok");
}
} // namespace

ServerAlarmsTreeItem::ServerAlarmsTreeItem(std::shared_ptr<Server> server) : ServerTreeItem(std::move(server))
{
    connect(this->server.get(), &Server::alarmsUpdated, this, &ServerAlarmsTreeItem::refresh);
}

ServerAlarmsTreeItem::~ServerAlarmsTreeItem() = default;

QVariant ServerAlarmsTreeItem::data(int role) const
{
    return serverData(role, server->alarmsError, healthyIcon(ok));
}

QString ServerAlarmsTreeItem::connectingText() const
{
    return tr("Connecting...");
}

QString ServerAlarmsTreeItem::iconPath() const
{
    return statusIconPath(server->alarmsError, healthyIcon(ok));
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
        announceChange();
        return;
    }
    if (!server->initialized) {
        announceChange();
        return;
    }
    if (!recorderItem) {
        recorderItem =
            addCategory(tr("Recorder"), &server->recorderErrors, server->recorderIgnoreUntil, RecorderCategory);
    }
    if (!camerasItem) {
        camerasItem = addCategory(tr("Cameras"), &server->camerasErrors, server->camerasIgnoreUntil, CamerasCategory);
    }
    if (!hardwareItem) {
        hardwareItem =
            addCategory(tr("Hardware"), &server->hardwareErrors, server->hardwareIgnoreUntil, HardwareCategory);
    }
    recorderItem->refresh();
    camerasItem->refresh();
    hardwareItem->refresh();
    updateOk();
    announceChange();
}

void ServerAlarmsTreeItem::announceChange()
{
    // A row that looks as before is not announced: the view neither measures nor repaints it.
    const QString look =
        server->name + QLatin1Char('\n') + iconPath() + QLatin1Char('\n') + data(Qt::ToolTipRole).toString();
    if (look != shownLook) {
        shownLook = look;
        emitDataChanged();
    }
}

void ServerAlarmsTreeItem::updateOk()
{
    const auto inAlarm = [](const NotificationTreeItem* item, bool categoryOk) {
        return item && !item->isIgnored() && !categoryOk;
    };
    alarms = (inAlarm(recorderItem, server->recorderOk()) ? 1 : 0) |
             (inAlarm(camerasItem, server->camerasOk()) ? 2 : 0) |
             (inAlarm(hardwareItem, server->hardwareOk()) ? 4 : 0);
    ok = alarms == 0;
}

NotificationTreeItem* ServerAlarmsTreeItem::addCategory(const QString& text, QStringList* messages,
                                                        QDateTime& ignoreUntil, NotificationCategory category)
{
    auto* item = new NotificationTreeItem(text, messages, ignoreUntil);
    item->category = category;
    appendChild(item);
    return item;
}
