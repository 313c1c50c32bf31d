#include "monitor/BcryptCache.h"
#include "monitor/ServerManager.h"
#include "tools/recorder-sim/RecorderSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QtTest>

namespace {

const QString salt04 = QStringLiteral("$2b$04$Ro0CUfOqk6Ei.OgoyH5XNu");
const QString timeoutText = QStringLiteral("The server did not answer in time");
const QString tooLargeText = QStringLiteral("The server's reply is too large");
const QString parseText = QStringLiteral("Error while parsing json response");

// Sees every request as the network access manager creates its reply, so the order of sending is
// known without relying on the order in which parallel connections reach the simulator.
class SendOrder : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded) {
            // The reply is still being constructed: read its URL once get() has returned.
            const QPointer<QObject> child = static_cast<QChildEvent*>(event)->child();
            QMetaObject::invokeMethod(
                this,
                [this, child] {
                    if (auto* reply = qobject_cast<QNetworkReply*>(child.data()))
                        paths.append(reply->url().path(QUrl::FullyEncoded));
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

    QStringList paths;
};

QString endpointOf(const RecordedRequest& request)
{
    if (request.path.endsWith(QLatin1String("/auth")))
        return QStringLiteral("auth");
    return request.path.section(QLatin1Char('/'), -1);
}

// One signal of a record with the fields the views would read at that moment.
struct Event
{
    QString signal;
    bool initialized;
    QString alarmsError;
    QString infoError;
};

qint64 peakRssKiB()
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
#endif
    return -1;
}

} // namespace

class TestServerManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestHeaders();
    void signalOrder();
    void pollPeriod();
    void retryAfterFailedAuth();
    void failures_data();
    void failures();
    void connectionRefused();
    void twoServers();
    void unusableAddress_data();
    void unusableAddress();
    void removalWithRepliesInFlight_data();
    void removalWithRepliesInFlight();
    void removalSaves();
    void editWhileAuthenticating();
    void hangingServer();
    void hugeBody();
    void awkwardLogin_data();
    void awkwardLogin();
    void clockStep_data();
    void clockStep();
    void noncesNeverReplayed();
    void bcryptWorker_data();
    void bcryptWorker();
    void withoutCache();

private:
    QJsonObject recorder(const QString& login, const QString& password = QStringLiteral("secret"),
                         const QString& salt = salt04) const;
    void load(const QList<QJsonObject>& recorders);
    std::shared_ptr<Server> add(const QString& login, const QString& password = QStringLiteral("secret"));
    QList<RecordedRequest> requestsOf(const QString& login, const QString& endpoint = QString()) const;
    bool waitForRequests(const QString& login, const QString& endpoint, int count, int timeoutMs = 10000) const;
    void watch(const std::shared_ptr<Server>& server);
    QString dump(const QString& login, const std::shared_ptr<Server>& server) const;

    RecorderSim sim;
    SendOrder sendOrder;
    ServerManager* manager = nullptr;
    QList<Event> events;
    MonitorSettings shortSettings;
};

QJsonObject TestServerManager::recorder(const QString& login, const QString& password, const QString& salt) const
{
    return {{"login", login}, {"password", password}, {"salt", salt}};
}

void TestServerManager::load(const QList<QJsonObject>& recorders)
{
    QJsonArray list;
    for (const QJsonObject& r : recorders)
        list.append(r);
    QString error;
    QVERIFY2(sim.loadScenario({{"recorders", list}}, &error), qPrintable(error));
}

std::shared_ptr<Server> TestServerManager::add(const QString& login, const QString& password)
{
    return manager->addServer(login + QStringLiteral(" server"), QStringLiteral("127.0.0.1"), sim.port(), login,
                              password);
}

QList<RecordedRequest> TestServerManager::requestsOf(const QString& login, const QString& endpoint) const
{
    QList<RecordedRequest> found;
    for (const RecordedRequest& request : sim.requests()) {
        if (request.login == login && (endpoint.isEmpty() || endpointOf(request) == endpoint))
            found.append(request);
    }
    return found;
}

bool TestServerManager::waitForRequests(const QString& login, const QString& endpoint, int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (requestsOf(login, endpoint).size() < count) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QTest::qWait(10);
    }
    return true;
}

