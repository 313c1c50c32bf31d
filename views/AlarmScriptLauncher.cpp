#include "views/AlarmScriptLauncher.h"

#include "notify/ExtActionManager.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QPair>
#include <QStandardItemModel>
#include <QString>
#include <QTreeView>

namespace {
const QByteArray truncatedMember = QByteArrayLiteral(",\"truncated\":true");

// Lines are kept as ready JSON text so the size of every piece is known before the document is joined.
struct CategoryAlarms
{
    QByteArray opening; // "recorder":[
    QList<QByteArray> lines;
};

struct ServerAlarms
{
    QByteArray opening; // {"server":...,"unreachable":...,"categories":{
    QList<CategoryAlarms> categories;
    int lineCount = 0;
    int kept = 0; // lines kept, counted through the categories in order
};

QByteArray jsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QList<ServerAlarms> collectAlarms(const QStandardItemModel* model)
{
    QList<ServerAlarms> servers;
    const int rows = model ? model->rowCount() : 0;
    for (int row = 0; row < rows; ++row) {
        auto* item = dynamic_cast<ServerAlarmsTreeItem*>(model->item(row, 0));
        if (!item || item->ok) {
            continue;
        }
        ServerAlarms server;
        server.opening = "{\"server\":" + jsonString(item->server->name) +
                         ",\"host\":" + jsonString(item->server->host) +
                         ",\"port\":" + QByteArray::number(item->server->port);
        if (item->alarms & ServerAlarmsTreeItem::UnreachableAlarm)
            server.opening += ",\"unreachable\":" + jsonString(item->server->unreachable);
        server.opening += ",\"categories\":{";
        const QList<QPair<NotificationTreeItem*, QByteArray>> categories{
            {item->recorderItem, "recorder"}, {item->camerasItem, "cameras"}, {item->hardwareItem, "hardware"}};
        for (const auto& category : categories) {
            if (!category.first || category.first->isIgnored() || category.first->messages->isEmpty()) {
                continue;
            }
            CategoryAlarms alarms;
            alarms.opening = '"' + category.second + "\":[";
            for (const QString& line : *category.first->messages) {
                alarms.lines << jsonString(line);
            }
            server.lineCount += alarms.lines.size();
            server.categories << alarms;
        }
        server.kept = server.lineCount;
        servers << server;
    }
    return servers;
}

QByteArray serverJson(const ServerAlarms& server)
{
    QByteArray json = server.opening;
    int left = server.kept;
    for (int index = 0; index < server.categories.size() && left > 0; ++index) {
        const CategoryAlarms& category = server.categories.at(index);
        if (index > 0) {
            json += ',';
        }
        json += category.opening;
        const int count = qMin(left, category.lines.size());
        for (int line = 0; line < count; ++line) {
            if (line > 0) {
                json += ',';
            }
            json += category.lines.at(line);
        }
        json += ']';
        left -= count;
    }
    json += '}';
    if (server.kept < server.lineCount) {
        json += truncatedMember;
    }
    json += '}';
    return json;
}

// Drops the server's lines from its end while the document is too long; returns the new document size.
int dropLines(ServerAlarms& server, int size, int maxBytes)
{
    int category = server.categories.size() - 1;
    int line = category >= 0 ? server.categories.at(category).lines.size() - 1 : -1;
    while (server.kept > 0 && size >= maxBytes) {
        const CategoryAlarms& alarms = server.categories.at(category);
        if (server.kept == server.lineCount) {
            size += truncatedMember.size();
        }
        if (line > 0) {
            size -= alarms.lines.at(line).size() + 1;
            --line;
        } else {
            // The last line takes its category with it, and the comma before that category.
            size -= alarms.opening.size() + alarms.lines.at(line).size() + 1 + (category > 0 ? 1 : 0);
            --category;
            line = category >= 0 ? server.categories.at(category).lines.size() - 1 : -1;
        }
        --server.kept;
    }
    return size;
}
} // namespace

AlarmScriptLauncher::AlarmScriptLauncher(ServerAlarmsWidget* page) : QObject(page)
{
    auto* view = page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
    model = view ? qobject_cast<QStandardItemModel*>(view->model()) : nullptr;
    connection = connect(page, &ServerAlarmsWidget::errorStateChanged, page,
                         [this](bool inError) { onErrorStateChanged(inError); });
}

AlarmScriptLauncher::~AlarmScriptLauncher()
{
    // The page destroys its children before it drops its connections.
    disconnect(connection);
}

QByteArray AlarmScriptLauncher::alarmsJson(const QStandardItemModel* model, int maxBytes)
{
    QList<ServerAlarms> servers = collectAlarms(model);
    int size = 2 + qMax(0, servers.size() - 1);
    for (const ServerAlarms& server : servers) {
        size += serverJson(server).size();
    }
    for (int index = servers.size() - 1; index >= 0 && size >= maxBytes; --index) {
        size = dropLines(servers[index], size, maxBytes);
    }
    // Only a huge number of servers in alarm gets here: the last ones go whole.
    while (!servers.isEmpty() && size >= maxBytes) {
        const ServerAlarms last = servers.takeLast();
        size -= serverJson(last).size() + (servers.isEmpty() ? 0 : 1);
    }

    QByteArray json = "[";
    for (int index = 0; index < servers.size(); ++index) {
        if (index > 0) {
            json += ',';
        }
        json += serverJson(servers.at(index));
    }
    json += ']';
    return json;
}

QProcessEnvironment AlarmScriptLauncher::alarmEnvironment(const QStandardItemModel* model, const QDateTime& time)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVANE_EVENT"), QStringLiteral("alarm"));
    environment.insert(QStringLiteral("QUELVANE_TIME"), time.toUTC().toString(Qt::ISODate));
    environment.insert(QStringLiteral("QUELVANE_ALARMS"), QString::fromUtf8(alarmsJson(model)));
    return environment;
}

void AlarmScriptLauncher::onErrorStateChanged(bool inError)
{
    const bool rising = inError && !lastInError;
    lastInError = inError;
    ExtActionManager* manager = ExtActionManager::instance();
    if (rising && !manager->actionList().isEmpty()) {
        manager->runActions(alarmEnvironment(model, QDateTime::currentDateTimeUtc()));
    }
}
