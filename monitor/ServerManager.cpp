#include "monitor/ServerManager.h"

#include "monitor/JsonReply.h"
#include "monitor/Wsse.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkConfiguration>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace {

const QString apiPrefix = QStringLiteral("/api/v1.1");

// Qt's own buffer stays small too: the body is moved into the transfer's buffer as it arrives.
constexpr qint64 readChunk = 256 * 1024;

// One failure between good ones is a glitch; a run this long means the server cannot be watched.
constexpr int unreachableAfterPolls = 3;
constexpr int unreachableAfterAuths = 2;
// Health answers in a row that refuse the credentials before the session counts as stale: the server
// may have handed out another salt, or a clock may have jumped.
constexpr int reauthenticateAfterRefusals = 3;
// The time limits fired this much later than due: the process did not run meanwhile (the machine slept,
// the process was stopped), and what the servers sent lies unread.
constexpr qint64 suspendedLateness = 2000;

} // namespace

ServerManager* ServerManager::instance()
{
    static ServerManager* const manager = new ServerManager;
    return manager;
}

ServerManager::ServerManager() : networkManager(new QNetworkAccessManager(this))
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && !defined(QT_NO_BEARERMANAGEMENT)
    // Once Qt 5's bearer plugins have seen the network go and come back (a sleep, another Wi-Fi), its
    // manager holds every request to a remote host until a "network session" opens, which may never
    // happen. Without a configuration it makes none: whether a server answers is each request's to find.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    networkManager->setConfiguration(QNetworkConfiguration());
    QT_WARNING_POP
#endif
    clock.start();
    deadlineTimer.setSingleShot(true);
    connect(&deadlineTimer, &QTimer::timeout, this, &ServerManager::_abortOverdue);
    deferredTimer.setSingleShot(true);
    connect(&deferredTimer, &QTimer::timeout, this, &ServerManager::_runDeferred);
}

std::shared_ptr<Server> ServerManager::addServer(const QString& name, const QString& host, int port,
                                                 const QString& login, const QString& password)
{
    auto server = std::make_shared<Server>(name, host, port, login, password);
    servers.append(server);
    hashes.cache.reserveFor(int(servers.size()));
    std::weak_ptr<Server> weak = server;
    connect(&server->initTimer, &QTimer::timeout, &server->initTimer, [this, weak] {
        _withinPass([this, weak] {
            const std::shared_ptr<Server> locked = weak.lock();
            // A removed record may outlive the list in the views; it must not authenticate again.
            if (locked && servers.contains(locked))
                initServer(locked);
        });
    });
    server->initTimer.setSingleShot(true);
    server->initTimer.start();
    emit serverAdded(server);
    return server;
}

bool ServerManager::_passHasTime()
{
    if (!pass.isValid()) {
        pass.start();
        QTimer::singleShot(0, this, [this] { pass.invalidate(); });
        return true;
    }
    return pass.elapsed() < currentSettings.passBudget;
}

void ServerManager::_withinPass(std::function<void()> work)
{
    // Earlier work waits first, so that the servers keep their order.
    if (deferred.isEmpty() && _passHasTime()) {
        work();
        return;
    }
    deferred.append(std::move(work));
    if (!deferredTimer.isActive())
        deferredTimer.start(0);
}

void ServerManager::_runDeferred()
{
    while (!deferred.isEmpty() && _passHasTime())
        deferred.takeFirst()();
    if (!deferred.isEmpty())
        deferredTimer.start(0);
}

void ServerManager::removeServer(std::shared_ptr<Server> server)
{
    if (!server)
        return;
    server->alarmsTimer.disconnect();
    server->disconnect();
    server->alarmsTimer.stop();
    server->initTimer.stop();
    servers.removeOne(server);
    hashes.release(server.get());
    hashes.storeSoon();
    if (saveHandler)
        saveHandler();
    emit serverRemoved(server);
}

