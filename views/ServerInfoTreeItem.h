#pragma once

#include "views/ServerTreeItem.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <memory>

class QTreeView;

// A server's row in the Information tree: "Hardware" unfolds sysInfo, "License" the known licence members.
class ServerInfoTreeItem : public ServerTreeItem
{
public:
    ServerInfoTreeItem(std::shared_ptr<Server> server, QTreeView* view);
    ~ServerInfoTreeItem() override;

    QVariant data(int role = Qt::UserRole + 1) const override;

    void refresh();
    void addJsonObject(TreeItem* parent, const QJsonObject& object);
    void addLicense(TreeItem* parent, const QJsonObject& license);
    QString iconPath() const;

    // Licence JSON key to row label; filled before any translator exists, so the labels stay English.
    static const QHash<QString, QString> licenseLabels;

    QTreeView* treeView;

private:
    void addArrayElements(TreeItem* parent, const QJsonArray& array);
    void markExpanded(QStandardItem* row);
};
