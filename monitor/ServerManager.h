#pragma once

#include "monitor/BcryptQueue.h"
#include "monitor/Server.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonValue>
#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QJsonDocument;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// Intervals and switches of the monitoring loop. The defaults are the product's;
// tests and benchmarks inject shorter ones through ServerManager::setSettings().
struct MonitorSettings
{
    int authRetryInterval = 30000;
    int pollInterval = 10000;
    int requestTimeout = 10000;
    qint64 maxReplySize = qint64(16) * 1024 * 1024;
    // How long one pass of the event loop may spend starting exchanges before the rest wait for the next.
    int passBudget = 20;
    // Off only in benchmarks, to measure what the cache and the worker save.
    bool cacheBcrypt = true;
    // Ordinary hashes that may run at once (0: one per core). From highCost on a hash takes seconds to a
    // minute: those share highCostWorkers of their own, so that they hold up no other server.
    int hashWorkers = 0;
    int highCost = 16;
    int highCostWorkers = 1;
    // Above it a server's setting is refused with an error on its row: one hash at 20 takes about a minute
    // on an ordinary machine, and each step above doubles it, while the server would go unmonitored.
    int maxBcryptCost = 20;
    // How soon after a new hash the file of hashes is written.
    int hashStoreDelay = 2000;
    // Tests count or hold the hashes through it; called on the hashing threads.
    BcryptQueue::Compute hashFunction = BcryptCache::compute;
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

    // The hash is handed in: it is computed on a worker before the request is sent.
    void _addWsseHeaders(QNetworkRequest& request, const Server& server, const QByteArray& hash);
    void _parseAuth(const QJsonDocument& doc, std::shared_ptr<Server> server);
    void _parseHealth(const QJsonDocument& doc, std::shared_ptr<Server> server);
    void _parseLicense(const QJsonDocument& doc, std::shared_ptr<Server> server);

    const QList<std::shared_ptr<Server>>& serverList() const { return servers; }

    // The monitor sits below the configuration file; the application hands it the save step.
    void setSaveHandler(std::function<void()> handler);
    void setSettings(const MonitorSettings& settings);
    const MonitorSettings& settings() const;
    // The file beside the configuration that keeps the bcrypt hashes across runs; read at once, so the
    // servers added next authenticate without hashing when their password and setting are in it.
    void setHashStore(const QString& path);
    // Whether that file is written: not while the hashes are kept with the passwords elsewhere.
    void keepHashStore(bool kept);
    // A hash kept elsewhere (with the password in the keyring), used like one read from the file.
    void rememberHash(const QByteArray& password, const QByteArray& hash);
    // The hash known for the server's password and setting, empty when none is.
    QByteArray knownHash(const Server& server);
    // Where a server whose password is kept elsewhere gets it: fills in the password and calls done with
    // an empty error, or with the reason it could not.
    using PasswordSource =
        std::function<void(const std::shared_ptr<Server>& server, std::function<void(const QString& error)> done)>;
    void setPasswordSource(PasswordSource source);

signals:
    void serverAdded(std::shared_ptr<Server> newServer);
    void serverRemoved(std::shared_ptr<Server> server);
    // Its authentication succeeded and its hash is known: polling starts.
    void serverAuthenticated(std::shared_ptr<Server> server);

private:
    // What the reply handlers need to know about one finished reply.
    struct ReplyOutcome
    {
        bool good = false;
        QString error;
        Server::Outage outage = Server::Outage::NoAnswer;
        QJsonDocument doc;
    };
    using Deadlines = QMultiMap<qint64, QNetworkReply*>;
    // The body read so far and why the transfer was cut short, per reply in flight.
    struct Transfer
    {
        QByteArray body;
        Deadlines::iterator deadline;
        bool hasDeadline = false;
        bool timedOut = false;
        bool tooLarge = false;
    };

    ServerManager();

    ReplyOutcome _classify(QNetworkReply* reply) const;
    void _readBody(QNetworkReply* reply);
    bool _refuseIfTooLarge(QNetworkReply* reply, qint64 size);
    void _abortOverdue();
    void _armDeadlineTimer();
    bool _isCurrent(const std::shared_ptr<Server>& server, quint64 round) const;
    // Both errors shown, and the authentication tried again after the retry interval. A run of `limit`
    // failed attempts makes the server unreachable.
    void _authFailed(const std::shared_ptr<Server>& server, const QString& error, Server::Outage outage, int limit);
    void _healthFailed(const std::shared_ptr<Server>& server, const ReplyOutcome& outcome);
    // Once unreachable, each later failure gives the error the user reads.
    static void _countFailure(Server& server, int run, int limit, const QString& error, Server::Outage outage);
    void _authenticate(const std::shared_ptr<Server>& server);
    void _startPolling(const std::shared_ptr<Server>& server);
    void _startPollingWithinPass(const std::shared_ptr<Server>& server, quint64 round);
    // Hundreds of servers come due together: a whole configuration at start-up, and then their polls,
    // which Qt lines up on common boundaries. Each request costs a fraction of a millisecond inside Qt,
    // so past a slice of one pass of the event loop the rest wait for the next pass, in order, and the
    // window keeps answering.
    bool _passHasTime();
    void _withinPass(std::function<void()> work);
    void _runDeferred();
    void _send(const std::shared_ptr<Server>& server, const QString& path,
               const std::function<void(QNetworkReply*)>& callback, const QByteArray* hash);

    QNetworkAccessManager* networkManager;
    QList<std::shared_ptr<Server>> servers;
    MonitorSettings currentSettings;
    std::function<void()> saveHandler;
    PasswordSource passwordSource;
    BcryptQueue hashes;
    QHash<QNetworkReply*, Transfer> transfers;
    // One timer for every reply in flight rather than one each: hundreds of requests a round made
    // hundreds of short-lived timers, and each one costs a sorted insertion in the event loop's list.
    Deadlines deadlines;
    QElapsedTimer clock;
    QTimer deadlineTimer;
    qint64 deadlineTimerAt = 0;
    // Since when the current pass of the event loop has been starting exchanges; invalid between passes.
    QElapsedTimer pass;
    QList<std::function<void()>> deferred;
    QTimer deferredTimer;
};