void TestServerManager::watch(const std::shared_ptr<Server>& server)
{
    Server* record = server.get();
    const auto note = [this, record](const char* signal) {
        events.append({QString::fromLatin1(signal), record->initialized, record->alarmsError, record->infoError});
    };
    connect(record, &Server::alarmsUpdated, this, [note] { note("alarms"); });
    connect(record, &Server::infoUpdated, this, [note] { note("info"); });
}

// What a failing network test saw, for its message.
QString TestServerManager::dump(const QString& login, const std::shared_ptr<Server>& server) const
{
    QStringList lines;
    for (const RecordedRequest& request : requestsOf(login))
        lines.append(QStringLiteral("%1 %2 %3").arg(request.path).arg(request.status).arg(request.authError));
    lines.append(QStringLiteral("initialized %1, alarmsError \"%2\", infoError \"%3\"")
                     .arg(server->initialized)
                     .arg(server->alarmsError, server->infoError));
    return lines.join(QLatin1Char('\n'));
}

void TestServerManager::initTestCase()
{
    QVERIFY(sim.start());
    manager = ServerManager::instance();
    auto* network = manager->findChild<QNetworkAccessManager*>();
    QVERIFY(network);
    network->installEventFilter(&sendOrder);
    shortSettings.pollInterval = 300;
    shortSettings.authRetryInterval = 500;
    shortSettings.requestTimeout = 1000;
}

void TestServerManager::init()
{
    manager->setSettings(shortSettings);
    sim.clearRequests();
    sendOrder.paths.clear();
    events.clear();
}

void TestServerManager::cleanup()
{
    const QList<std::shared_ptr<Server>> added = manager->serverList();
    for (const auto& server : added)
        manager->removeServer(server);
    manager->setSaveHandler({});
    manager->setSettings(MonitorSettings());
}

void TestServerManager::requestHeaders()
{
    load({recorder(QStringLiteral("hdr"))});
    auto server = add(QStringLiteral("hdr"));
    QVERIFY(waitForRequests(QStringLiteral("hdr"), QStringLiteral("license"), 1));
    QTRY_VERIFY(server->infoError.isEmpty() && !server->license.isEmpty());

    const QByteArray language = qgetenv("QUELVANE_EXPECTED_LANGUAGE");
    for (const RecordedRequest& request : requestsOf(QStringLiteral("hdr"))) {
        QCOMPARE(request.method, QStringLiteral("GET"));
        QList<QByteArray> ours;
        for (const auto& header : request.headers) {
            if (header.first == "Authorization" || header.first == "X-WSSE" || header.first == "Accept-Language")
                ours.append(header.first);
        }
        if (!language.isEmpty())
            QCOMPARE(request.header("Accept-Language"), language);
        if (endpointOf(request) == QLatin1String("auth")) {
            QCOMPARE(request.path, QStringLiteral("/api/v1.1/users/hdr/auth"));
            QCOMPARE(ours, QList<QByteArray>{"Accept-Language"});
        } else {
            QCOMPARE(request.path, QStringLiteral("/api/v1.1/") + endpointOf(request));
            QCOMPARE(ours, (QList<QByteArray>{"Authorization", "X-WSSE", "Accept-Language"}));
            QCOMPARE(request.header("Authorization"), QByteArrayLiteral("WSSE profile=\"UsernameToken\""));
            QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
            QCOMPARE(request.status, 200);
        }
    }
    const QString host = QStringLiteral("/api/v1.1/");
    const QStringList sent = sendOrder.paths.mid(0, 4);
    QCOMPARE(sent, (QStringList{host + QStringLiteral("users/hdr/auth"), host + QStringLiteral("health"),
                                host + QStringLiteral("sysinfo"), host + QStringLiteral("license")}));
}

