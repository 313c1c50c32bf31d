#pragma once

// Fixtures shared by the monitor tests: records, JSON, short intervals and simulator recorders.
#include "monitor/ServerManager.h"
#include "tools/recorder-sim/RecorderSim.h"

#include <QtTest>
#include <limits>

namespace MonitorTest {

const QString salt04 = QStringLiteral("$2b$04$Ro0CUfOqk6Ei.OgoyH5XNu");
const QString timeoutText = QStringLiteral("The server did not answer in time");
const QString tooLargeText = QStringLiteral("The server's reply is too large");
const QString parseText = QStringLiteral("Error while parsing json response");

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool underAsan = true;
#else
constexpr bool underAsan = false;
#endif
#else
constexpr bool underAsan = false;
#endif

// Short enough for a test, long enough that a loaded machine keeps the order of events.
inline MonitorSettings shortSettings()
{
    MonitorSettings settings;
    settings.pollInterval = 200;
    settings.authRetryInterval = 300;
    settings.requestTimeout = 1000;
    return settings;
}

inline std::shared_ptr<Server> makeServer(const QString& login = QStringLiteral("l"),
                                          const QString& password = QStringLiteral("p"))
{
    return std::make_shared<Server>(QStringLiteral("n"), QStringLiteral("127.0.0.1"), 1, login, password);
}

inline QJsonDocument json(const QByteArray& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text.constData());
    return doc;
}

inline QJsonObject recorder(const QString& login, const QJsonObject& endpoints = {},
                            const QString& password = QStringLiteral("secret"), const QString& salt = salt04)
{
    return {{"login", login}, {"password", password}, {"salt", salt}, {"endpoints", endpoints}};
}

inline bool load(RecorderSim& sim, const QJsonArray& recorders)
{
    QString error;
    if (!sim.loadScenario({{"recorders", recorders}}, &error))
        qWarning("%s", qPrintable(error));
    return error.isEmpty();
}

inline std::shared_ptr<Server> addServer(const RecorderSim& sim, const QString& login,
                                         const QString& password = QStringLiteral("secret"))
{
    return ServerManager::instance()->addServer(login + QStringLiteral(" server"), QStringLiteral("127.0.0.1"),
                                                sim.port(), login, password);
}

inline void removeAllServers()
{
    const QList<std::shared_ptr<Server>> added = ServerManager::instance()->serverList();
    for (const auto& server : added)
        ServerManager::instance()->removeServer(server);
}

// "auth" for the authentication path, else the last segment ("health", "sysinfo", "license").
inline QString endpointOf(const RecordedRequest& request)
{
    return request.path.endsWith(QLatin1String("/auth")) ? QStringLiteral("auth")
                                                         : request.path.section(QLatin1Char('/'), -1);
}

// The requests the simulator routed to one recorder, of one endpoint or (empty) of all.
inline QList<RecordedRequest> requestsOf(const RecorderSim& sim, const QString& login, const QString& endpoint = {})
{
    QList<RecordedRequest> found;
    for (const RecordedRequest& request : sim.requests()) {
        if (request.login == login && (endpoint.isEmpty() || endpointOf(request) == endpoint))
            found.append(request);
    }
    return found;
}

inline int countOf(const RecorderSim& sim, const QString& login, const QString& endpoint)
{
    return requestsOf(sim, login, endpoint).size();
}

// Keeps the event loop running, so the monitor goes on sending, until the requests have arrived.
inline bool waitForRequests(const RecorderSim& sim, const QString& login, const QString& endpoint, int count,
                            int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (countOf(sim, login, endpoint) < count) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QTest::qWait(10);
    }
    return true;
}

// The requests of a recorder that the simulator did not answer with 200 and a valid WSSE token.
inline QStringList refused(const RecorderSim& sim, const QString& login)
{
    QStringList lines;
    for (const RecordedRequest& request : requestsOf(sim, login)) {
        if (request.status != 200 || !request.authError.isEmpty())
            lines.append(QStringLiteral("%1 %2 %3").arg(request.path).arg(request.status).arg(request.authError));
    }
    return lines;
}

// The smallest time between two consecutive requests, in ms.
inline qint64 shortestGap(const QList<RecordedRequest>& requests)
{
    qint64 gap = std::numeric_limits<qint64>::max();
    for (int i = 1; i < requests.size(); ++i)
        gap = qMin(gap, requests.at(i).receivedMs - requests.at(i - 1).receivedMs);
    return gap;
}

// A memory figure of this process in KiB ("VmRSS", "VmHWM"), -1 where there is none.
inline qint64 memoryKiB(const QByteArray& field)
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(field + ':'))
                return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
#else
    Q_UNUSED(field)
#endif
    return -1;
}

} // namespace MonitorTest
