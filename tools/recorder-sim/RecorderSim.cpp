#include "tools/recorder-sim/RecorderSim.h"

#include "tools/recorder-sim/ConnectionStream.h"
#include "tools/recorder-sim/HttpServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <crypt.h>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

const QStringList endpointNames = {QStringLiteral("auth"), QStringLiteral("health"), QStringLiteral("sysinfo"),
                                   QStringLiteral("license")};
constexpr qint64 mebibyte = 1024 * 1024;
constexpr qint64 createdToleranceMs = 5000;

struct Recorder
{
    QString login;
    QByteArray password;
    QByteArray salt;
    std::optional<qint64> skewSeconds = 0; // empty: no "Date" header
    std::optional<QJsonObject> auth;
    bool rejectReplayedNonces = false;
    QHash<QString, QJsonObject> endpoints;
    QSet<QString> nonces;
};

// What one request is answered with, taken from the scenario before any wait.
struct Reply
{
    int status = 200;
    QByteArray body;
    std::string contentType = "application/json";
    qint64 fillerBytes = -1; // >= 0: a body of that many filler bytes instead of `body`
    QJsonObject headers;
    int delayMs = 0;
    bool hang = false;
    std::optional<qint64> skewSeconds = 0;
    // Hostile-server modes, written straight to the connection instead of through cpp-httplib.
    QByteArray rawResponse;
    bool hasRawResponse = false;
    int dripBytesPerSecond = 0;
    qint64 resetAfterBytes = -1;
    qint64 headerBytes = 0;
    QString noContentLength; // "chunked" or "close"

    bool writtenByHand() const
    {
        return hasRawResponse || dripBytesPerSecond > 0 || resetAfterBytes >= 0 ||
               noContentLength == QLatin1String("close");
    }
};