void TestServerManager::signalOrder()
{
    load({recorder(QStringLiteral("sig"))});
    auto server = add(QStringLiteral("sig"));
    watch(server);
    // Nothing leaves before the event loop runs again.
    QVERIFY(events.isEmpty());
    QVERIFY(!server->initialized);
    QVERIFY(server->initTimer.isActive());
    QVERIFY(sendOrder.paths.isEmpty());

    QTRY_VERIFY(events.size() >= 2);
    QCOMPARE(events.at(0).signal, QStringLiteral("info"));
    QCOMPARE(events.at(1).signal, QStringLiteral("alarms"));
    QVERIFY(!events.at(0).initialized && !events.at(1).initialized);

    QTRY_VERIFY(!server->license.isEmpty());
    QTRY_VERIFY(events.size() >= 4);
    // After the two of initServer: one alarms (health) and one info (licence), the good auth reply signals nothing.
    QStringList rest;
    for (int i = 2; i < 4; ++i) {
        rest.append(events.at(i).signal);
        QVERIFY(events.at(i).initialized);
        QVERIFY(events.at(i).alarmsError.isEmpty() && events.at(i).infoError.isEmpty());
    }
    rest.sort();
    QCOMPARE(rest, (QStringList{QStringLiteral("alarms"), QStringLiteral("info")}));
    QVERIFY(server->alarmsTimer.isActive());
    QCOMPARE(server->alarmsTimer.interval(), shortSettings.pollInterval);
    QCOMPARE(server->salt, salt04);
    QVERIFY(!server->sysInfo.isEmpty());

    // Polling: alarms only, one per health reply.
    events.clear();
    QVERIFY(waitForRequests(QStringLiteral("sig"), QStringLiteral("health"), 3));
    QTRY_VERIFY(!events.isEmpty());
    for (const Event& event : qAsConst(events))
        QCOMPARE(event.signal, QStringLiteral("alarms"));
    QCOMPARE(requestsOf(QStringLiteral("sig"), QStringLiteral("sysinfo")).size(), 1);
    QCOMPARE(requestsOf(QStringLiteral("sig"), QStringLiteral("license")).size(), 1);
}

void TestServerManager::pollPeriod()
{
    load({recorder(QStringLiteral("poll"))});
    add(QStringLiteral("poll"));
    QVERIFY(waitForRequests(QStringLiteral("poll"), QStringLiteral("health"), 6));
    const QList<RecordedRequest> health = requestsOf(QStringLiteral("poll"), QStringLiteral("health"));
    for (int i = 1; i < health.size(); ++i) {
        const qint64 gap = health.at(i).receivedMs - health.at(i - 1).receivedMs;
        QVERIFY2(gap >= 200, qPrintable(QString::number(gap)));
    }
    QCOMPARE(requestsOf(QStringLiteral("poll"), QStringLiteral("auth")).size(), 1);
}

void TestServerManager::retryAfterFailedAuth()
{
    QJsonObject r = recorder(QStringLiteral("retry"));
    r["endpoints"] = QJsonObject{{"auth", QJsonObject{{"status", 500}, {"raw", ""}}}};
    load({r});
    auto server = add(QStringLiteral("retry"));
    watch(server);
    QTRY_VERIFY(server->initialized);
    QVERIFY(!server->alarmsError.isEmpty());
    QCOMPARE(server->infoError, server->alarmsError);
    QVERIFY(server->initTimer.isActive());
    QCOMPARE(server->initTimer.interval(), shortSettings.authRetryInterval);
    QVERIFY(!server->alarmsTimer.isActive());
    QCOMPARE(events.size(), 4);
    QCOMPARE(events.at(2).signal, QStringLiteral("alarms"));
    QCOMPARE(events.at(3).signal, QStringLiteral("info"));
    QVERIFY(events.at(2).initialized);

    QVERIFY(waitForRequests(QStringLiteral("retry"), QStringLiteral("auth"), 3));
    const QList<RecordedRequest> auth = requestsOf(QStringLiteral("retry"), QStringLiteral("auth"));
    for (int i = 1; i < auth.size(); ++i)
        QVERIFY(auth.at(i).receivedMs - auth.at(i - 1).receivedMs >= 400);
    QVERIFY(requestsOf(QStringLiteral("retry"), QStringLiteral("health")).isEmpty());

    // Once the server accepts, monitoring starts from the retry.
    sim.setEndpoint(QStringLiteral("retry"), QStringLiteral("auth"), {});
    QVERIFY(waitForRequests(QStringLiteral("retry"), QStringLiteral("license"), 1));
    QTRY_VERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty() && server->initialized);
    QVERIFY(!server->initTimer.isActive());
}

