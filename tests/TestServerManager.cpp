#include "MonitorTestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <algorithm>

using namespace MonitorTest;

namespace {

const QString api = QStringLiteral("/api/v1.1/");
// Room for a loaded machine between two timer shots of the short intervals.
constexpr qint64 slack = 150;

// Sees every request as the network access manager creates its reply, so the order of sending is
// known without relying on the order in which parallel connections reach the simulator.
class SendOrder : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The reply is still being constructed: read its URL once get() has returned.
        if (event->type() == QEvent::ChildAdded) {
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

// An error text as a row expects it; an empty expectation stands for the network layer's own text.
bool matches(const QString& text, const QString& expected)
{
    return expected.isEmpty() ? !text.isEmpty() && text != parseText : text == expected;
}

} // namespace

class TestServerManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void monitoring();
    void failures_data();
    void failures();
    void unreachable_data();
    void unreachable();
    void twoServers();
    void removalWithRepliesInFlight_data();
    void removalWithRepliesInFlight();
    void editWhileAuthenticating();
    void hangingServer();
    void hugeBody();
    void handshake_data();
    void handshake();
    void bcryptWorker_data();
    void bcryptWorker();
    void burstsWaitTheirTurn();
    // Leaves hashes of an absurd cost running for good: the last of the suite.
    void hashesLeaveWorkersFree_data();
    void hashesLeaveWorkersFree();

private:
    void watch(const std::shared_ptr<Server>& server);
    int liveReplies(const QString& login) const;

    RecorderSim sim;
    SendOrder sent;
    ServerManager* manager = nullptr;
    QNetworkAccessManager* network = nullptr;
    // One entry per signal of a watched record: "alarms" or "info", `initialized`, and " error" when it has one.
    QStringList events;
};

void TestServerManager::watch(const std::shared_ptr<Server>& server)
{
    Server* record = server.get();
    const auto note = [this, record](const char* signal) {
        const bool error = !record->alarmsError.isEmpty() || !record->infoError.isEmpty();
        events << QString::fromLatin1(signal) + (record->initialized ? " 1" : " 0") + (error ? " error" : "");
    };
    connect(record, &Server::alarmsUpdated, this, [note] { note("alarms"); });
    connect(record, &Server::infoUpdated, this, [note] { note("info"); });
}

// The authentication carries the login in its path, the other requests in X-WSSE.
int TestServerManager::liveReplies(const QString& login) const
{
    const QList<QNetworkReply*> replies = network->findChildren<QNetworkReply*>();
    return int(std::count_if(replies.begin(), replies.end(), [&login](QNetworkReply* reply) {
        return reply->url().path().contains(login) ||
               reply->request().rawHeader("X-WSSE").contains("Username=\"" + login.toLatin1() + '"');
    }));
}

void TestServerManager::initTestCase()
{
    QVERIFY(sim.start());
    manager = ServerManager::instance();
    network = manager->findChild<QNetworkAccessManager*>();
    QVERIFY(network);
    network->installEventFilter(&sent);
}

void TestServerManager::init()
{
    manager->setSettings(shortSettings());
    sim.clearRequests();
    sent.paths.clear();
    events.clear();
}

void TestServerManager::cleanup()
{
    removeAllServers();
    manager->setSaveHandler({});
    manager->setSettings(MonitorSettings());
}