QByteArray compactJson(const QJsonValue& value)
{
    // QJsonDocument holds only objects and arrays, so a lone value is written inside an array.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QJsonObject defaultHealth()
{
    return {{"health", QJsonObject{{"recorder", true}, {"cameras", true}, {"hardware", true}}},
            {"errorDetails", QJsonObject{}}};
}

QJsonObject defaultSysinfo()
{
    return {{"hostname", "recorder-01"},
            {"os", "Linux 6.1.0 x86_64"},
            {"version", "4.2.1"},
            {"uptime", "12 days, 4:31"},
            {"cpuCores", 8},
            {"storage", QJsonArray{"/dev/sda1: 1.8 TB free of 4 TB", "/dev/sdb1: 3.1 TB free of 4 TB"}},
            {"network", QJsonObject{{"address", "192.168.10.20"},
                                    {"gateway", "192.168.10.1"},
                                    {"dns", QJsonArray{"192.168.10.1", "192.168.10.2"}}}}};
}

QJsonObject defaultLicense()
{
    return {{"license", QJsonObject{{"version", "4.2.1"},
                                    {"build", "4210"},
                                    {"serial_number", "QV-2026-004711"},
                                    {"hardware_id", "5F3A-91C2-77E0-1B4D"},
                                    {"license_expiration_date", "20271231"},
                                    {"upgrade_expiration_date", "20261130"},
                                    {"max_video_sources", 32},
                                    {"current_video_sources", 12},
                                    {"max_metadata_sources", 8},
                                    {"current_metadata_sources", 2},
                                    {"max_screens", 4},
                                    {"active_modules", QJsonArray{"recording", "analytics"}}}}};
}

QJsonObject defaultDocument(const Recorder& recorder, const QString& endpoint)
{
    if (endpoint == QLatin1String("auth")) {
        const QJsonObject wsse{{"type", "wsse"}, {"salt", QString::fromUtf8(recorder.salt)}};
        return recorder.auth.value_or(QJsonObject{{"auth", QJsonArray{wsse}}});
    }
    if (endpoint == QLatin1String("health"))
        return defaultHealth();
    if (endpoint == QLatin1String("sysinfo"))
        return defaultSysinfo();
    return defaultLicense();
}

Reply errorReply(int status, const QString& error, std::optional<qint64> skewSeconds)
{
    Reply reply;
    reply.status = status;
    reply.body = compactJson(QJsonObject{{"error", error}});
    reply.skewSeconds = skewSeconds;
    return reply;
}

Reply endpointReply(const Recorder& recorder, const QString& endpoint)
{
    const QJsonObject options = recorder.endpoints.value(endpoint);
    Reply reply;
    reply.status = options.value("status").toInt(200);
    if (options.contains("json")) {
        reply.body = compactJson(options.value("json"));
    } else if (options.contains("raw")) {
        reply.body = options.value("raw").toString().toUtf8();
        reply.contentType = "text/plain; charset=utf-8";
    } else if (options.contains("bodyMiB")) {
        reply.fillerBytes = qMax<qint64>(0, qint64(options.value("bodyMiB").toDouble() * mebibyte));
        reply.contentType = "application/octet-stream";
    } else {
        reply.body = compactJson(defaultDocument(recorder, endpoint));
    }
    reply.headers = options.value("headers").toObject();
    reply.delayMs = options.value("delayMs").toInt();
    reply.hang = options.value("hang").toBool();
    reply.skewSeconds = recorder.skewSeconds;
    reply.hasRawResponse = options.contains("rawResponse");
    // Latin-1, so that every byte value, also one that is not UTF-8, can be sent.
    reply.rawResponse = options.value("rawResponse").toString().toLatin1();
    reply.dripBytesPerSecond = options.value("dripBytesPerSecond").toInt();
    reply.resetAfterBytes = qint64(options.value("resetAfterBytes").toDouble(-1));
    reply.headerBytes = qint64(options.value("headerBytes").toDouble());
    reply.noContentLength = options.value("noContentLength").toString();
    return reply;
}

QString httpDate(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
}

std::string toStd(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The head of a request exactly as it arrived, so order and spelling of the headers are kept.
QList<QPair<QByteArray, QByteArray>> headersOf(const std::string& head)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    const QList<QByteArray> lines = QByteArray::fromStdString(head).split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            break;
        const int colon = line.indexOf(':');
        if (colon > 0)
            headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return headers;
}

bool checkType(const QJsonObject& object, const QString& key, bool (QJsonValue::*isType)() const, const QString& where,
               const QString& expected, QString* error)
{
    if (!object.contains(key) || (object.value(key).*isType)())
        return true;
    *error = QStringLiteral("%1: \"%2\" must be %3").arg(where, key, expected);
    return false;
}

bool validReply(const QJsonObject& reply, const QString& where, QString* error)
{
    if (!checkType(reply, "status", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "raw", &QJsonValue::isString, where, "a string", error) ||
        !checkType(reply, "bodyMiB", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "headers", &QJsonValue::isObject, where, "an object", error) ||
        !checkType(reply, "delayMs", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "hang", &QJsonValue::isBool, where, "a boolean", error) ||
        !checkType(reply, "rawResponse", &QJsonValue::isString, where, "a string", error) ||
        !checkType(reply, "dripBytesPerSecond", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "resetAfterBytes", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "headerBytes", &QJsonValue::isDouble, where, "a number", error) ||
        !checkType(reply, "noContentLength", &QJsonValue::isString, where, "a string", error))
        return false;
    const QString framing = reply.value("noContentLength").toString();
    if (reply.contains("noContentLength") && framing != QLatin1String("chunked") && framing != QLatin1String("close")) {
        *error = QStringLiteral("%1: \"noContentLength\" must be \"chunked\" or \"close\"").arg(where);
        return false;
    }
    const int status = reply.value("status").toInt(200);
    if (status < 100 || status > 599) {
        *error = QStringLiteral("%1: \"status\" must be an HTTP status").arg(where);
        return false;
    }
    const QJsonObject headers = reply.value("headers").toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        if (!it.value().isString() && !it.value().isNull()) {
            *error = QStringLiteral("%1: header \"%2\" must be a string or null").arg(where, it.key());
            return false;
        }
    }
    return true;
}