QJsonValue ServerManager::toJson() const
{
    QJsonArray array;
    for (const auto& server : servers)
        array.append(server->toJson());
    return array;
}

void ServerManager::initServer(std::shared_ptr<Server> server)
{
    server->alarmsTimer.disconnect();
    // An edit after a failed authentication authenticates now; the pending retry would only start another round.
    server->initTimer.stop();
    ++server->authRound;
    hashes.release(server.get());
    server->polling = false;
    server->initialized = false;
    server->alarmsError.clear();
    server->infoError.clear();
    emit server->infoUpdated();
    emit server->alarmsUpdated();

    if (server->passwordElsewhere && server->password.isEmpty() && passwordSource) {
        const quint64 round = server->authRound;
        passwordSource(server, [this, server, round](const QString& error) {
            if (!_isCurrent(server, round))
                return;
            // Nothing can be asked of the server without it: it cannot be watched.
            if (!error.isEmpty())
                _authFailed(server, error, Server::Outage::Failing, 1);
            else
                _authenticate(server);
        });
        return;
    }
    _authenticate(server);
}

void ServerManager::_authenticate(const std::shared_ptr<Server>& server)
{
    // The login is one path segment whatever it holds: "/", "?", "#" or "%" must not end it. The
    // characters a segment may hold as they are stay readable.
    const QByteArray segment = QUrl::toPercentEncoding(server->login, QByteArrayLiteral("!$&'()*+,;=:@"));
    const QString path = apiPrefix + QStringLiteral("/users/") + QString::fromLatin1(segment) + QStringLiteral("/auth");
    _request(
        server, path,
        [this, server](QNetworkReply* reply) {
            const ReplyOutcome outcome = _classify(reply);
            if (!outcome.good) {
                _authFailed(server, outcome.error, outcome.outage, unreachableAfterAuths);
                return;
            }
            if (reply->hasRawHeader("Date")) {
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                Wsse::takeClockOffset(reply->rawHeader("Date"), now, &server->clockOffset);
            }
            _parseAuth(outcome.doc, server);
            const int cost = BcryptCache::costOf(server->salt.toUtf8());
            if (cost > currentSettings.maxBcryptCost) {
                _authFailed(server,
                            tr("The server asks for bcrypt cost %1, above the limit of %2")
                                .arg(cost)
                                .arg(currentSettings.maxBcryptCost),
                            Server::Outage::Failing, 1);
                return;
            }
            server->failedAuths = 0;

            const quint64 round = server->authRound;
            if (!currentSettings.cacheBcrypt) {
                _startPollingWithinPass(server, round);
                return;
            }
            // The hash can take a good part of a second: a worker computes it, then polling starts.
            hashes.request(server->password.toUtf8(), server->salt.toUtf8(), server.get(),
                           [this, server, round](const QByteArray&) { _startPollingWithinPass(server, round); });
        },
        false);
}

void ServerManager::_authFailed(const std::shared_ptr<Server>& server, const QString& error, Server::Outage outage,
                                int limit)
{
    _countFailure(*server, ++server->failedAuths, limit, error, outage);
    server->alarmsError = error;
    server->infoError = error;
    server->initialized = true;
    emit server->alarmsUpdated();
    emit server->infoUpdated();
    server->initTimer.start(currentSettings.authRetryInterval);
}

void ServerManager::_countFailure(Server& server, int run, int limit, const QString& error, Server::Outage outage)
{
    if (run < limit && server.unreachable.isEmpty())
        return;
    server.unreachable = error;
    server.outage = outage;
}