void TestServerManager::monitoring()
{
    QJsonObject r = recorder("ok");
    r["rejectReplayedNonces"] = true;
    QVERIFY(load(sim, {r}));
    auto server = addServer(sim, "ok");
    watch(server);
    // Nothing leaves before the event loop runs again.
    QVERIFY(events.isEmpty() && !server->initialized && server->initTimer.isActive());
    QVERIFY(sent.paths.isEmpty());

    QVERIFY(waitForRequests(sim, "ok", "health", 5));
    QTRY_VERIFY(!server->license.isEmpty());
    QCOMPARE(server->salt, salt04);
    QVERIFY(!server->sysInfo.isEmpty());
    QCOMPARE(server->alarmsTimer.interval(), shortSettings().pollInterval);
    QCOMPARE(sent.paths.mid(0, 4),
             (QStringList{api + "users/ok/auth", api + "health", api + "sysinfo", api + "license"}));
    QCOMPARE(countOf(sim, "ok", "auth"), 1);
    QCOMPARE(countOf(sim, "ok", "sysinfo"), 1);
    QCOMPARE(countOf(sim, "ok", "license"), 1);
    const qint64 gap = shortestGap(requestsOf(sim, "ok", "health"));
    QVERIFY2(gap >= shortSettings().pollInterval - slack, qPrintable(QString::number(gap)));

    const QByteArray language = qgetenv("QUELVANE_EXPECTED_LANGUAGE");
    for (const RecordedRequest& request : requestsOf(sim, "ok")) {
        const bool auth = endpointOf(request) == "auth";
        QCOMPARE(request.method, QStringLiteral("GET"));
        QCOMPARE(request.path, auth ? api + "users/ok/auth" : api + endpointOf(request));
        QList<QByteArray> ours;
        for (const auto& header : request.headers) {
            if (header.first == "Authorization" || header.first == "X-WSSE" || header.first == "Accept-Language")
                ours.append(header.first);
        }
        QCOMPARE(ours, (auth ? QList<QByteArray>{"Accept-Language"}
                             : QList<QByteArray>{"Authorization", "X-WSSE", "Accept-Language"}));
        if (!auth)
            QCOMPARE(request.header("Authorization"), QByteArrayLiteral("WSSE profile=\"UsernameToken\""));
        if (!language.isEmpty())
            QCOMPARE(request.header("Accept-Language"), language);
    }
    // Every nonce is new, or the simulator would have refused it.
    QCOMPARE(refused(sim, "ok"), QStringList());

    // initServer signals twice; the good authentication reply not at all; then the licence reply once
    // and every health reply once.
    server->alarmsTimer.stop();
    QTRY_COMPARE(events.count("alarms 1"), countOf(sim, "ok", "health"));
    QCOMPARE(events.mid(0, 2), (QStringList{"info 0", "alarms 0"}));
    QCOMPARE(events.count("info 1"), 1);
    QCOMPARE(events.size(), countOf(sim, "ok", "health") + 3);
}

void TestServerManager::failures_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QString>("error"); // empty: the network layer's own text
    for (const char* endpoint : {"auth", "health", "sysinfo", "license"}) {
        const auto row = [endpoint](const char* name, const QJsonObject& reply, const QString& error = {}) {
            QTest::addRow("%s %s", endpoint, name) << QString(endpoint) << reply << error;
        };
        row("401 with error", {{"status", 401}, {"json", QJsonObject{{"error", "Bad credentials"}}}},
            "Bad credentials");
        row("403 error not a string", {{"status", 403}, {"json", QJsonObject{{"error", 42}}}});
        row("404 array body", {{"status", 404}, {"json", QJsonArray{"error"}}});
        row("500 empty", {{"status", 500}, {"raw", ""}});
        row("302", {{"status", 302}, {"raw", ""}, {"headers", QJsonObject{{"Location", "/elsewhere"}}}});
        row("200 not JSON", {{"raw", "<html>hello</html>"}}, parseText);
        row("200 truncated", {{"raw", R"({"health":{"recorder":tr)"}}, parseText);
        row("200 nested 10000 deep", {{"raw", QString(10000, '[') + QString(10000, ']')}}, parseText);
        row("204 empty", {{"status", 204}, {"raw", ""}});
    }
}

