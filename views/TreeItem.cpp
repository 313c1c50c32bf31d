#include "views/TreeItem.h"

#include <QHash>

TreeItem::TreeItem() : QObject(nullptr), QStandardItem()
{
    setEditable(false);
    setDragEnabled(false);
    setDropEnabled(false);
}

TreeItem::TreeItem(const QString& text) : QObject(nullptr), QStandardItem(text)
{
    setEditable(false);
    setDragEnabled(false);
    setDropEnabled(false);
}

TreeItem::~TreeItem() = default;

void TreeItem::removeAllChildren()
{
    if (rowCount() > 0) {
        removeRows(0, rowCount());
    }
}

void TreeItem::appendChild(QStandardItem* child)
{
    insertRow(rowCount(), child);
}

QIcon TreeItem::cachedIcon(const QString& path)
{
    static QHash<QString, QIcon> icons;
    auto it = icons.constFind(path);
    if (it == icons.constEnd())
        it = icons.insert(path, QIcon(path));
    return it.value();
}
