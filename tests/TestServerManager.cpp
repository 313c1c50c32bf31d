#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSemaphore>
#include <atomic>

using namespace TestSupport;

namespace {

// Room for a loaded machine between two timer shots of the short intervals.
constexpr qint64 slack = 150;

qint64 shortestGap(const QList<RecordedRequest>& requests)
{
    qint64 gap = std::numeric_limits<qint64>::max();
    for (int i = 1; i < requests.size(); ++i)
        gap = qMin(gap, requests[i].receivedMs - requests[i - 1].receivedMs);
    return gap;
}

// Health and authentication must each keep their own interval, which the short settings set far apart.
bool keepsIntervals(const QList<RecordedRequest>& requests, int interval)
{
    const qint64 mean = (requests.last().receivedMs - requests.first().receivedMs) / (requests.size() - 1);
    return shortestGap(requests) >= interval - slack && mean < interval + 2 * slack;
}

// The fields of the record that a case names, as JSON; "<network>" stands for any text of the network
// layer's own, which names the port and varies with the Qt version.
QByteArray stateOf(const Server& s, const QJsonObject& expect)
{
    const QJsonObject all{{"alarmsError", s.alarmsError},
                          {"unreachable", s.unreachable},
                          {"infoError", s.infoError},
                          {"recorder", QJsonArray::fromStringList(s.recorderErrors)},
                          {"cameras", QJsonArray::fromStringList(s.camerasErrors)},
                          {"hardware", QJsonArray::fromStringList(s.hardwareErrors)},
                          {"ok", QJsonArray{s.recorderOk(), s.camerasOk(), s.hardwareOk()}},
                          {"salt", s.salt},
                          {"clockOffset", s.clockOffset},
                          {"sysinfo", !s.sysInfo.isEmpty()},
                          {"licensed", !s.license.isEmpty()}};
    const QStringList ours{"Error while parsing json response", "The server did not answer in time",
                           "The server's reply is too large", "Error while getting license data"};
    QJsonObject picked;
    for (const QString& key : expect.keys()) {
        const QString text = all.value(key).toString();
        const bool network = expect.value(key) == QLatin1String("<network>") && !text.isEmpty() && !ours.contains(text);
        picked[key] = network ? expect.value(key) : all.value(key);
    }
    return QJsonDocument(picked).toJson(QJsonDocument::Compact);
}

// The stored hash of a server that never answers.
QJsonObject quietEntry()
{
    const QByteArray setting = salt04.toLatin1();
    return QJsonObject{{"key", QString(BcryptCache::storeKey("quiet", setting))},
                       {"hash", QString(BcryptCache::compute("quiet", setting))}};
}

QJsonArray storedHashes(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path))["entries"].toArray();
}

// Settings whose hashing counts its calls.
MonitorSettings countingHashes(const std::shared_ptr<std::atomic<int>>& hashes)
{
    MonitorSettings settings = shortSettings();
    settings.hashFunction = [hashes](const QByteArray& password, const QByteArray& setting) {
        ++*hashes;
        return BcryptCache::compute(password, setting);
    };
    return settings;
}

} // namespace

class TestServerManager : public QObject
{
    Q_OBJECT
    RecorderSim sim;
    ServerManager* manager = ServerManager::instance();

private slots:
    void init()
    {
        QVERIFY(sim.port() || sim.start());
        manager->setSettings(shortSettings());
        sim.clearRequests();
    }

    void cleanup()
    {
        manager->setSaveHandler({});
        removeAllServers();
    }

