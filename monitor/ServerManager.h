#pragma once

#include "monitor/BcryptCache.h"
#include "monitor/Server.h"

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QJsonDocument;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QThreadPool;

// Intervals and switches of the monitoring loop. The defaults are the product's;
// tests and benchmarks inject shorter ones through ServerManager::setSettings().
struct MonitorSettings
{
    int authRetryInterval = 30000;
    int pollInterval = 10000;
    int requestTimeout = 10000;
    qint64 maxReplySize = qint64(16) * 1024 * 1024;
    // Off only in benchmarks, to measure what the cache and the worker save.
    bool cacheBcrypt = true;
};

// Owns every monitored server and drives its exchanges with the server's HTTP JSON API.
class ServerManager : public QObject
{
    Q_OBJECT

public:
    static ServerManager* instance();

    std::shared_ptr<Server> addServer(const QString& name, const QString& host, int port, const QString& login,
                                      const QString& password);
    void removeServer(std::shared_ptr<Server> server);
    QJsonValue toJson() const;

    void initServer(std::shared_ptr<Server> server);
    void fetchAlarms(std::shared_ptr<Server> server);
    void refreshAlarms(std::shared_ptr<Server> server);
    void fetchInfo(std::shared_ptr<Server> server);
    void _fetchLicense(std::shared_ptr<Server> server);
    void _request(std::shared_ptr<Server> server, const QString& path, std::function<void(QNetworkReply*)> callback,
                  bool authenticate);

    void _addWsseHeaders(QNetworkRequest& request, std::shared_ptr<Server> server);
    void _parseAuth(const QJsonDocument& doc, std::shared_ptr<Server> server);
    void _parseHealth(const QJsonDocument& doc, std::shared_ptr<Server> server);
    void _parseLicense(const QJsonDocument& doc, std::shared_ptr<Server> server);

    const QList<std::shared_ptr<Server>>& serverList() const { return servers; }

    // The monitor sits below the configuration file; the application hands it the save step.
    void setSaveHandler(std::function<void()> handler);
    void setSettings(const MonitorSettings& settings);
    const MonitorSettings& settings() const;

signals:
    void serverAdded(std::shared_ptr<Server> newServer);
    void serverRemoved(std::shared_ptr<Server> server);

private:
    // What the reply handlers need to know about one finished reply.
    struct ReplyOutcome
    {
        bool good = false;
        QString error;
        QJsonDocument doc;
    };
    // The body read so far and why the transfer was cut short, per reply in flight.
    struct Transfer
    {
        QByteArray body;
        bool timedOut = false;
        bool tooLarge = false;
    };

    ServerManager();

    ReplyOutcome _classify(QNetworkReply* reply) const;
    void _readBody(QNetworkReply* reply);
    bool _refuseIfTooLarge(QNetworkReply* reply, qint64 size);
    bool _isCurrent(const std::shared_ptr<Server>& server, quint64 round) const;
    void _startPolling(const std::shared_ptr<Server>& server);
    QByteArray _bcrypt(const std::shared_ptr<Server>& server);

    QNetworkAccessManager* networkManager;
    QList<std::shared_ptr<Server>> servers;
    QThreadPool* hashPool;
    MonitorSettings currentSettings;
    std::function<void()> saveHandler;
    BcryptCache bcryptCache;
    QHash<QNetworkReply*, Transfer> transfers;
};