void TestServerManager::failures()
{
    QFETCH(QString, endpoint);
    QFETCH(QJsonObject, reply);
    QFETCH(QString, error);
    QVERIFY(load(sim, {recorder("fail", {{endpoint, reply}})}));
    auto server = addServer(sim, "fail");
    watch(server);
    const QString& text = endpoint == "auth" || endpoint == "health" ? server->alarmsError : server->infoError;
    QTRY_VERIFY(server->initialized && !text.isEmpty());
    QVERIFY2(matches(text, error), qPrintable(text));
    if (endpoint == "auth") {
        QCOMPARE(server->infoError, server->alarmsError);
        QCOMPARE(events.mid(0, 4), (QStringList{"info 0", "alarms 0", "alarms 1 error", "info 1 error"}));
        QCOMPARE(server->initTimer.interval(), shortSettings().authRetryInterval);
        QVERIFY(waitForRequests(sim, "fail", "auth", 2));
        QVERIFY(shortestGap(requestsOf(sim, "fail", "auth")) >= shortSettings().authRetryInterval - slack);
        QCOMPARE(countOf(sim, "fail", "health"), 0);
        // Once the server accepts, monitoring starts from a retry.
        sim.setEndpoint("fail", "auth", {});
        QVERIFY(waitForRequests(sim, "fail", "license", 1));
        QTRY_VERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty() && server->initialized);
        QVERIFY(!server->initTimer.isActive());
    } else if (endpoint == "health") {
        QVERIFY(server->recorderOk() && server->camerasOk() && server->hardwareOk());
        // The next poll still happens, and a failed poll never re-authenticates.
        QVERIFY(waitForRequests(sim, "fail", "health", 2));
        QCOMPARE(countOf(sim, "fail", "auth"), 1);
        QTRY_VERIFY(!server->license.isEmpty());
        QVERIFY(server->infoError.isEmpty());
    } else {
        QCOMPARE(server->sysInfo.isEmpty(), endpoint == "sysinfo");
        QVERIFY(server->license.isEmpty());
        // Polling goes on; a failed system information sends no licence request.
        QVERIFY(waitForRequests(sim, "fail", "health", 2));
        QCOMPARE(countOf(sim, "fail", "license"), endpoint == "sysinfo" ? 0 : 1);
        QVERIFY(server->alarmsError.isEmpty());
    }
}

void TestServerManager::unreachable_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const int closedPort = probe.serverPort();
    probe.close();
    QTest::newRow("nothing listens") << "127.0.0.1" << closedPort;
    QTest::newRow("empty host") << QString() << 80;
    QTest::newRow("host with blank") << "exa mple" << 80;
    QTest::newRow("host with slash") << "a/b" << 80;
    QTest::newRow("negative port") << "127.0.0.1" << -5;
    QTest::newRow("port too large") << "127.0.0.1" << 70000;
    QTest::newRow("port 0") << "127.0.0.1" << 0;
}

void TestServerManager::unreachable()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    auto server = manager->addServer("bad", host, port, "bad", "x");
    QSignalSpy info(server.get(), &Server::infoUpdated);
    QTRY_VERIFY(server->initialized);
    QVERIFY(!server->alarmsError.isEmpty());
    QCOMPARE(server->infoError, server->alarmsError);
    // Each attempt signals at its start and at its failure: the retry has come and failed too.
    QTRY_VERIFY(info.count() >= 4);
}

