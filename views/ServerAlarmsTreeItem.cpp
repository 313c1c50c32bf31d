#include "views/ServerAlarmsTreeItem.h"

#include <QIcon>
#include <QLocale>
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
    const QVariant value = serverData(role, shownError(), healthyIcon(ok));
    if (role != Qt::ToolTipRole || !silenced())
        return value;
    const QString silence =
        tr("Notifications ignored until %1").arg(QLocale().toString(server->ignoreUntil, QLocale::ShortFormat));
    return value.isValid() ? value.toString() + QLatin1Char('\n') + silence : silence;
}

bool ServerAlarmsTreeItem::silenced() const
{
    return NotificationTreeItem::silenceHolds(server->ignoreUntil);
}

QString ServerAlarmsTreeItem::attentionLine() const
{
    QStringList reasons;
    if (alarms & UnreachableAlarm) {
        switch (server->outage) {
        case Server::Outage::NoAnswer:
            reasons << tr("does not answer");
            break;
        case Server::Outage::Refused:
            reasons << tr("login refused");
            break;
        case Server::Outage::Failing:
            reasons << tr("in error");
            break;
        }
    } else {
        if (alarms & RecorderAlarm)
            reasons << tr("Recorder");
        if (alarms & CamerasAlarm)
            reasons << tr("Cameras");
        if (alarms & HardwareAlarm)
            reasons << tr("Hardware");
    }
    return reasons.isEmpty() ? QString() : tr("%1: %2").arg(server->name, reasons.join(QStringLiteral(", ")));
}

QString ServerAlarmsTreeItem::connectingText() const
{
    return tr("Connecting...");
}

QString ServerAlarmsTreeItem::iconPath() const
{
    return statusIconPath(shownError(), healthyIcon(ok));
}

bool ServerAlarmsTreeItem::waiting() const
{
    // A server that cannot be watched keeps showing why while it tries to log in again.
    return ServerTreeItem::waiting() && server->unreachable.isEmpty();
}

QString ServerAlarmsTreeItem::shownError() const
{
    return server->alarmsError.isEmpty() ? server->unreachable : server->alarmsError;
}

void ServerAlarmsTreeItem::refresh()
{
    // Only a good report tells the categories anew; a failure or a new authentication keeps what the
    // last one said.
    int categories = alarms & CategoryAlarms;
    if (!server->alarmsError.isEmpty()) {
        if (rowCount() > 0) {
            removeAllChildren();
            recorderItem = nullptr;
            camerasItem = nullptr;
            hardwareItem = nullptr;
        }
    } else if (server->initialized) {
        refreshCategories();
        updateOk();
        categories = alarms;
    }
    const bool silent = silenced();
    alarms = (silent ? 0 : categories) | (server->unreachable.isEmpty() || silent ? 0 : UnreachableAlarm);
    ok = alarms == 0;
    announceChange();
}

void ServerAlarmsTreeItem::refreshCategories()
{
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
    alarms = (inAlarm(recorderItem, server->recorderOk()) ? RecorderAlarm : 0) |
             (inAlarm(camerasItem, server->camerasOk()) ? CamerasAlarm : 0) |
             (inAlarm(hardwareItem, server->hardwareOk()) ? HardwareAlarm : 0);
    ok = alarms == 0;
}

NotificationTreeItem* ServerAlarmsTreeItem::addCategory(const QString& text, QStringList* messages,
                                                        QDateTime& ignoreUntil, NotificationCategory category)
{
    auto* item = new NotificationTreeItem(text, messages, ignoreUntil, server->ignoreUntil);
    item->category = category;
    appendChild(item);
    return item;
}
