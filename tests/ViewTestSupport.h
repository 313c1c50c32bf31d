#pragma once

#include "monitor/ServerManager.h"

#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTreeView>
#include <QWidget>
#include <memory>

// Feeds the tab pages the way the server manager does, without any network.
namespace ViewTest {

// Only explicit refreshes poll while a test runs.
inline void quietTimers()
{
    MonitorSettings settings;
    settings.authRetryInterval = 60000;
    settings.pollInterval = 60000;
    ServerManager::instance()->setSettings(settings);
}

inline QTreeView* viewOf(QWidget* page)
{
    return page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
}

inline QStandardItemModel* modelOf(QWidget* page)
{
    return qobject_cast<QStandardItemModel*>(viewOf(page)->model());
}

// Servers announced through serverAdded; the destructor announces their removal again.
struct Servers
{
    QList<std::shared_ptr<Server>> list;

    ~Servers() { clear(); }
    std::shared_ptr<Server> announce(const QString& name, const QString& host = QStringLiteral("127.0.0.1"),
                                     int port = 1)
    {
        list << std::make_shared<Server>(name, host, port, QStringLiteral("l"), QStringLiteral("p"));
        emit ServerManager::instance()->serverAdded(list.last());
        return list.last();
    }
    // Takes a copy: the argument may be an element of the list.
    void remove(std::shared_ptr<Server> server)
    {
        list.removeOne(server);
        emit ServerManager::instance()->serverRemoved(server);
    }
    void clear()
    {
        while (!list.isEmpty()) {
            remove(list.first());
        }
    }
};

// A successful health poll with these alarm lines.
inline void setAlarms(const std::shared_ptr<Server>& server, const QStringList& recorder,
                      const QStringList& cameras = {}, const QStringList& hardware = {})
{
    server->initialized = true;
    server->alarmsError.clear();
    server->recorderErrors = recorder;
    server->camerasErrors = cameras;
    server->hardwareErrors = hardware;
    emit server->alarmsUpdated();
}

// A failed health poll.
inline void failAlarms(const std::shared_ptr<Server>& server, const QString& error)
{
    server->clearAlarms();
    server->alarmsError = error;
    emit server->alarmsUpdated();
}

// The first argument of every recorded emission of a bool signal.
inline QList<bool> emissions(const QSignalSpy& spy)
{
    QList<bool> values;
    for (const QList<QVariant>& arguments : spy) {
        values << arguments.at(0).toBool();
    }
    return values;
}

} // namespace ViewTest