void TestServerManager::twoServers()
{
    const QJsonObject report{{"health", QJsonObject{{"recorder", false}}},
                             {"errorDetails", QJsonObject{{"recorder", QJsonArray{"disk full"}}}}};
    QVERIFY(
        load(sim, {recorder("two-a", {{"health", QJsonObject{{"json", report}}}}),
                   recorder("two-b", {{"auth", QJsonObject{{"status", 401}, {"json", QJsonObject{{"error", "No"}}}}}}),
                   recorder("two-gone")}));
    auto a = addServer(sim, "two-a");
    auto b = addServer(sim, "two-b");
    auto gone = addServer(sim, "two-gone");
    QCOMPARE(manager->toJson().toArray(), (QJsonArray{a->toJson(), b->toJson(), gone->toJson()}));
    // Removal saves the list without the server, then announces it.
    QStringList steps;
    manager->setSaveHandler([&] { steps << "save " + QString::number(manager->serverList().size()); });
    QObject context;
    connect(manager, &ServerManager::serverRemoved, &context,
            [&](std::shared_ptr<Server> removed) { steps << (removed == gone ? "removed" : "other"); });
    manager->removeServer(gone);
    manager->setSaveHandler({});
    QCOMPARE(steps, (QStringList{"save 2", "removed"}));
    QCOMPARE(manager->toJson().toArray(), (QJsonArray{a->toJson(), b->toJson()}));

    QTRY_COMPARE(a->recorderErrors, QStringList{"disk full"});
    QTRY_COMPARE(b->alarmsError, QStringLiteral("No"));
    QVERIFY(a->alarmsError.isEmpty() && b->recorderErrors.isEmpty());
    QVERIFY(waitForRequests(sim, "two-b", "auth", 2));
    QCOMPARE(countOf(sim, "two-a", "auth"), 1);
    QCOMPARE(countOf(sim, "two-b", "health"), 0);
    // Removed before the event loop ran, it was never asked.
    QVERIFY(requestsOf(sim, "two-gone").isEmpty());
}

void TestServerManager::removalWithRepliesInFlight_data()
{
    QTest::addColumn<QString>("endpoint");
    for (const char* endpoint : {"auth", "health", "sysinfo", "license"})
        QTest::newRow(endpoint) << QString(endpoint);
}

void TestServerManager::removalWithRepliesInFlight()
{
    QFETCH(QString, endpoint);
    const QString login = "gone-" + endpoint;
    QVERIFY(load(sim, {recorder(login, {{endpoint, QJsonObject{{"delayMs", 300}}}})}));
    auto server = addServer(sim, login);
    QVERIFY(waitForRequests(sim, login, endpoint, 1));
    manager->removeServer(server);

    // The fields as they stand now, plus markers that any handler would overwrite.
    server->alarmsError = server->infoError = "marker";
    const auto state = [&server] {
        return QJsonArray{server->initialized, server->alarmsError, server->infoError, server->sysInfo,
                          server->license};
    };
    const QJsonArray kept = state();
    QSignalSpy alarms(server.get(), &Server::alarmsUpdated);
    QSignalSpy info(server.get(), &Server::infoUpdated);
    const int before = requestsOf(sim, login).size();

    // Until the delayed reply is gone, then long enough for a poll or a retry to show.
    QTRY_COMPARE(liveReplies(login), 0);
    QTest::qWait(shortSettings().authRetryInterval + slack);
    QCOMPARE(alarms.count() + info.count(), 0);
    QCOMPARE(state(), kept);
    QVERIFY(!server->alarmsTimer.isActive() && !server->initTimer.isActive());
    QCOMPARE(requestsOf(sim, login).size(), before);
}