void ServerManager::_healthFailed(const std::shared_ptr<Server>& server, const ReplyOutcome& outcome)
{
    server->alarmsError = outcome.error;
    server->refusedPolls = outcome.outage == Server::Outage::Refused ? server->refusedPolls + 1 : 0;
    // A session gone stale heals by itself, once a run so that wrong credentials do not loop; the server
    // counts as unreachable only if the polls fail again after it.
    const bool stale = server->refusedPolls >= reauthenticateAfterRefusals && !server->reauthenticated;
    ++server->failedPolls;
    if (!stale)
        _countFailure(*server, server->failedPolls, unreachableAfterPolls, outcome.error, outcome.outage);
    emit server->alarmsUpdated();
    if (stale) {
        server->reauthenticated = true;
        initServer(server);
    }
}

void ServerManager::_startPollingWithinPass(const std::shared_ptr<Server>& server, quint64 round)
{
    _withinPass([this, server, round] {
        if (_isCurrent(server, round))
            _startPolling(server);
    });
}

void ServerManager::_startPolling(const std::shared_ptr<Server>& server)
{
    const quint64 round = server->authRound;
    connect(&server->alarmsTimer, &QTimer::timeout, &server->alarmsTimer, [this, server, round] {
        _withinPass([this, server, round] {
            // A poll put off to a later pass is dropped if the server was removed or authenticates anew.
            if (_isCurrent(server, round))
                fetchAlarms(server);
        });
    });
    server->polling = true;
    refreshAlarms(server);
    fetchInfo(server);
    server->initialized = true;
    emit serverAuthenticated(server);
}

void ServerManager::fetchAlarms(std::shared_ptr<Server> server)
{
    if (!server)
        return;
    _request(
        server, apiPrefix + QStringLiteral("/health"),
        [this, server](QNetworkReply* reply) {
            server->clearAlarms();
            const ReplyOutcome outcome = _classify(reply);
            if (!outcome.good) {
                _healthFailed(server, outcome);
                return;
            }
            server->alarmsError.clear();
            server->unreachable.clear();
            server->failedPolls = server->refusedPolls = 0;
            server->reauthenticated = false;
            _parseHealth(outcome.doc, server);
            emit server->alarmsUpdated();
        },
        true);
}

void ServerManager::refreshAlarms(std::shared_ptr<Server> server)
{
    // Without a session there is nothing to poll with: its rows only read the silences again, a pass
    // later as after a reply, since the caller stores the silence once it has asked.
    if (!server->polling) {
        QTimer::singleShot(0, server.get(), [record = server.get()] { emit record->alarmsUpdated(); });
        return;
    }
    if (server->alarmsTimer.isActive())
        server->alarmsTimer.stop();
    fetchAlarms(server);
    server->alarmsTimer.start(currentSettings.pollInterval);
}

void ServerManager::fetchInfo(std::shared_ptr<Server> server)
{
    if (!server)
        return;
    _request(
        server, apiPrefix + QStringLiteral("/sysinfo"),
        [this, server](QNetworkReply* reply) {
            const ReplyOutcome outcome = _classify(reply);
            if (!outcome.good) {
                server->infoError = outcome.error;
                emit server->infoUpdated();
                return;
            }
            server->infoError.clear();
            server->sysInfo = outcome.doc.object();
            _fetchLicense(server);
        },
        true);
}

void ServerManager::_fetchLicense(std::shared_ptr<Server> server)
{
    if (!server)
        return;
    _request(
        server, apiPrefix + QStringLiteral("/license"),
        [this, server](QNetworkReply* reply) {
            const ReplyOutcome outcome = _classify(reply);
            if (outcome.good)
                _parseLicense(outcome.doc, server);
            else
                server->infoError = outcome.error;
            emit server->infoUpdated();
        },
        true);
}

void ServerManager::_request(std::shared_ptr<Server> server, const QString& path,
                             std::function<void(QNetworkReply*)> callback, bool authenticate)
{
    if (!authenticate) {
        _send(server, path, callback, nullptr);
        return;
    }
    if (!currentSettings.cacheBcrypt) {
        const QByteArray hash = currentSettings.hashFunction(server->password.toUtf8(), server->salt.toUtf8());
        _send(server, path, callback, &hash);
        return;
    }
    // A hash not known yet (a new password, an evicted entry) is waited for, never computed here.
    const quint64 round = server->authRound;
    hashes.request(server->password.toUtf8(), server->salt.toUtf8(), server.get(),
                   [this, server, path, callback, round](const QByteArray& hash) {
                       if (_isCurrent(server, round))
                           _send(server, path, callback, &hash);
                   });
}