bool parseRecorder(const QJsonObject& object, Recorder* recorder, QString* error)
{
    recorder->login = object.value("login").toString();
    const QString where = QStringLiteral("recorder \"%1\"").arg(recorder->login);
    if (recorder->login.isEmpty()) {
        *error = QStringLiteral("a recorder needs a non-empty \"login\"");
        return false;
    }
    if (!checkType(object, "password", &QJsonValue::isString, where, "a string", error) ||
        !checkType(object, "salt", &QJsonValue::isString, where, "a string", error) ||
        !checkType(object, "auth", &QJsonValue::isObject, where, "an object", error) ||
        !checkType(object, "endpoints", &QJsonValue::isObject, where, "an object", error) ||
        !checkType(object, "rejectReplayedNonces", &QJsonValue::isBool, where, "a boolean", error))
        return false;
    const QJsonValue skew = object.value("dateSkewSeconds");
    if (!skew.isUndefined() && !skew.isNull() && !skew.isDouble()) {
        *error = QStringLiteral("%1: \"dateSkewSeconds\" must be a number or null").arg(where);
        return false;
    }
    recorder->password = object.value("password").toString().toUtf8();
    recorder->salt = object.value("salt").toString().toUtf8();
    recorder->skewSeconds = skew.isNull() ? std::nullopt : std::optional<qint64>(qint64(skew.toDouble()));
    if (object.contains("auth"))
        recorder->auth = object.value("auth").toObject();
    recorder->rejectReplayedNonces = object.value("rejectReplayedNonces").toBool();
    const QJsonObject endpoints = object.value("endpoints").toObject();
    for (auto it = endpoints.begin(); it != endpoints.end(); ++it) {
        const QString endpointWhere = QStringLiteral("%1, endpoint \"%2\"").arg(where, it.key());
        if (!endpointNames.contains(it.key())) {
            *error = QStringLiteral("%1: unknown endpoint").arg(endpointWhere);
            return false;
        }
        if (!it.value().isObject()) {
            *error = QStringLiteral("%1: must be an object").arg(endpointWhere);
            return false;
        }
        if (!validReply(it.value().toObject(), endpointWhere, error))
            return false;
        recorder->endpoints.insert(it.key(), it.value().toObject());
    }
    return true;
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

struct RecorderSim::Private
{
    mutable std::mutex mutex;
    std::condition_variable stopCondition;
    mutable std::condition_variable requestsCondition;
    QHash<QString, Recorder> recorders;
    QList<RecordedRequest> requests;
    bool stopping = false;

    std::mutex bcryptMutex;
    QHash<QPair<QByteArray, QByteArray>, QByteArray> bcryptCache;

    std::unique_ptr<HttpServer> server;
    std::thread serverThread;
    quint16 port = 0;

    void handle(const httplib::Request& request, httplib::Response& response);
    Reply route(const httplib::Request& request, RecordedRequest& record);
    QString checkWsse(const httplib::Request& request, std::optional<Recorder>& recorder);
    std::optional<Recorder> recorder(const QString& login) const;
    QByteArray cachedBcrypt(const QByteArray& password, const QByteArray& salt);
    void record(const RecordedRequest& request);
    bool sleepUnlessStopped(std::chrono::milliseconds duration);
    void answer(const Reply& reply, httplib::Response& response);
    void answerByHand(const Reply& reply, httplib::Response& response, ConnectionStream* stream);
};

std::optional<Recorder> RecorderSim::Private::recorder(const QString& login) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = recorders.constFind(login);
    return it == recorders.constEnd() ? std::nullopt : std::optional<Recorder>(*it);
}

QByteArray RecorderSim::Private::cachedBcrypt(const QByteArray& password, const QByteArray& salt)
{
    const auto key = qMakePair(password, salt);
    {
        std::lock_guard<std::mutex> lock(bcryptMutex);
        const auto it = bcryptCache.constFind(key);
        if (it != bcryptCache.constEnd())
            return *it;
    }
    // Hashed outside the lock: a high cost takes a noticeable time and must not hold up other requests.
    const QByteArray hashed = RecorderSim::bcrypt(password, salt);
    std::lock_guard<std::mutex> lock(bcryptMutex);
    bcryptCache.insert(key, hashed);
    return hashed;
}