void TestServerManager::editWhileAuthenticating()
{
    QVERIFY(load(sim, {recorder("edit", {{"auth", QJsonObject{{"delayMs", 300}}}})}));
    auto server = addServer(sim, "edit");
    watch(server);
    QVERIFY(waitForRequests(sim, "edit", "auth", 1));
    sim.setEndpoint("edit", "auth", {});
    events.clear();
    manager->initServer(server);
    QCOMPARE(events, (QStringList{"info 0", "alarms 0"}));

    // Well past the old reply: one round only, so one sysinfo and one poll per period.
    const qint64 minGap = shortSettings().pollInterval - slack;
    QVERIFY(waitForRequests(sim, "edit", "health", 5));
    QCOMPARE(countOf(sim, "edit", "auth"), 2);
    QCOMPARE(countOf(sim, "edit", "sysinfo"), 1);
    QCOMPARE(countOf(sim, "edit", "license"), 1);
    QVERIFY(shortestGap(requestsOf(sim, "edit", "health")) >= minGap);

    // An edit while monitoring: the old poll stops, the new round polls alone.
    const int before = countOf(sim, "edit", "health");
    manager->initServer(server);
    QVERIFY(waitForRequests(sim, "edit", "sysinfo", 2));
    QVERIFY(waitForRequests(sim, "edit", "health", before + 4));
    QVERIFY(shortestGap(requestsOf(sim, "edit", "health").mid(before)) >= minGap);

    // An edit after a failed authentication: the pending retry is dropped, so one round runs, not two.
    sim.setEndpoint("edit", "auth", QJsonObject{{"status", 401}});
    manager->initServer(server);
    QTRY_VERIFY(!server->alarmsError.isEmpty() && server->initTimer.isActive());
    sim.setEndpoint("edit", "auth", {});
    const int auths = countOf(sim, "edit", "auth");
    manager->initServer(server);
    QVERIFY(waitForRequests(sim, "edit", "sysinfo", 3));
    QTest::qWait(shortSettings().authRetryInterval + slack);
    QCOMPARE(countOf(sim, "edit", "auth"), auths + 1);
}

void TestServerManager::hangingServer()
{
    QVERIFY(load(sim, {recorder("hang", {{"auth", QJsonObject{{"hang", true}}}})}));
    auto server = addServer(sim, "hang");
    QTRY_VERIFY(server->initialized);
    QCOMPARE(server->alarmsError, timeoutText);
    QCOMPARE(server->infoError, timeoutText);
    QVERIFY(waitForRequests(sim, "hang", "auth", 2));

    // A health request that hangs fails alone; polling goes on.
    sim.setEndpoint("hang", "auth", {});
    sim.setEndpoint("hang", "health", {{"hang", true}});
    QVERIFY(waitForRequests(sim, "hang", "license", 1));
    QTRY_COMPARE(server->alarmsError, timeoutText);
    QVERIFY(server->infoError.isEmpty());
    QVERIFY(waitForRequests(sim, "hang", "health", countOf(sim, "hang", "health") + 2));
}

void TestServerManager::hugeBody()
{
    QVERIFY(load(sim, {recorder("huge", {{"health", QJsonObject{{"bodyMiB", 64}}},
                                         {"sysinfo", QJsonObject{{"bodyMiB", 17}}}})}));
    MonitorSettings settings = shortSettings();
    settings.requestTimeout = 20000;
    settings.pollInterval = 2000;
    manager->setSettings(settings);
    const qint64 before = memoryKiB("VmHWM");
    auto server = addServer(sim, "huge");
    QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, tooLargeText, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(server->infoError, tooLargeText, 20000);
    QVERIFY(waitForRequests(sim, "huge", "health", 2, 20000));
    const qint64 grown = memoryKiB("VmHWM") - before;
    if (before > 0)
        QVERIFY2(grown < 40 * 1024, qPrintable(QStringLiteral("%1 KiB more").arg(grown)));
}

void TestServerManager::handshake_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("path");        // of the authentication request
    QTest::addColumn<QJsonValue>("skew");     // server clock minus ours in s; null: no "Date" header
    QTest::addColumn<QJsonObject>("headers"); // of the authentication reply
    QTest::addColumn<bool>("kept");           // the clock offset stays as it was
    const auto login = [](const char* name, const QString& login, const QString& path) {
        QTest::newRow(name) << login << api + path << QJsonValue(0) << QJsonObject() << false;
    };
    login("blank, delimiters, accent, placeholder", "a b/c?d#é%1", "users/a%20b%2Fc%3Fd%23%C3%A9%251/auth");
    login("characters a segment allows", "a+b@c:d!$&'()*,;=~._-", "users/a+b@c:d!$&'()*,;=~._-/auth");
    login("plain ASCII", "Admin_01", "users/Admin_01/auth");
    const auto clock = [](const char* name, const QJsonValue& skew, const QJsonObject& headers, bool kept) {
        QTest::newRow(name) << "clock" << api + "users/clock/auth" << skew << headers << kept;
    };
    clock("server an hour ahead", 3600, {}, false);
    clock("server two minutes behind", -120, {}, false);
    clock("no Date header", QJsonValue::Null, {}, true);
    clock("garbage Date header", 0, {{"Date", "not a date"}}, true);
    clock("empty Date header", 0, {{"Date", ""}}, true);
}