void ServerManager::_send(const std::shared_ptr<Server>& server, const QString& path,
                          const std::function<void(QNetworkReply*)>& callback, const QByteArray* hash)
{
    const QString language = QLocale::system().name().split(QLatin1Char('_'), Qt::KeepEmptyParts).first();
    QNetworkRequest request;
    if (hash)
        _addWsseHeaders(request, *server, *hash);
    request.setRawHeader("Accept-Language", language.toLatin1());

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(server->host);
    url.setPort(server->port);
    url.setPath(path, QUrl::TolerantMode);
    request.setUrl(url);

    QNetworkReply* reply = networkManager->get(request);
    Transfer transfer;
    if (currentSettings.requestTimeout > 0) {
        transfer.deadline = deadlines.insert(clock.elapsed() + currentSettings.requestTimeout, reply);
        transfer.hasDeadline = true;
    }
    transfers.insert(reply, transfer);
    _armDeadlineTimer();
    reply->setReadBufferSize(readChunk);

    // The round and the list are checked when the reply finishes: a removed or re-authenticated
    // server must not be touched by what its old requests bring back.
    const quint64 round = server->authRound;
    const bool signedRequest = hash != nullptr;
    connect(reply, &QNetworkReply::metaDataChanged, reply, [this, reply] {
        bool ok = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok)
            _refuseIfTooLarge(reply, length);
    });
    connect(reply, &QIODevice::readyRead, reply, [this, reply] { _readBody(reply); });
    connect(reply, &QNetworkReply::finished, reply, [this, reply, server, round, callback, signedRequest] {
        // A reply is routed once, whatever Qt does on an abort.
        if (!transfers.contains(reply))
            return;
        _readBody(reply);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (signedRequest && (status == 401 || status == 403))
            hashes.refused(server->password.toUtf8(), server->salt.toUtf8());
        if (_isCurrent(server, round))
            callback(reply);
        const auto done = transfers.find(reply);
        if (done != transfers.end()) {
            if (done->hasDeadline)
                deadlines.erase(done->deadline);
            transfers.erase(done);
        }
        reply->deleteLater();
    });
}

void ServerManager::_abortOverdue()
{
    const qint64 now = clock.elapsed();
    if (now - deadlineTimerAt > suspendedLateness) {
        // A reply that came while the program did not run must not count as the server's failure:
        // every request in flight gets its time limit again from now.
        const QList<QNetworkReply*> pending = deadlines.values();
        deadlines.clear();
        for (QNetworkReply* reply : pending)
            transfers[reply].deadline = deadlines.insert(now + currentSettings.requestTimeout, reply);
    }
    while (!deadlines.isEmpty() && deadlines.firstKey() <= now) {
        QNetworkReply* reply = deadlines.first();
        deadlines.erase(deadlines.begin());
        const auto it = transfers.find(reply);
        if (it == transfers.end())
            continue;
        it->hasDeadline = false;
        it->timedOut = true;
        // Aborting finishes the reply at once, which may start other requests and add deadlines.
        reply->abort();
    }
    deadlineTimer.stop();
    _armDeadlineTimer();
}

void ServerManager::_armDeadlineTimer()
{
    if (deadlines.isEmpty())
        return;
    const qint64 next = deadlines.firstKey();
    if (deadlineTimer.isActive() && deadlineTimerAt <= next)
        return;
    deadlineTimerAt = next;
    deadlineTimer.start(int(std::max<qint64>(0, next - clock.elapsed())));
}