QString RecorderSim::Private::checkWsse(const httplib::Request& request, std::optional<Recorder>& found)
{
    if (request.get_header_value("Authorization") != R"(WSSE profile="UsernameToken")")
        return QStringLiteral("Invalid Authorization header");
    static thread_local const QRegularExpression wsse(
        QStringLiteral(R"re(^UsernameToken Username="([^"]*)", PasswordDigest="([^"]*)", Nonce="([^"]*)", )re"
                       R"re(Created="([^"]*)"$)re"));
    const auto match = wsse.match(QString::fromLatin1(request.get_header_value("X-WSSE").c_str()));
    if (!match.hasMatch())
        return QStringLiteral("Invalid X-WSSE header");
    found = recorder(match.captured(1));
    if (!found)
        return QStringLiteral("Unknown user");
    const QString digest = match.captured(2);
    const QString nonce = match.captured(3);
    const QString created = match.captured(4);
    static thread_local const QRegularExpression nonceForm(QStringLiteral("^[A-Za-z0-9]{21}$"));
    if (!nonceForm.match(nonce).hasMatch())
        return QStringLiteral("Invalid nonce");
    static thread_local const QRegularExpression createdForm(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
    const QDateTime createdTime = QDateTime::fromString(created, Qt::ISODate);
    if (!createdForm.match(created).hasMatch() || !createdTime.isValid())
        return QStringLiteral("Invalid Created");
    const qint64 serverNowMs = QDateTime::currentMSecsSinceEpoch() + found->skewSeconds.value_or(0) * 1000;
    if (qAbs(createdTime.toMSecsSinceEpoch() - serverNowMs) > createdToleranceMs)
        return QStringLiteral("Created out of range");
    const QByteArray input = nonce.toLatin1() + created.toLatin1() + cachedBcrypt(found->password, found->salt);
    if (digest.toLatin1() != QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64())
        return QStringLiteral("Invalid password digest");
    if (found->rejectReplayedNonces) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = recorders.find(found->login);
        if (it != recorders.end() && !it->nonces.contains(nonce)) {
            it->nonces.insert(nonce);
            return {};
        }
        return QStringLiteral("Replayed nonce");
    }
    return {};
}

Reply RecorderSim::Private::route(const httplib::Request& request, RecordedRequest& record)
{
    const QString path = record.path.section(QLatin1Char('?'), 0, 0);
    if (request.method == "GET") {
        static thread_local const QRegularExpression authPath(QStringLiteral("^/api/v1\\.1/users/([^/]+)/auth$"));
        const auto match = authPath.match(path);
        if (match.hasMatch()) {
            const auto found = recorder(QUrl::fromPercentEncoding(match.captured(1).toLatin1()));
            if (!found)
                return errorReply(404, QStringLiteral("Unknown user"), 0);
            record.login = found->login;
            return endpointReply(*found, QStringLiteral("auth"));
        }
        static thread_local const QRegularExpression wssePath(QStringLiteral("^/api/v1\\.1/(health|sysinfo|license)$"));
        const auto endpoint = wssePath.match(path);
        if (endpoint.hasMatch()) {
            std::optional<Recorder> found;
            record.authError = checkWsse(request, found);
            if (found)
                record.login = found->login;
            if (!record.authError.isEmpty())
                return errorReply(401, record.authError, found ? found->skewSeconds : 0);
            return endpointReply(*found, endpoint.captured(1));
        }
    }
    return errorReply(404, QStringLiteral("Not found"), 0);
}

void RecorderSim::Private::record(const RecordedRequest& request)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.append(request);
    }
    requestsCondition.notify_all();
}

bool RecorderSim::Private::sleepUnlessStopped(std::chrono::milliseconds duration)
{
    std::unique_lock<std::mutex> lock(mutex);
    return !stopCondition.wait_for(lock, duration, [this] { return stopping; });
}

void RecorderSim::Private::answer(const Reply& reply, httplib::Response& response)
{
    response.status = reply.status;
    if (reply.noContentLength == QLatin1String("chunked")) {
        const qint64 total = reply.fillerBytes >= 0 ? reply.fillerBytes : reply.body.size();
        const std::string body = reply.fillerBytes >= 0 ? std::string() : reply.body.toStdString();
        response.set_chunked_content_provider(reply.contentType, [total, body](size_t offset, httplib::DataSink& sink) {
            static const std::string filler(64 * 1024, 'x');
            const qint64 left = total - qint64(offset);
            if (left <= 0) {
                sink.done();
                return true;
            }
            const size_t length = size_t(std::min<qint64>(left, qint64(filler.size())));
            return sink.write(body.empty() ? filler.data() : body.data() + offset, length);
        });
    } else if (reply.fillerBytes >= 0) {
        response.set_content_provider(size_t(reply.fillerBytes), reply.contentType,
                                      [](size_t, size_t length, httplib::DataSink& sink) {
                                          static const std::string filler(64 * 1024, 'x');
                                          return sink.write(filler.data(), std::min(length, filler.size()));
                                      });
    } else {
        response.set_content(reply.body.toStdString(), reply.contentType);
    }
    if (reply.skewSeconds)
        response.set_header("Date", toStd(httpDate(QDateTime::currentDateTimeUtc().addSecs(*reply.skewSeconds))));
    for (auto it = reply.headers.begin(); it != reply.headers.end(); ++it) {
        response.headers.erase(toStd(it.key()));
        if (it.value().isString())
            response.set_header(toStd(it.key()), toStd(it.value().toString()));
    }
    // Filler headers of about 1 KiB each, up to the size asked for.
    const std::string value(1000, 'h');
    for (qint64 i = 0, added = 0; added < reply.headerBytes; ++i, added += qint64(value.size()) + 24)
        response.set_header("X-Filler-" + std::to_string(i), value);
}

void RecorderSim::Private::answerByHand(const Reply& reply, httplib::Response& response, ConnectionStream* stream)
{
    // Whatever cpp-httplib would add afterwards is refused: the connection closes once this returns.
    const auto finish = [stream] { stream->mute(); };
    if (reply.hasRawResponse) {
        stream->write(reply.rawResponse.constData(), size_t(reply.rawResponse.size()));
        finish();
        return;
    }
    answer(reply, response);
    const qint64 total = reply.fillerBytes >= 0 ? reply.fillerBytes : reply.body.size();
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + (reply.status == 200 ? " OK" : " Status") + "\r\n";
    for (const auto& header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    if (reply.noContentLength != QLatin1String("close"))
        head += "Content-Length: " + std::to_string(total) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (stream->write(head.data(), head.size()) < 0)
        return finish();

    static const std::string filler(64 * 1024, 'x');
    const qint64 limit = reply.resetAfterBytes >= 0 ? std::min(reply.resetAfterBytes, total) : total;
    const qint64 chunk = reply.dripBytesPerSecond > 0 ? 1 : qint64(filler.size());
    for (qint64 sent = 0; sent < limit;) {
        const size_t length = size_t(std::min(chunk, limit - sent));
        const char* data = reply.fillerBytes >= 0 ? filler.data() : reply.body.constData() + sent;
        if (stream->write(data, length) < 0)
            return finish();
        sent += qint64(length);
        if (reply.dripBytesPerSecond > 0 &&
            (stream->peerClosed() || !sleepUnlessStopped(std::chrono::milliseconds(1000 / reply.dripBytesPerSecond))))
            return finish();
    }
    finish();
}

void RecorderSim::Private::handle(const httplib::Request& request, httplib::Response& response)
{
    ConnectionStream* stream = HttpServer::currentStream();
    RecordedRequest entry;
    entry.method = QString::fromStdString(request.method);
    entry.path = QString::fromStdString(request.target);
    entry.headers = headersOf(stream->consumed());
    entry.receivedMs = QDateTime::currentMSecsSinceEpoch();
    const Reply reply = route(request, entry);
    entry.status = reply.hang ? 0 : reply.status;
    record(entry);

    if (reply.hang) {
        // Polled rather than woken: cpp-httplib has no notice of a client that went away.
        while (sleepUnlessStopped(std::chrono::milliseconds(50)) && !stream->peerClosed()) {
        }
        stream->mute();
        return;
    }
    if (reply.delayMs > 0 && !sleepUnlessStopped(std::chrono::milliseconds(reply.delayMs))) {
        stream->mute();
        return;
    }
    if (reply.writtenByHand())
        answerByHand(reply, response, stream);
    else
        answer(reply, response);
}

RecorderSim::RecorderSim() : d(std::make_unique<Private>()) {}

RecorderSim::~RecorderSim()
{
    stop();
}

bool RecorderSim::loadScenario(const QJsonObject& scenario, QString* error)
{
    QString message;
    QHash<QString, Recorder> recorders;
    const QJsonValue list = scenario.value("recorders");
    if (!list.isArray())
        message = QStringLiteral("the scenario needs a \"recorders\" array");
    for (const QJsonValue& value : list.toArray()) {
        Recorder recorder;
        if (!value.isObject())
            message = QStringLiteral("each recorder must be an object");
        else if (parseRecorder(value.toObject(), &recorder, &message) && recorders.contains(recorder.login))
            message = QStringLiteral("recorder \"%1\" is given twice").arg(recorder.login);
        if (!message.isEmpty())
            break;
        recorders.insert(recorder.login, recorder);
    }
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    d->recorders = recorders;
    return true;
}

bool RecorderSim::loadScenarioFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error) {
            const QString reason = document.isNull() ? parseError.errorString() : QStringLiteral("not a JSON object");
            *error = QStringLiteral("%1: %2").arg(path, reason);
        }
        return false;
    }
    return loadScenario(document.object(), error);
}