    void monitoring()
    {
        // Blank, delimiters, accent and placeholder: one path segment, and Latin-1 in X-WSSE.
        const QString login = QStringLiteral("a b/c?d#é%1");
        QJsonObject r = recorder(login);
        r["dateSkewSeconds"] = 3600;
        r["rejectReplayedNonces"] = true;
        QVERIFY(load(sim, {r}));
        // Steady polling hashes once, when the salt arrives, however many requests follow.
        auto hashes = std::make_shared<std::atomic<int>>(0);
        manager->setSettings(countingHashes(hashes));
        auto server = addServer(sim, login);
        QSignalSpy alarms(server.get(), &Server::alarmsUpdated);
        QSignalSpy info(server.get(), &Server::infoUpdated);
        // Nothing leaves before the event loop runs again.
        QVERIFY(!server->initialized && server->initTimer.isActive() && alarms.isEmpty());

        QVERIFY(waitForRequests(sim, login, "health", 4));
        QTRY_VERIFY(!server->license.isEmpty() && !server->sysInfo.isEmpty());
        server->alarmsTimer.stop();
        // Once when authentication starts, then once per health reply; info at the start and with the licence.
        QTRY_COMPARE(alarms.count(), 1 + countOf(sim, login, "health"));
        QCOMPARE(info.count(), 2);
        QCOMPARE(hashes->load(), 1);
        // Local minus server clock; the Date header has whole seconds.
        QVERIFY(server->clockOffset > -3600400 && server->clockOffset < -3598600);

        QCOMPARE(requestsOf(sim, login).first().path, "/api/v1.1/users/a%20b%2Fc%3Fd%23%C3%A9%251/auth");
        const QByteArray language = qgetenv("QUELVANE_EXPECTED_LANGUAGE");
        for (const RecordedRequest& request : requestsOf(sim, login)) {
            const bool auth = request.path.endsWith(QLatin1String("/auth"));
            QCOMPARE(request.header("Authorization").isEmpty(), auth);
            QCOMPARE(request.header("X-WSSE").isEmpty(), auth);
            QCOMPARE(request.method, QStringLiteral("GET"));
            // The simulator accepted every token: a fresh nonce, Created on its clock, the right digest.
            QVERIFY2(request.status == 200, qPrintable(request.authError));
            if (!language.isEmpty())
                QCOMPARE(request.header("Accept-Language"), language);
        }
    }

    // Each case: recorder settings for the simulator, the record's state to reach and the requests made by
    // then ("reachedAfter"), the endpoint ("next") that must still be asked twice after, and request
    // counts at the end.
    void replies_data() { caseFiles("replies", "*.json"); }