void TestServerManager::handshake()
{
    QFETCH(QString, login);
    QFETCH(QString, path);
    QFETCH(QJsonValue, skew);
    QFETCH(QJsonObject, headers);
    QFETCH(bool, kept);
    QJsonObject r = recorder(login, {{"auth", QJsonObject{{"headers", headers}}}});
    r["dateSkewSeconds"] = skew;
    QVERIFY(load(sim, {r}));
    auto server = addServer(sim, login);
    // Within the simulator's tolerance, so a kept offset still authenticates.
    server->clockOffset = 1500;
    QVERIFY(waitForRequests(sim, login, "license", 1));
    QTRY_VERIFY(server->alarmsError.isEmpty() && !server->license.isEmpty());
    QCOMPARE(sent.paths.value(0), path);
    const QList<RecordedRequest> auth = requestsOf(sim, login, "auth");
    QCOMPARE(auth.size(), 1);
    QCOMPARE(auth.first().path, path);
    // The Date header is whole seconds: the offset may be up to a second more.
    const qint64 offset = server->clockOffset - (kept ? 1500 : -qint64(skew.toInt()) * 1000);
    QVERIFY2(kept ? offset == 0 : offset > -400 && offset < 1400, qPrintable(QString::number(server->clockOffset)));
    // The X-WSSE user name (Latin-1) and Created (the server's clock) are as the server expects them.
    QCOMPARE(refused(sim, login), QStringList());
}

void TestServerManager::bcryptWorker_data()
{
    QTest::addColumn<QString>("salt");
    QTest::addColumn<bool>("cache");
    QTest::newRow("cost 10") << "$2b$10$Ro0CUfOqk6Ei.OgoyH5XNu" << true;
    QTest::newRow("cost 12") << "$2y$12$Ro0CUfOqk6Ei.OgoyH5XNu" << true;
    QTest::newRow("cost 06 without cache") << "$2a$06$Ro0CUfOqk6Ei.OgoyH5XNu" << false;
}

void TestServerManager::bcryptWorker()
{
    QFETCH(QString, salt);
    QFETCH(bool, cache);
    // A password of its own, so no earlier row has the hash cached.
    const QString password = "worker " + QString::fromLatin1(QTest::currentDataTag());
    QVERIFY(load(sim, {recorder("worker", {}, password, salt)}));
    // The simulator checks the first requests with the same costly hash, on a loaded machine maybe slowly.
    MonitorSettings settings = shortSettings();
    settings.requestTimeout = 20000;
    settings.cacheBcrypt = cache;
    manager->setSettings(settings);

    QElapsedTimer clock;
    clock.start();
    BcryptCache::compute(password.toUtf8() + "x", salt.toUtf8());
    const qint64 hashMs = clock.restart();
    qint64 longest = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { longest = qMax(longest, clock.restart()); });
    ticker.start(5);
    auto server = addServer(sim, "worker", password);
    QVERIFY(waitForRequests(sim, "worker", "health", 3, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(!server->license.isEmpty(), 30000);
    ticker.stop();

    // Hashing on the GUI thread would stall it at least twice the hash time (health and sysinfo back to back);
    // the bound leaves room for a loaded machine.
    QVERIFY2(!cache || longest < qMax<qint64>(hashMs * 3 / 2, 150),
             qPrintable(QStringLiteral("GUI thread stalled %1 ms, one hash takes %2 ms").arg(longest).arg(hashMs)));
    QCOMPARE(refused(sim, "worker"), QStringList());
    QVERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty());
}

