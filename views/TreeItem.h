#pragma once

#include <QIcon>
#include <QObject>
#include <QStandardItem>
#include <QString>

// Root of every row in the status views: a QObject so that a row can listen to the server it shows.
// The server rows translate their texts in their own class's context, where the catalogue has them.
class TreeItem : public QObject, public QStandardItem
{
    Q_OBJECT

public:
    TreeItem();
    explicit TreeItem(const QString& text);
    ~TreeItem() override;

    // The rebuild steps every row shares: drop all children at once, append one-column rows in order.
    void removeAllChildren();
    void appendChild(QStandardItem* child);

    // The icon of a resource path, made once: QIcon(path) sniffs the file's type (the resource names
    // carry no suffix) and parses the SVG anew, and the rows ask for their icon at every paint.
    static QIcon cachedIcon(const QString& path);
};
