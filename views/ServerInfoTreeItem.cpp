#include "views/ServerInfoTreeItem.h"

#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QDate>
#include <QIcon>
#include <QStandardItemModel>
#include <QTreeView>
#include <utility>

const QHash<QString, const char*> ServerInfoTreeItem::licenseLabels = {
    {QStringLiteral("active_modules"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Active modules")},
    {QStringLiteral("build"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Build")},
    {QStringLiteral("license_expiration_date"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "License expiration date")},
    {QStringLiteral("upgrade_expiration_date"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Upgrade expiration date")},
    {QStringLiteral("hardware_id"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Hardware ID")},
    {QStringLiteral("current_video_sources"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Current video sources")},
    {QStringLiteral("max_video_sources"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Max video sources")},
    {QStringLiteral("current_metadata_sources"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Current metadata sources")},
    {QStringLiteral("max_metadata_sources"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Max metadata sources")},
    {QStringLiteral("serial_number"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Serial number")},
    {QStringLiteral("max_screens"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Max passive screens")},
    {QStringLiteral("version"), QT_TRANSLATE_NOOP("ServerInfoTreeItem", "Version")},
};

ServerInfoTreeItem::ServerInfoTreeItem(std::shared_ptr<Server> server, QTreeView* view)
    : ServerTreeItem(std::move(server)), treeView(view)
{
    connect(this->server.get(), &Server::infoUpdated, this, &ServerInfoTreeItem::refresh);
}

ServerInfoTreeItem::~ServerInfoTreeItem() = default;

QVariant ServerInfoTreeItem::data(int role) const
{
    return serverData(role, server->infoError, QStringLiteral(":icons/server-ok"));
}

QString ServerInfoTreeItem::connectingText() const
{
    return tr("Connecting...");
}

QString ServerInfoTreeItem::iconPath() const
{
    return statusIconPath(server->infoError, QStringLiteral(":icons/server-ok"));
}

void ServerInfoTreeItem::refresh()
{
    removeAllChildren();
    if (server->initialized && server->infoError.isEmpty()) {
        auto* hardware = new TreeItem(tr("Hardware"));
        auto* licence = new TreeItem(tr("License"));
        hardware->setData(cachedIcon(QStringLiteral(":icons/hardware-nok")), Qt::DecorationRole);
        licence->setData(cachedIcon(QStringLiteral(":icons/licence")), Qt::DecorationRole);
        hardware->setObjectName(QStringLiteral("Sysinfo"));
        addJsonObject(hardware, server->sysInfo);
        appendChild(hardware);
        addLicense(licence, server->license);
        appendChild(licence);
    }
    emitDataChanged();
}

void ServerInfoTreeItem::addJsonObject(TreeItem* parent, const QJsonObject& object)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        auto* keyRow = new TreeItem(it.key());
        const QJsonValue value = it.value();
        if (value.isString()) {
            keyRow->appendChild(new TreeItem(value.toString()));
        } else if (value.isArray()) {
            addArrayElements(keyRow, value.toArray());
        } else if (value.isObject()) {
            addJsonObject(keyRow, value.toObject());
        } else {
            delete keyRow;
            continue;
        }
        parent->appendChild(keyRow);
        markExpanded(keyRow);
    }
}

void ServerInfoTreeItem::addLicense(TreeItem* parent, const QJsonObject& license)
{
    const QBrush expired(QColor(227, 111, 16), Qt::SolidPattern);
    for (auto it = license.constBegin(); it != license.constEnd(); ++it) {
        const auto labelIt = licenseLabels.constFind(it.key());
        if (labelIt == licenseLabels.constEnd()) {
            continue;
        }
        auto* labelRow = new TreeItem(tr(labelIt.value()));
        const QJsonValue value = it.value();
        if (value.isString() || value.isDouble() || value.isBool()) {
            const QString text = value.isDouble() ? QString::number(value.toDouble(), 'f', 0) : value.toString();
            auto* valueRow = new TreeItem(text);
            if (it.key() == QLatin1String("license_expiration_date") ||
                it.key() == QLatin1String("upgrade_expiration_date")) {
                // An unparseable date is invalid, which compares earlier than today: shown as expired.
                const QDate date = QDate::fromString(value.toString(), QStringLiteral("yyyyMMdd"));
                if (QDate::currentDate() > date) {
                    valueRow->setData(expired, Qt::ForegroundRole);
                }
            }
            labelRow->appendChild(valueRow);
        } else if (value.isArray()) {
            addArrayElements(labelRow, value.toArray());
        } else {
            delete labelRow;
            continue;
        }
        parent->appendChild(labelRow);
        markExpanded(labelRow);
    }
}

void ServerInfoTreeItem::addArrayElements(TreeItem* parent, const QJsonArray& array)
{
    for (int i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        parent->insertRow(i, new TreeItem(element.isString() ? element.toString() : QString()));
    }
}

void ServerInfoTreeItem::markExpanded(QStandardItem* row)
{
    QStandardItemModel* owner = model();
    if (owner && treeView) {
        treeView->setExpanded(owner->indexFromItem(row), true);
    }
}