void TestServerManager::failures_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QString>("error"); // empty: the network layer's own text

    const QStringList endpoints{QStringLiteral("auth"), QStringLiteral("health"), QStringLiteral("sysinfo"),
                                QStringLiteral("license")};
    const QString deep = QString(10000, QLatin1Char('[')) + QString(10000, QLatin1Char(']'));
    for (const QString& endpoint : endpoints) {
        const auto row = [&endpoint](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(endpoint + QLatin1Char(' ') + QLatin1String(name)));
        };
        row("401 with error") << endpoint
                              << QJsonObject{{"status", 401}, {"json", QJsonObject{{"error", "Bad credentials"}}}}
                              << QStringLiteral("Bad credentials");
        row("403 error not a string") << endpoint << QJsonObject{{"status", 403}, {"json", QJsonObject{{"error", 42}}}}
                                      << QString();
        row("404 array body") << endpoint << QJsonObject{{"status", 404}, {"json", QJsonArray{"error"}}} << QString();
        row("500 empty") << endpoint << QJsonObject{{"status", 500}, {"raw", ""}} << QString();
        row("302") << endpoint
                   << QJsonObject{{"status", 302}, {"raw", ""}, {"headers", QJsonObject{{"Location", "/elsewhere"}}}}
                   << QString();
        row("200 not JSON") << endpoint << QJsonObject{{"raw", "<html>hello</html>"}} << parseText;
        row("200 truncated") << endpoint << QJsonObject{{"raw", R"({"health":{"recorder":tr)"}} << parseText;
        row("200 nested 10000 deep") << endpoint << QJsonObject{{"raw", deep}} << parseText;
        row("204 empty") << endpoint << QJsonObject{{"status", 204}, {"raw", ""}} << QString();
    }
}

void TestServerManager::failures()
{
    QFETCH(QString, endpoint);
    QFETCH(QJsonObject, reply);
    QFETCH(QString, error);
    const QString login = QStringLiteral("fail");
    QJsonObject r = recorder(login);
    r["endpoints"] = QJsonObject{{endpoint, reply}};
    load({r});
    auto server = add(login);
    const auto check = [&](const QString& text) {
        if (error.isEmpty()) {
            QVERIFY(!text.isEmpty());
            QVERIFY(text != parseText);
        } else {
            QCOMPARE(text, error);
        }
    };

    if (endpoint == QLatin1String("auth")) {
        QTRY_VERIFY(server->initialized);
        check(server->alarmsError);
        QCOMPARE(server->infoError, server->alarmsError);
        QVERIFY(server->initTimer.isActive());
        QVERIFY(waitForRequests(login, QStringLiteral("auth"), 2));
        QVERIFY(requestsOf(login, QStringLiteral("health")).isEmpty());
    } else if (endpoint == QLatin1String("health")) {
        QTRY_VERIFY(server->initialized && !server->alarmsError.isEmpty());
        check(server->alarmsError);
        QVERIFY(server->recorderOk() && server->camerasOk() && server->hardwareOk());
        // The next poll still happens, and a failed poll never re-authenticates.
        QVERIFY(waitForRequests(login, QStringLiteral("health"), 3));
        QCOMPARE(requestsOf(login, QStringLiteral("auth")).size(), 1);
        QTRY_VERIFY(!server->license.isEmpty());
        QVERIFY(server->infoError.isEmpty());
    } else if (endpoint == QLatin1String("sysinfo")) {
        QTRY_VERIFY(server->initialized && !server->infoError.isEmpty());
        check(server->infoError);
        QVERIFY(server->sysInfo.isEmpty());
        QVERIFY(waitForRequests(login, QStringLiteral("health"), 3));
        QVERIFY(requestsOf(login, QStringLiteral("license")).isEmpty());
        QVERIFY(server->alarmsError.isEmpty());
    } else {
        QTRY_VERIFY(server->initialized && !server->infoError.isEmpty());
        check(server->infoError);
        QVERIFY(!server->sysInfo.isEmpty());
        QVERIFY(server->license.isEmpty());
        QCOMPARE(requestsOf(login, QStringLiteral("license")).size(), 1);
    }
}

