#pragma once

#include "monitor/Server.h"

#include <QWidget>
#include <memory>

class QAction;
class QContextMenuEvent;
class QMenu;
class QPoint;
class QStandardItem;
class QStandardItemModel;
class QTreeView;
class ServerManager;

// Common base of the Alarms and Information pages: one tree of server rows and the server context menu.
class ServerTabWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ServerTabWidget(QWidget* parent = nullptr);

    virtual void onServerRemoved(std::shared_ptr<Server> server);
    virtual QStandardItem* currentItem();
    virtual void onEditServer();
    virtual void onDeleteServer();

protected:
    virtual void setupUi();
    virtual void setupContextMenu();
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Selects the selectable row under a global position and returns it; null over empty space.
    QStandardItem* selectItemAt(const QPoint& globalPos);

    QStandardItemModel* model;
    ServerManager* serverManager;
    QTreeView* treeView = nullptr;
    QMenu* contextMenu = nullptr;
    QAction* editServerAction = nullptr;
    QAction* deleteServerAction = nullptr;
};