void RecorderSim::hashAll(const QString& cachePath)
{
    QList<QPair<QByteArray, QByteArray>> keys;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        for (const Recorder& recorder : qAsConst(d->recorders))
            keys << qMakePair(recorder.password, recorder.salt);
    }
    // One line per hash: the password in hex (it may hold any byte), the setting, the hash.
    QFile cache(cachePath);
    if (!cachePath.isEmpty() && cache.open(QIODevice::ReadOnly)) {
        std::lock_guard<std::mutex> lock(d->bcryptMutex);
        for (const QByteArray& line : cache.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 3)
                d->bcryptCache.insert(qMakePair(QByteArray::fromHex(fields.at(0)), fields.at(1)), fields.at(2));
        }
        cache.close();
    }
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
        workers.emplace_back([this, &keys, &next] {
            for (int at = next++; at < keys.size(); at = next++)
                d->cachedBcrypt(keys.at(at).first, keys.at(at).second);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    if (cachePath.isEmpty() || !cache.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    std::lock_guard<std::mutex> lock(d->bcryptMutex);
    for (auto it = d->bcryptCache.constBegin(); it != d->bcryptCache.constEnd(); ++it)
        cache.write(it.key().first.toHex() + '\t' + it.key().second + '\t' + it.value() + '\n');
}

bool RecorderSim::start(quint16 port)
{
    stop();
    auto server = std::make_unique<HttpServer>();
    server->new_task_queue = [] { return new httplib::ThreadPool(64); };
    // Headers and body go out in separate writes; without this each reply waits for the client's delayed ACK.
    server->set_tcp_nodelay(true);
    // The library's default of five requests per connection is far below what recorders allow; a client
    // polling hundreds of recorders through one address would mostly be measuring reconnections.
    server->set_keep_alive_max_count(100);
    const httplib::Server::Handler handler = [this](const httplib::Request& request, httplib::Response& response) {
        d->handle(request, response);
    };
    server->Get(".*", handler).Post(".*", handler).Put(".*", handler);
    server->Patch(".*", handler).Delete(".*", handler).Options(".*", handler);
    const int bound =
        port == 0 ? server->bind_to_any_port("127.0.0.1") : (server->bind_to_port("127.0.0.1", port) ? int(port) : -1);
    if (bound <= 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = false;
    }
    HttpServer* running = server.get();
    d->serverThread = std::thread([running] { running->listen_after_bind(); });
    // A stop() issued before the accept loop runs would be missed by cpp-httplib.
    while (!running->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->server = std::move(server);
    d->port = quint16(bound);
    return true;
}

void RecorderSim::stop()
{
    if (!d->server)
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->stopCondition.notify_all();
    d->server->shutdown();
    d->serverThread.join();
    d->server.reset();
    d->port = 0;
}

quint16 RecorderSim::port() const
{
    return d->port;
}

void RecorderSim::setEndpoint(const QString& login, const QString& endpoint, const QJsonObject& reply)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto it = d->recorders.find(login);
    if (it != d->recorders.end())
        it->endpoints.insert(endpoint, reply);
}

void RecorderSim::setRecorder(const QJsonObject& recorder)
{
    Recorder parsed;
    QString error;
    if (!parseRecorder(recorder, &parsed, &error)) {
        qWarning("RecorderSim::setRecorder: %s", qPrintable(error));
        return;
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    d->recorders.insert(parsed.login, parsed);
}

QList<RecordedRequest> RecorderSim::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->requests;
}

void RecorderSim::clearRequests()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->requests.clear();
}

bool RecorderSim::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->requestsCondition.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [this, count] { return d->requests.size() >= count; });
}

QByteArray RecorderSim::bcrypt(const QByteArray& password, const QByteArray& setting)
{
    const QByteArray refused = setting.startsWith("*0") ? QByteArrayLiteral("*1") : QByteArrayLiteral("*0");
    // A client refuses the other methods of the hash function, some of which take hours: so does the
    // simulator, which checks such a client's digest against the failure token.
    if (!setting.startsWith("$2"))
        return refused;
    // crypt_rn needs a whole crypt_data; the result is then cut to the 61 bytes a client hashes.
    const auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_rn(password.constData(), setting.constData(), data.get(), int(sizeof(crypt_data)));
    if (!hashed)
        return refused;
    char output[61] = {};
    qstrncpy(output, hashed, sizeof output);
    return QByteArray(output);
}