void TestServerManager::connectionRefused()
{
    RecorderSim closed;
    QVERIFY(closed.start());
    const quint16 port = closed.port();
    closed.stop();
    auto server = manager->addServer(QStringLiteral("gone"), QStringLiteral("127.0.0.1"), port, QStringLiteral("gone"),
                                     QStringLiteral("x"));
    QSignalSpy info(server.get(), &Server::infoUpdated);
    QTRY_VERIFY(server->initialized);
    QVERIFY(!server->alarmsError.isEmpty());
    QCOMPARE(server->infoError, server->alarmsError);
    // Each attempt signals twice (start, failure); a new attempt follows the retry interval.
    QTRY_VERIFY(info.count() >= 4);
    QTRY_VERIFY(server->initialized);
    QVERIFY(!server->alarmsError.isEmpty());
}

void TestServerManager::twoServers()
{
    QJsonObject bad = recorder(QStringLiteral("two-b"));
    bad["endpoints"] = QJsonObject{{"auth", QJsonObject{{"status", 401}, {"json", QJsonObject{{"error", "No"}}}}}};
    QJsonObject alarming = recorder(QStringLiteral("two-a"));
    alarming["endpoints"] = QJsonObject{
        {"health",
         QJsonObject{{"json", QJsonObject{{"health", QJsonObject{{"recorder", false}}},
                                          {"errorDetails", QJsonObject{{"recorder", QJsonArray{"disk full"}}}}}}}}};
    load({alarming, bad});
    auto a = add(QStringLiteral("two-a"));
    auto b = add(QStringLiteral("two-b"));
    QCOMPARE(manager->serverList(), (QList<std::shared_ptr<Server>>{a, b}));
    QCOMPARE(manager->toJson().toArray(), (QJsonArray{a->toJson(), b->toJson()}));

    QTRY_VERIFY(a->recorderErrors == QStringList{QStringLiteral("disk full")});
    QTRY_COMPARE(b->alarmsError, QStringLiteral("No"));
    QVERIFY(a->alarmsError.isEmpty());
    QVERIFY(b->recorderErrors.isEmpty());
    QVERIFY(waitForRequests(QStringLiteral("two-b"), QStringLiteral("auth"), 2));
    QCOMPARE(requestsOf(QStringLiteral("two-a"), QStringLiteral("auth")).size(), 1);
    QVERIFY(requestsOf(QStringLiteral("two-b"), QStringLiteral("health")).isEmpty());
}

void TestServerManager::unusableAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("empty host") << QString() << 80;
    QTest::newRow("host with blank") << QStringLiteral("exa mple") << 80;
    QTest::newRow("host with slash") << QStringLiteral("a/b") << 80;
    QTest::newRow("negative port") << QStringLiteral("127.0.0.1") << -5;
    QTest::newRow("port too large") << QStringLiteral("127.0.0.1") << 70000;
    QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << 0;
}

void TestServerManager::unusableAddress()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    auto server = manager->addServer(QStringLiteral("bad"), host, port, QStringLiteral("bad"), QStringLiteral("x"));
    QSignalSpy info(server.get(), &Server::infoUpdated);
    QTRY_VERIFY(server->initialized);
    QVERIFY(!server->alarmsError.isEmpty());
    QCOMPARE(server->infoError, server->alarmsError);
    // And it is tried again.
    QTRY_VERIFY(info.count() >= 4);
}

void TestServerManager::removalWithRepliesInFlight_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::newRow("auth") << QStringLiteral("auth");
    QTest::newRow("health") << QStringLiteral("health");
    QTest::newRow("sysinfo") << QStringLiteral("sysinfo");
    QTest::newRow("license") << QStringLiteral("license");
}

