#pragma once

#include "views/ServerTreeItem.h"

#include <QCoreApplication>
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
    Q_DECLARE_TR_FUNCTIONS(ServerInfoTreeItem)

public:
    ServerInfoTreeItem(std::shared_ptr<Server> server, QTreeView* view);
    ~ServerInfoTreeItem() override;

    QVariant data(int role = Qt::UserRole + 1) const override;

    void refresh();
    void addJsonObject(TreeItem* parent, const QJsonObject& object);
    void addLicense(TreeItem* parent, const QJsonObject& license);
    QString iconPath() const;

    // Licence JSON key to the source text of its row label, translated when a row is made: the table is
    // filled before the catalogue is installed.
    static const QHash<QString, const char*> licenseLabels;

    QTreeView* treeView;

protected:
    QString connectingText() const override;

private:
    void addArrayElements(TreeItem* parent, const QJsonArray& array);
    void markExpanded(QStandardItem* row);
};