void TestServerManager::burstsWaitTheirTurn()
{
    // No time at all: every pass of the event loop starts one exchange and puts the others off.
    MonitorSettings settings = shortSettings();
    settings.passBudget = 0;
    manager->setSettings(settings);
    QJsonArray recorders;
    QStringList logins;
    for (int i = 0; i < 6; ++i) {
        logins << QStringLiteral("burst-%1").arg(i);
        recorders.append(recorder(logins.last()));
    }
    QVERIFY(load(sim, recorders));
    QList<std::shared_ptr<Server>> added;
    for (const QString& login : logins)
        added << addServer(sim, login);
    // Removed while its authentication waits for a later pass (the second server's starts in the second
    // pass, when all six timers have fired): it must never be asked.
    QObject context;
    connect(added[1].get(), &Server::alarmsUpdated, &context, [&] {
        if (manager->serverList().contains(added[4]))
            manager->removeServer(added[4]);
    });

    for (int i : {0, 1, 2, 3, 5}) {
        QTRY_VERIFY(added[i]->initialized);
        QVERIFY(waitForRequests(sim, logins[i], "health", 2));
        QVERIFY(added[i]->alarmsError.isEmpty());
    }
    QVERIFY(requestsOf(sim, logins[4]).isEmpty());
    QStringList authOrder;
    for (const QString& path : sent.paths)
        if (path.endsWith(QLatin1String("/auth")))
            authOrder << path.section(QLatin1Char('/'), -2, -2);
    QCOMPARE(authOrder, (QStringList{logins[0], logins[1], logins[2], logins[3], logins[5]}));
}

void TestServerManager::hashesLeaveWorkersFree_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("ownThreadCost");
    QTest::addColumn<QString>("then"); // what happens to the server of cost 31 before the other is added
    QTest::newRow("absurd cost") << 1 << MonitorSettings().ownThreadCost << "";
    QTest::newRow("removed") << 1 << 32 << "remove";
    QTest::newRow("superseded") << 1 << 32 << "edit";
    QTest::newRow("shared") << 2 << 32 << "twin";
}

// A hash of cost 31 takes days; it must not keep any other server from being polled.
void TestServerManager::hashesLeaveWorkersFree()
{
    QFETCH(int, workers);
    QFETCH(int, ownThreadCost);
    QFETCH(QString, then);
    MonitorSettings settings = shortSettings();
    settings.hashWorkers = workers;
    settings.ownThreadCost = ownThreadCost;
    manager->setSettings(settings);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).remove(' ');
    const QString slow = "slow" + tag, fast = "fast" + tag;
    // Passwords of the row's own, so no hash is known or running from an earlier test.
    QVERIFY(load(sim, {recorder(slow, {}, slow, "$2b$31$Ro0CUfOqk6Ei.OgoyH5XNu"), recorder(fast, {}, fast)}));
    auto absurd = addServer(sim, slow, slow);
    // The salt is taken from the reply just before the hash is asked for.
    QTRY_VERIFY(!absurd->salt.isEmpty());
    if (then == "remove") {
        manager->removeServer(absurd);
    } else if (then == "edit") {
        manager->initServer(absurd);
        QTRY_VERIFY(countOf(sim, slow, "auth") == 2 && liveReplies(slow) == 0);
    } else if (then == "twin") {
        auto twin = addServer(sim, slow, slow);
        QTRY_VERIFY(!twin->salt.isEmpty());
    }
    addServer(sim, fast, fast);
    QVERIFY(waitForRequests(sim, fast, "health", 2));
    // A request of the absurd server waits for its hash on a worker; the GUI thread goes on polling.
    if (then.isEmpty()) {
        manager->refreshAlarms(absurd);
        QVERIFY(waitForRequests(sim, fast, "health", 3));
    }
    QCOMPARE(countOf(sim, slow, "health"), 0);
}

QTEST_GUILESS_MAIN(TestServerManager)
#include "TestServerManager.moc"