void TestServerManager::removalWithRepliesInFlight()
{
    QFETCH(QString, endpoint);
    const QString login = QStringLiteral("gone-") + endpoint;
    QJsonObject r = recorder(login);
    r["endpoints"] = QJsonObject{{endpoint, QJsonObject{{"delayMs", 600}}}};
    load({r});
    auto server = add(login);
    QVERIFY(waitForRequests(login, endpoint, 1));
    manager->removeServer(server);
    QVERIFY(!manager->serverList().contains(server));

    // The fields as they stand now, plus markers that any handler would overwrite.
    server->alarmsError = QStringLiteral("marker");
    server->infoError = QStringLiteral("marker");
    const bool initialized = server->initialized;
    const QJsonObject sysInfo = server->sysInfo;
    const QJsonObject license = server->license;
    QSignalSpy alarms(server.get(), &Server::alarmsUpdated);
    QSignalSpy info(server.get(), &Server::infoUpdated);
    const int before = requestsOf(login).size();

    QTest::qWait(1500);
    QCOMPARE(alarms.count(), 0);
    QCOMPARE(info.count(), 0);
    QCOMPARE(server->alarmsError, QStringLiteral("marker"));
    QCOMPARE(server->infoError, QStringLiteral("marker"));
    QCOMPARE(server->initialized, initialized);
    QCOMPARE(server->sysInfo, sysInfo);
    QCOMPARE(server->license, license);
    QVERIFY(!server->alarmsTimer.isActive());
    QVERIFY(!server->initTimer.isActive());
    QCOMPARE(requestsOf(login).size(), before);
}

void TestServerManager::removalSaves()
{
    load({recorder(QStringLiteral("save"))});
    auto server = add(QStringLiteral("save"));
    auto other = add(QStringLiteral("save-other"));
    QStringList steps;
    manager->setSaveHandler([&] {
        steps.append(QStringLiteral("save"));
        QCOMPARE(manager->serverList(), QList<std::shared_ptr<Server>>{other});
    });
    connect(manager, &ServerManager::serverRemoved, this, [&](std::shared_ptr<Server> removed) {
        steps.append(QStringLiteral("removed"));
        QCOMPARE(removed, server);
    });
    manager->removeServer(server);
    QCOMPARE(steps, (QStringList{QStringLiteral("save"), QStringLiteral("removed")}));
    QCOMPARE(manager->toJson().toArray(), QJsonArray{other->toJson()});
    disconnect(manager, &ServerManager::serverRemoved, this, nullptr);

    // Without a handler removal still works.
    manager->setSaveHandler({});
    manager->removeServer(other);
    QVERIFY(manager->serverList().isEmpty());
    QTest::qWait(200);
    QVERIFY(requestsOf(QStringLiteral("save")).isEmpty());
}

void TestServerManager::editWhileAuthenticating()
{
    const QString login = QStringLiteral("edit");
    QJsonObject r = recorder(login);
    r["endpoints"] = QJsonObject{{"auth", QJsonObject{{"delayMs", 600}}}};
    load({r});
    auto server = add(login);
    watch(server);
    QVERIFY(waitForRequests(login, QStringLiteral("auth"), 1));
    sim.setEndpoint(login, QStringLiteral("auth"), {});
    events.clear();
    server->name = QStringLiteral("renamed");
    manager->initServer(server);
    QCOMPARE(events.size(), 2);
    QCOMPARE(events.at(0).signal, QStringLiteral("info"));
    QCOMPARE(events.at(1).signal, QStringLiteral("alarms"));

    // Well past the old reply: one round only, so one sysinfo and one poll per period.
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 6));
    QCOMPARE(requestsOf(login, QStringLiteral("auth")).size(), 2);
    QCOMPARE(requestsOf(login, QStringLiteral("sysinfo")).size(), 1);
    QCOMPARE(requestsOf(login, QStringLiteral("license")).size(), 1);
    const QList<RecordedRequest> health = requestsOf(login, QStringLiteral("health"));
    for (int i = 1; i < health.size(); ++i) {
        const qint64 gap = health.at(i).receivedMs - health.at(i - 1).receivedMs;
        QVERIFY2(gap >= 200, qPrintable(QString::number(gap)));
    }

    // An edit while monitoring: the old poll stops, the new round polls alone.
    const int healthBefore = requestsOf(login, QStringLiteral("health")).size();
    manager->initServer(server);
    QVERIFY(waitForRequests(login, QStringLiteral("sysinfo"), 2));
    QVERIFY(waitForRequests(login, QStringLiteral("health"), healthBefore + 5));
    const QList<RecordedRequest> later = requestsOf(login, QStringLiteral("health")).mid(healthBefore);
    for (int i = 1; i < later.size(); ++i)
        QVERIFY(later.at(i).receivedMs - later.at(i - 1).receivedMs >= 200);
}