void ServerManager::_readBody(QNetworkReply* reply)
{
    const auto it = transfers.find(reply);
    if (it == transfers.end() || it->tooLarge || it->timedOut)
        return;
    while (reply->bytesAvailable() > 0) {
        // What has arrived is bounded by the reply's read buffer. readAll() reads it straight from the reply;
        // read(n) allocated n bytes up front, and below 16 KiB it went through a buffer of that size too.
        it->body.append(reply->readAll());
        // Refusing aborts the reply, which may finish it and drop its entry at once.
        if (_refuseIfTooLarge(reply, it->body.size()))
            return;
    }
}

bool ServerManager::_refuseIfTooLarge(QNetworkReply* reply, qint64 size)
{
    const auto it = transfers.find(reply);
    if (it == transfers.end() || currentSettings.maxReplySize <= 0 || size <= currentSettings.maxReplySize)
        return false;
    it->tooLarge = true;
    it->body.clear();
    it->body.squeeze();
    reply->abort();
    return true;
}

ServerManager::ReplyOutcome ServerManager::_classify(QNetworkReply* reply) const
{
    ReplyOutcome outcome;
    const Transfer transfer = transfers.value(reply);
    if (transfer.timedOut) {
        outcome.error = tr("The server did not answer in time");
        return outcome;
    }
    outcome.outage = Server::Outage::Failing;
    if (transfer.tooLarge) {
        outcome.error = tr("The server's reply is too large");
        return outcome;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0 || (status == 200 && reply->error() != QNetworkReply::NoError)) {
        // No answer, or the connection broke after the status line: what arrived is not the reply, even
        // when it parses.
        outcome.outage = Server::Outage::NoAnswer;
        outcome.error = reply->errorString();
        return outcome;
    }
    const bool parsed = JsonReply::parse(transfer.body, &outcome.doc);
    if (status != 200) {
        const QJsonValue error = outcome.doc.object().value(QStringLiteral("error"));
        outcome.error = parsed && error.isString() ? error.toString() : reply->errorString();
        if (status == 401 || status == 403)
            outcome.outage = Server::Outage::Refused;
    } else if (!parsed) {
        outcome.error = tr("Error while parsing json response");
    } else {
        outcome.good = true;
    }
    return outcome;
}

bool ServerManager::_isCurrent(const std::shared_ptr<Server>& server, quint64 round) const
{
    return server->authRound == round && servers.contains(server);
}

void ServerManager::_addWsseHeaders(QNetworkRequest& request, const Server& server, const QByteArray& hash)
{
    const QString nonce = generateNonce(Wsse::nonceLength);
    const QString created = Wsse::createdStamp(QDateTime::currentDateTimeUtc(), server.clockOffset);
    const QString digest = Wsse::passwordDigest(nonce, created, hash);
    request.setRawHeader("Authorization", Wsse::authorizationValue());
    request.setRawHeader("X-WSSE", Wsse::xWsseValue(server.login, digest, nonce, created));
}

void ServerManager::_parseAuth(const QJsonDocument& doc, std::shared_ptr<Server> server)
{
    const QJsonValue auth = doc.object().value(QStringLiteral("auth"));
    if (!auth.isArray())
        return;
    for (const QJsonValue& entry : auth.toArray()) {
        if (!entry.isObject())
            continue;
        const QJsonObject method = entry.toObject();
        const QJsonValue type = method.value(QStringLiteral("type"));
        const QJsonValue salt = method.value(QStringLiteral("salt"));
        if (type.isString() && type.toString() == QLatin1String("wsse") && salt.isString() &&
            !salt.toString().isEmpty()) {
            server->salt = salt.toString();
            return;
        }
    }
}