    void replies()
    {
        QFETCH(QString, file);
        const QJsonObject c = QJsonDocument::fromJson(readFile(file)).object();
        const QString login = QFileInfo(file).baseName();
        QVariantMap r = recorder(login).toVariantMap();
        r.insert(c.value("recorder").toObject().toVariantMap());
        QVERIFY(load(sim, {QJsonObject::fromVariantMap(r)}));
        MonitorSettings settings = shortSettings();
        settings.requestTimeout = c.value("requestTimeout").toInt(settings.requestTimeout);
        manager->setSettings(settings);
        auto server = addServer(sim, login, c.value("password").toString("secret"));
        server->clockOffset = c.value("clockOffset").toInt();

        const QJsonObject expect = c.value("expect").toObject();
        const QByteArray expected = QJsonDocument(expect).toJson(QJsonDocument::Compact);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*server, expect), expected, 20000);
        const QJsonObject reached = c.value("reachedAfter").toObject();
        for (auto it = reached.begin(); it != reached.end(); ++it)
            QCOMPARE(countOf(sim, login, it.key()), it.value().toInt());
        const QString next = c.value("next").toString();
        QVERIFY(waitForRequests(sim, login, next, countOf(sim, login, next) + 2, 20000));
        QTRY_COMPARE(stateOf(*server, expect), expected);
        const QJsonObject counts = c.value("requests").toObject();
        for (auto it = counts.begin(); it != counts.end(); ++it)
            QCOMPARE(countOf(sim, login, it.key()), it.value().toInt());
    }

    void healsItself_data()
    {
        // Two changes to the recorder while it is polled, each followed by good polls.
        QTest::addColumn<QJsonArray>("changes");
        const auto twice = [](const char* key, const QJsonValue& first, const QJsonValue& second) {
            return QJsonArray{QJsonObject{{key, first}}, QJsonObject{{key, second}}};
        };
        QTest::newRow("new salt") << twice("salt", "$2b$04$" + QString(22, 'B'), "$2b$04$" + QString(22, 'C'));
        QTest::newRow("clock jump") << twice("dateSkewSeconds", 120, -300);
    }

    // A session gone stale (another salt, a clock that jumped) authenticates again by itself, each time,
    // without counting as a server that cannot be watched.
    void healsItself()
    {
        QFETCH(QJsonArray, changes);
        const QString login = QString::fromLatin1(QTest::currentDataTag()).remove(' ');
        QVERIFY(load(sim, {recorder(login)}));
        auto server = addServer(sim, login);
        QString seen;
        QObject context;
        connect(server.get(), &Server::alarmsUpdated, &context, [&] { seen += server->unreachable; });
        for (const QJsonValue& change : changes) {
            QVERIFY(waitForRequests(sim, login, "health", countOf(sim, login, "health") + 2));
            QVariantMap changed = recorder(login).toVariantMap();
            changed.insert(change.toObject().toVariantMap());
            sim.setRecorder(QJsonObject::fromVariantMap(changed));
            QTRY_VERIFY(requestsOf(sim, login, "health").last().status != 200);
            QTRY_VERIFY_WITH_TIMEOUT(requestsOf(sim, login, "health").last().status == 200, 10000);
        }
        QCOMPARE(countOf(sim, login, "auth"), 3);
        QCOMPARE(seen, QString());
    }

    // The process did not run for a while (stopped, or the machine slept) with a reply on its way: every
    // server is polled once within a period after, and the reply that came meanwhile is no failure.
    void suspended()
    {
        QVERIFY(load(sim, {recorder("late")}));
        auto late = addServer(sim, "late");
        QVERIFY(waitForRequests(sim, "late", "health", 1));
        sim.setEndpoint("late", "health", {{"delayMs", 4500}});
        QVERIFY(waitForRequests(sim, "late", "health", countOf(sim, "late", "health") + 1));
        QStringList errors;
        QObject context;
        connect(late.get(), &Server::alarmsUpdated, &context, [&] { errors << late->alarmsError; });
        const int before = countOf(sim, "late", "health");
        QThread::msleep(4000);
        sim.setEndpoint("late", "health", {});
        // Twenty periods went by: one poll at once, none stacked behind it.
        QTest::qWait(shortSettings().pollInterval - slack);
        QCOMPARE(countOf(sim, "late", "health"), before + 1);
        QTRY_VERIFY(errors.size() >= 2);
        QCOMPARE(errors.join(QString()), QString());
    }

    // A hash kept in the file for this password and setting is used without hashing; anything else in the
    // file counts as no file, and one the server refuses is dropped and hashed again, once. Either way the
    // file is written back soon after with this server's hash and no other, and without it once removed.
    void hashStore_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("hashed");
        QTest::addColumn<int>("refused"); // requests signed with the stored hash before it is dropped
        const QByteArray setting = salt04.toLatin1(), hash = BcryptCache::compute("secret", setting);
        const auto store = [](const QByteArray& key, const QByteArray& hash) {
            return QJsonDocument(QJsonObject{{"entries",
                                              QJsonArray{QJsonObject{{"key", QString(key)}, {"hash", QString(hash)}}}}})
                .toJson();
        };
        const QByteArray kept = store(BcryptCache::storeKey("secret", setting), hash);
        // With the hash of a server that does not answer this run: it is kept for when it does.
        QJsonObject both = QJsonDocument::fromJson(kept).object();
        both["entries"] = QJsonArray{both["entries"].toArray().first(), quietEntry()};
        QTest::newRow("kept") << QJsonDocument(both).toJson() << false << 0;
        QTest::newRow("none") << QByteArray() << true << 0;
        QTest::newRow("wrong types") << QByteArray(R"({"entries":[{"key":1,"hash":["x"]},"x",null]})") << true << 0;
        QTest::newRow("huge") << kept + QByteArray(5 << 20, ' ') << true << 0;
        QTest::newRow("other salt") << store(BcryptCache::storeKey("secret", setting),
                                             BcryptCache::compute("secret", "$2b$04$" + QByteArray(22, 'A')))
                                    << true << 0;
        QTest::newRow("other password") << store(BcryptCache::storeKey("old", setting),
                                                 BcryptCache::compute("old", setting))
                                        << true << 0;
        QTest::newRow("damaged") << store(BcryptCache::storeKey("secret", setting), setting + QByteArray(31, 'A'))
                                 << true << 2;
    }

    void hashStore()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, hashed);
        QFETCH(int, refused);
        QTemporaryDir dir;
        const QString path = dir.filePath("hashes.json");
        QVERIFY(document.isNull() || writeFile(path, document));
        auto hashes = std::make_shared<std::atomic<int>>(0);
        manager->setSettings(countingHashes(hashes));
        manager->setHashStore(path);
        QVERIFY(load(sim, {recorder("kept")}));
        auto quiet = manager->addServer("quiet", "127.0.0.1", 1, "quiet", "quiet");
        auto server = addServer(sim, "kept");
        QVERIFY(waitForRequests(sim, "kept", "health", 3));
        for (const RecordedRequest& request : requestsOf(sim, "kept").mid(1 + refused))
            QVERIFY2(request.status == 200, qPrintable(request.authError));
        QCOMPARE(hashes->load(), int(hashed));
        const QJsonObject entry{{"key", QString(BcryptCache::storeKey("secret", salt04.toLatin1()))},
                                {"hash", QString(BcryptCache::compute("secret", salt04.toLatin1()))}};
        QJsonArray quietKept, both{entry};
        if (document.contains(quietEntry()["key"].toString().toLatin1())) {
            quietKept.append(quietEntry());
            both.append(quietEntry());
        }
        QTRY_COMPARE(storedHashes(path), both);
        QVERIFY(!hashed || !(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));
        manager->removeServer(server);
        QTRY_COMPARE(storedHashes(path), quietKept);
        manager->removeServer(quiet);
    }

    // Hashes of a burst finishing closer together than the file's delay: the file is written while the burst
    // goes on, not only after it; and one finished just before the program quits is written then.
    void hashStoreDuringABurst()
    {
        auto gate = std::make_shared<QSemaphore>();
        MonitorSettings settings = shortSettings();
        settings.hashStoreDelay = 400;
        settings.hashFunction = [gate](const QByteArray& password, const QByteArray& setting) {
            gate->acquire();
            return BcryptCache::compute(password, setting);
        };
        manager->setSettings(settings);
        const auto letGo = qScopeGuard([gate] { gate->release(100); });
        QTemporaryDir dir;
        const QString path = dir.filePath("hashes.json");
        manager->setHashStore(path);
        for (int i = 0; i < 12; ++i) {
            sim.setRecorder(recorder(QString("burst%1").arg(i), {}, QString("burst%1").arg(i)));
            addServer(sim, QString("burst%1").arg(i), QString("burst%1").arg(i));
        }
        for (int i = 0; i < 10; ++i) {
            gate->release();
            QTest::qWait(100);
        }
        QVERIFY(!storedHashes(path).isEmpty());
        settings.hashStoreDelay = 600000;
        manager->setSettings(settings);
        gate->release(2);
        for (int i = 0; i < 12; ++i)
            QVERIFY(waitForRequests(sim, QString("burst%1").arg(i), "health", 1));
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        QCOMPARE(storedHashes(path).size(), 12);
    }

    void editAndRemove()
    {
        QVERIFY(load(sim, {recorder("edit", {{"auth", QJsonObject{{"delayMs", 300}}}}),
                           recorder("gone", {{"health", QJsonObject{{"delayMs", 300}}}}), recorder("never")}));
        auto server = addServer(sim, "edit");
        auto gone = addServer(sim, "gone");
        QStringList steps;
        manager->setSaveHandler([&] { steps << QString::number(manager->serverList().size()); });
        QObject context;
        connect(manager, &ServerManager::serverRemoved, &context,
                [&](std::shared_ptr<Server> s) { steps << s->login; });
        // Removed before the event loop ran: saved without it, then announced, and never asked.
        manager->removeServer(addServer(sim, "never"));
        QCOMPARE(steps, (QStringList{"2", "never"}));
        QCOMPARE(manager->toJson(), QJsonValue(QJsonArray{server->toJson(), gone->toJson()}));

        // Edited while the first authentication is on the way: only the new round polls.
        QVERIFY(waitForRequests(sim, "edit", "auth", 1));
        manager->initServer(server);
        // Removed with its health reply on the way: the reply must not touch the record.
        QVERIFY(waitForRequests(sim, "gone", "health", 1));
        manager->removeServer(gone);
        gone->alarmsError = gone->infoError = "marker";
        // Its information requests may still be on the way; its polls and authentications have stopped.
        const int goneAsked = countOf(sim, "gone", "health") + countOf(sim, "gone", "auth");
        QVERIFY(waitForRequests(sim, "edit", "health", 5));
        QCOMPARE(countOf(sim, "edit", "auth"), 2);
        QCOMPARE(countOf(sim, "edit", "sysinfo"), 1);
        QCOMPARE(countOf(sim, "edit", "license"), 1);
        QVERIFY(keepsIntervals(requestsOf(sim, "edit", "health"), shortSettings().pollInterval));

        // A refused authentication is retried; an edit then drops the pending retry: one round, not two.
        sim.setEndpoint("edit", "auth", QJsonObject{{"status", 401}, {"json", QJsonObject{{"error", "No"}}}});
        manager->initServer(server);
        QVERIFY(waitForRequests(sim, "edit", "auth", 4));
        QTRY_VERIFY(server->alarmsError == QLatin1String("No") && server->initTimer.isActive());
        QVERIFY(keepsIntervals(requestsOf(sim, "edit", "auth").mid(2), shortSettings().authRetryInterval));
        sim.setEndpoint("edit", "auth", {});
        const int auths = countOf(sim, "edit", "auth");
        manager->initServer(server);
        QVERIFY(waitForRequests(sim, "edit", "sysinfo", 2));
        QTRY_VERIFY(server->alarmsError.isEmpty() && server->infoError.isEmpty() && !server->initTimer.isActive());
        QTest::qWait(shortSettings().authRetryInterval + slack);
        QCOMPARE(countOf(sim, "edit", "auth"), auths + 1);

        QVERIFY(requestsOf(sim, "never").isEmpty());
        QCOMPARE(countOf(sim, "gone", "health") + countOf(sim, "gone", "auth"), goneAsked);
        QCOMPARE(gone->alarmsError + gone->infoError, QStringLiteral("markermarker"));
        QVERIFY(!gone->alarmsTimer.isActive() && !gone->initTimer.isActive());
    }

    void hashesLeaveWorkersFree_data()
    {
        QTest::addColumn<int>("cost");
        QTest::addColumn<int>("workers");
        QTest::addColumn<QString>("then"); // what happens to the held server before the other is polled
        // The first cost of the high lane, and the highest cost hashed at all.
        QTest::newRow("high costs") << 16 << 1 << "";
        QTest::newRow("at the cost limit") << 20 << 1 << "";
        QTest::newRow("removed") << 10 << 1 << "remove";
        QTest::newRow("superseded") << 10 << 1 << "edit";
        QTest::newRow("shared") << 10 << 2 << "twin";
    }

    // A hash that takes long (held here until the row ends) must not keep any other server from being
    // polled, and hashes of a high cost run one at a time beside the ordinary ones.
    void hashesLeaveWorkersFree()
    {
        QFETCH(int, cost);
        QFETCH(int, workers);
        QFETCH(QString, then);
        // Every hash of cost 10 or more is held until the row ends; how many are held at once is counted.
        struct Held
        {
            QSemaphore gate;
            std::atomic<int> running{0}, most{0};
        };
        auto held = std::make_shared<Held>();
        MonitorSettings settings = shortSettings();
        settings.hashWorkers = workers;
        settings.hashFunction = [held](const QByteArray& password, const QByteArray& setting) {
            if (BcryptCache::costOf(setting) < 10)
                return BcryptCache::compute(password, setting);
            const int now = ++held->running;
            for (int seen = held->most; now > seen && !held->most.compare_exchange_weak(seen, now);) {
            }
            held->gate.acquire();
            --held->running;
            return BcryptCache::failureToken(setting);
        };
        manager->setSettings(settings);
        const auto letGo = qScopeGuard([held] { held->gate.release(100); });
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).remove(' ');
        const QString slow = "slow" + tag, fast = "fast" + tag;
        const QString salt = QStringLiteral("$2b$%1$Ro0CUfOqk6Ei.OgoyH5XNu").arg(cost);
        QVERIFY(load(sim,
                     {recorder(slow, {}, slow, salt), recorder(slow + "2", {}, slow, salt), recorder(fast, {}, fast)}));
        auto heldServer = addServer(sim, slow, slow);
        // The salt is taken from the reply just before the hash is asked for.
        QTRY_VERIFY(!heldServer->salt.isEmpty());
        if (then == "edit") {
            manager->initServer(heldServer);
            QVERIFY(waitForRequests(sim, slow, "auth", 2));
        } else if (then == "twin" || then.isEmpty()) {
            // The same password and setting: one hash for both. Another password: a hash of its own.
            auto twin = addServer(sim, then.isEmpty() ? slow + "2" : slow, then.isEmpty() ? fast : slow);
            QTRY_VERIFY(!twin->salt.isEmpty());
        }
        auto other = addServer(sim, fast, fast);
        if (then == "remove") {
            // While the held hash takes the only worker, the other one waits its turn.
            QTRY_VERIFY(!other->salt.isEmpty());
            QTest::qWait(3 * settings.pollInterval);
            QCOMPARE(countOf(sim, fast, "health"), 0);
            manager->removeServer(heldServer);
        }
        QVERIFY(waitForRequests(sim, fast, "health", 2));
        // A request of the held server waits for its hash on a worker; the GUI thread goes on polling.
        if (then.isEmpty()) {
            manager->refreshAlarms(heldServer);
            QVERIFY(waitForRequests(sim, fast, "health", 3));
            QCOMPARE(held->most.load(), 1);
        }
        QCOMPARE(countOf(sim, slow, "health"), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerManager)
#include "TestServerManager.moc"