void TestServerManager::hangingServer()
{
    const QString login = QStringLiteral("hang");
    QJsonObject r = recorder(login);
    r["endpoints"] = QJsonObject{{"auth", QJsonObject{{"hang", true}}}};
    load({r});
    auto server = add(login);
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 5000);
    QCOMPARE(server->alarmsError, timeoutText);
    QCOMPARE(server->infoError, timeoutText);
    QVERIFY(server->initTimer.isActive());
    QVERIFY(waitForRequests(login, QStringLiteral("auth"), 2));

    // A health request that hangs fails alone; polling goes on.
    sim.setEndpoint(login, QStringLiteral("auth"), {});
    sim.setEndpoint(login, QStringLiteral("health"), {{"hang", true}});
    QVERIFY(waitForRequests(login, QStringLiteral("license"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, timeoutText, 5000);
    QVERIFY(server->infoError.isEmpty());
    const int polls = requestsOf(login, QStringLiteral("health")).size();
    QVERIFY(waitForRequests(login, QStringLiteral("health"), polls + 2));
}

void TestServerManager::hugeBody()
{
    const QString login = QStringLiteral("huge");
    QJsonObject r = recorder(login);
    r["endpoints"] = QJsonObject{{"health", QJsonObject{{"bodyMiB", 64}}}, {"sysinfo", QJsonObject{{"bodyMiB", 17}}}};
    load({r});
    MonitorSettings settings = shortSettings;
    settings.requestTimeout = 20000;
    settings.pollInterval = 2000;
    manager->setSettings(settings);
    const qint64 before = peakRssKiB();
    auto server = add(login);
    QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, tooLargeText, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(server->infoError, tooLargeText, 20000);
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 2, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);
    const qint64 after = peakRssKiB();
    if (before > 0)
        QVERIFY2(after - before < 40 * 1024, qPrintable(QStringLiteral("%1 KiB more").arg(after - before)));
}

void TestServerManager::awkwardLogin_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("path");
    QTest::newRow("blank, delimiters, accent, placeholder")
        << QStringLiteral("a b/c?d#é%1") << QStringLiteral("/api/v1.1/users/a%20b%2Fc%3Fd%23%C3%A9%251/auth");
    QTest::newRow("characters a segment allows")
        << QStringLiteral("a+b@c:d!$&'()*,;=~._-") << QStringLiteral("/api/v1.1/users/a+b@c:d!$&'()*,;=~._-/auth");
    QTest::newRow("plain ASCII") << QStringLiteral("Admin_01") << QStringLiteral("/api/v1.1/users/Admin_01/auth");
}

void TestServerManager::awkwardLogin()
{
    QFETCH(QString, login);
    QFETCH(QString, path);
    load({recorder(login)});
    auto server = add(login);
    QVERIFY2(waitForRequests(login, QStringLiteral("license"), 1), qPrintable(dump(login, server)));
    const QList<RecordedRequest> auth = requestsOf(login, QStringLiteral("auth"));
    QCOMPARE(auth.size(), 1);
    QCOMPARE(auth.first().path, path);
    QCOMPARE(sendOrder.paths.value(0), path);
    // The X-WSSE user name carries it too (Latin-1), so the server accepts the digest.
    for (const RecordedRequest& request : requestsOf(login)) {
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
        QCOMPARE(request.status, 200);
    }
    QTRY_VERIFY(server->initialized && server->alarmsError.isEmpty() && !server->license.isEmpty());
}

void TestServerManager::clockStep_data()
{
    QTest::addColumn<QJsonValue>("skew");
    QTest::addColumn<QJsonObject>("headers");
    QTest::addColumn<bool>("kept");
    QTest::newRow("server an hour ahead") << QJsonValue(3600) << QJsonObject() << false;
    QTest::newRow("server two minutes behind") << QJsonValue(-120) << QJsonObject() << false;
    QTest::newRow("no Date header") << QJsonValue(QJsonValue::Null) << QJsonObject() << true;
    QTest::newRow("garbage Date header") << QJsonValue(0) << QJsonObject{{"Date", "not a date"}} << true;
    QTest::newRow("empty Date header") << QJsonValue(0) << QJsonObject{{"Date", ""}} << true;
}