void ServerManager::_parseHealth(const QJsonDocument& doc, std::shared_ptr<Server> server)
{
    const QJsonObject root = doc.object();
    const QJsonObject health = root.value(QStringLiteral("health")).toObject();
    const QJsonObject details = root.value(QStringLiteral("errorDetails")).toObject();
    const bool recorderOk = health.value(QStringLiteral("recorder")).toBool(false);
    const bool camerasOk = health.value(QStringLiteral("cameras")).toBool(false);
    const bool hardwareOk = health.value(QStringLiteral("hardware")).toBool(false);

    server->clearAlarms();
    if (!recorderOk) {
        for (const QJsonValue& line : details.value(QStringLiteral("recorder")).toArray())
            server->recorderErrors.append(line.toString());
    }
    if (!camerasOk) {
        for (const QJsonValue& entry : details.value(QStringLiteral("cameras")).toArray()) {
            const QJsonObject camera = entry.toObject();
            // One pass over the template, so a "%2" in a camera name stays text.
            server->camerasErrors.append(tr("\"%1\" on stream \"%2\": %3")
                                             .arg(camera.value(QStringLiteral("name")).toString(),
                                                  camera.value(QStringLiteral("streamName")).toString(),
                                                  camera.value(QStringLiteral("error")).toString()));
        }
    }
    if (hardwareOk)
        return;
    const QJsonObject hardware = details.value(QStringLiteral("hardware")).toObject();
    for (const QJsonValue& line : hardware.value(QStringLiteral("arecaErrors")).toArray())
        server->hardwareErrors.append(line.toString());
    const QJsonObject smart = hardware.value(QStringLiteral("smartErrors")).toObject();
    if (smart.isEmpty())
        return;
    const QString globalError = smart.value(QStringLiteral("globalError")).toString();
    if (!globalError.isEmpty()) {
        server->hardwareErrors.append(globalError);
        return;
    }
    for (const QJsonValue& entry : smart.value(QStringLiteral("disks")).toArray()) {
        const QJsonObject disk = entry.toObject();
        const QString dev = disk.value(QStringLiteral("dev")).toString();
        const QString model = disk.value(QStringLiteral("model")).toString();
        for (const QJsonValue& error : disk.value(QStringLiteral("errors")).toArray())
            server->hardwareErrors.append(QStringLiteral("%1 (%2): %3").arg(dev, model, error.toString()));
    }
}

void ServerManager::_parseLicense(const QJsonDocument& doc, std::shared_ptr<Server> server)
{
    const QJsonValue license = doc.object().value(QStringLiteral("license"));
    if (license.isNull() || license.isUndefined()) {
        server->infoError = tr("Error while getting license data");
        return;
    }
    server->infoError.clear();
    server->license = license.toObject();
}

void ServerManager::setSaveHandler(std::function<void()> handler)
{
    saveHandler = std::move(handler);
}

void ServerManager::setSettings(const MonitorSettings& settings)
{
    currentSettings = settings;
    hashes.setLimits(settings.hashWorkers, settings.highCost, settings.highCostWorkers);
    hashes.setCompute(settings.hashFunction);
    hashes.setStoreDelay(settings.hashStoreDelay);
}

void ServerManager::setHashStore(const QString& path)
{
    hashes.setStore(path, [this] {
        QList<QPair<QByteArray, QByteArray>> current;
        for (const auto& server : servers)
            current.append({server->password.toUtf8(), server->salt.toUtf8()});
        return current;
    });
}

void ServerManager::keepHashStore(bool kept)
{
    hashes.keepStore(kept);
}

void ServerManager::rememberHash(const QByteArray& password, const QByteArray& hash)
{
    hashes.cache.addStored(password, hash);
}

QByteArray ServerManager::knownHash(const Server& server)
{
    QByteArray hash;
    return hashes.cache.find(server.password.toUtf8(), server.salt.toUtf8(), &hash) ? hash : QByteArray();
}

void ServerManager::setPasswordSource(PasswordSource source)
{
    passwordSource = std::move(source);
}

const MonitorSettings& ServerManager::settings() const
{
    return currentSettings;
}