void TestServerManager::clockStep()
{
    QFETCH(QJsonValue, skew);
    QFETCH(QJsonObject, headers);
    QFETCH(bool, kept);
    const QString login = QStringLiteral("clock");
    QJsonObject r = recorder(login);
    r["dateSkewSeconds"] = skew;
    r["endpoints"] = QJsonObject{{"auth", QJsonObject{{"headers", headers}}}};
    load({r});
    auto server = add(login);
    // Within the simulator's tolerance, so a kept offset still authenticates.
    const qint64 previous = 1500;
    server->clockOffset = previous;
    QVERIFY(waitForRequests(login, QStringLiteral("license"), 1));
    QTRY_VERIFY(server->initialized);
    if (kept) {
        QCOMPARE(server->clockOffset, previous);
    } else {
        const qint64 expected = -qint64(skew.toInt()) * 1000;
        QVERIFY2(qAbs(server->clockOffset - expected) < 3000, qPrintable(QString::number(server->clockOffset)));
    }
    for (const RecordedRequest& request : requestsOf(login))
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
}

void TestServerManager::noncesNeverReplayed()
{
    const QString login = QStringLiteral("replay");
    QJsonObject r = recorder(login);
    r["rejectReplayedNonces"] = true;
    load({r});
    auto server = add(login);
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 5));
    for (const RecordedRequest& request : requestsOf(login))
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
    QVERIFY(server->alarmsError.isEmpty());
}

void TestServerManager::bcryptWorker_data()
{
    QTest::addColumn<QString>("salt");
    QTest::newRow("cost 10") << QStringLiteral("$2b$10$Ro0CUfOqk6Ei.OgoyH5XNu");
    QTest::newRow("cost 12") << QStringLiteral("$2y$12$Ro0CUfOqk6Ei.OgoyH5XNu");
}

void TestServerManager::bcryptWorker()
{
    QFETCH(QString, salt);
    // A password of its own, so no earlier test has the hash cached.
    const QString password = QStringLiteral("worker ") + QString::fromLatin1(QTest::currentDataTag());
    const QString login = QStringLiteral("worker");
    load({recorder(login, password, salt)});
    // The simulator checks the first requests with the same costly hash, on a loaded machine maybe slowly.
    MonitorSettings settings = shortSettings;
    settings.requestTimeout = 20000;
    manager->setSettings(settings);

    QElapsedTimer clock;
    clock.start();
    BcryptCache::compute(password.toUtf8() + "x", salt.toUtf8());
    const qint64 hashMs = clock.elapsed();

    QList<qint64> ticks;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ticks.append(clock.elapsed()); });
    ticker.start(5);
    auto server = add(login, password);
    QVERIFY2(waitForRequests(login, QStringLiteral("license"), 1, 30000), qPrintable(dump(login, server)));
    QTRY_VERIFY_WITH_TIMEOUT(!server->license.isEmpty(), 30000);
    ticker.stop();

    qint64 longest = 0;
    for (int i = 1; i < ticks.size(); ++i)
        longest = qMax(longest, ticks.at(i) - ticks.at(i - 1));
    // Hashing on the GUI thread would stall it at least twice the hash time (health and sysinfo back to back).
    QVERIFY2(longest < qMax<qint64>(hashMs, 100),
             qPrintable(QStringLiteral("GUI thread stalled %1 ms, one hash takes %2 ms").arg(longest).arg(hashMs)));
    for (const RecordedRequest& request : requestsOf(login))
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
    QVERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty());
}

void TestServerManager::withoutCache()
{
    MonitorSettings settings = shortSettings;
    settings.cacheBcrypt = false;
    manager->setSettings(settings);
    const QString login = QStringLiteral("nocache");
    load({recorder(login, QStringLiteral("uncached"), QStringLiteral("$2a$06$Ro0CUfOqk6Ei.OgoyH5XNu"))});
    auto server = add(login, QStringLiteral("uncached"));
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 3));
    QTRY_VERIFY(!server->license.isEmpty());
    for (const RecordedRequest& request : requestsOf(login))
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.authError));
    QVERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty());
}

QTEST_GUILESS_MAIN(TestServerManager)
#include "TestServerManager.moc"
