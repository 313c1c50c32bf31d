#include "MonitorTestSupport.h"
#include "monitor/ServerManager.h"
#include "tools/recorder-sim/RecorderSim.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

namespace {

using MonitorTest::timeoutText;
using MonitorTest::tooLargeText;
using MonitorTest::parseText;
// Stands for the network layer's own text, learnt from a plain request to the same reply.
const QString networkText = QStringLiteral("<network>");
// Any failure will do: Qt reports a connection closed mid-body as an error only most of the time, and
// the truncated body then fails to parse instead.
const QString anyFailure = QStringLiteral("<failure>");

using MonitorTest::underAsan;

// What a hostile reply may cost: the 16 MiB reply limit with room for the allocator, plus the
// sanitizer's quarantine of freed blocks where it runs. 100,000 alarm lines take 31 to 42 MiB here
// (the in-process simulator's copies included) and up to 51 MiB while other tests load the machine.
constexpr qint64 rssBoundKiB = (64 + (underAsan ? 320 : 0)) * 1024;

qint64 rssKiB()
{
    return MonitorTest::memoryKiB("VmRSS");
}

QString rawHttp(const QByteArray& statusLine, const QByteArray& body)
{
    return QString::fromLatin1(statusLine + "\r\nContent-Type: application/json\r\nContent-Length: " +
                               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

} // namespace

class TestHostileServers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hostileReply_data();
    void hostileReply();
    void megabyteOfHeaders();
    void manyAlarmLines();
    void garbageDate_data();
    void garbageDate();
    void acceptsAndNeverAnswers();
    void absurdBcryptCost();
    void absurdBcryptCostChild();

private:
    void load(const QString& login, const QJsonObject& endpoints, const QJsonValue& skew = 0);
    std::shared_ptr<Server> add(const QString& login, quint16 port);
    int requestCount(const QString& login, const QString& endpoint) const;
    bool waitForRequests(const QString& login, const QString& endpoint, int count, int timeoutMs = 20000) const;
    QString plainRequestError(const QString& login);
    void checkMemory(qint64 before) const;

    RecorderSim sim;
    ServerManager* manager = nullptr;
    MonitorSettings settings;
};

void TestHostileServers::initTestCase()
{
    QVERIFY(sim.start());
    manager = ServerManager::instance();
    settings.pollInterval = 300;
    settings.authRetryInterval = 500;
    settings.requestTimeout = 1500;
}

void TestHostileServers::init()
{
    manager->setSettings(settings);
    sim.clearRequests();
}

void TestHostileServers::cleanup()
{
    const QList<std::shared_ptr<Server>> added = manager->serverList();
    for (const auto& server : added)
        manager->removeServer(server);
    manager->setSettings(MonitorSettings());
}

void TestHostileServers::load(const QString& login, const QJsonObject& endpoints, const QJsonValue& skew)
{
    const QJsonObject recorder{{"login", login},
                               {"password", "secret"},
                               {"salt", "$2b$04$Ro0CUfOqk6Ei.OgoyH5XNu"},
                               {"dateSkewSeconds", skew},
                               {"endpoints", endpoints}};
    QString error;
    QVERIFY2(sim.loadScenario({{"recorders", QJsonArray{recorder}}}, &error), qPrintable(error));
}

std::shared_ptr<Server> TestHostileServers::add(const QString& login, quint16 port)
{
    return manager->addServer(login, QStringLiteral("127.0.0.1"), port, login, QStringLiteral("secret"));
}

int TestHostileServers::requestCount(const QString& login, const QString& endpoint) const
{
    int count = 0;
    for (const RecordedRequest& request : sim.requests()) {
        if (request.login == login && request.path.endsWith(QLatin1Char('/') + endpoint))
            ++count;
    }
    return count;
}

bool TestHostileServers::waitForRequests(const QString& login, const QString& endpoint, int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (requestCount(login, endpoint) < count) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QTest::qWait(20);
    }
    return true;
}

// The text Qt gives for this reply outside the monitor, to compare the monitor's error with.
QString TestHostileServers::plainRequestError(const QString& login)
{
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1.1/users/%2/auth").arg(sim.port()).arg(login))));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(20000))
        return QStringLiteral("no answer");
    const QString text = reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
    delete reply;
    return text;
}

void TestHostileServers::checkMemory(qint64 before) const
{
    const qint64 after = rssKiB();
    if (before < 0 || after < 0)
        return;
    QVERIFY2(after - before < rssBoundKiB, qPrintable(QStringLiteral("%1 KiB more").arg(after - before)));
}

void TestHostileServers::hostileReply_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QString>("error");

    QTest::newRow("drips one byte a second") << "health" << QJsonObject{{"dripBytesPerSecond", 1}} << timeoutText;
    QTest::newRow("resets mid-body") << "auth" << QJsonObject{{"bodyMiB", 1}, {"resetAfterBytes", 1000}} << anyFailure;
    QTest::newRow("invalid status line") << "auth"
                                         << QJsonObject{{"rawResponse",
                                                         "HTTP/1.1 two hundred OK\r\nContent-Length: 2\r\n\r\n{}"}}
                                         << networkText;
    QTest::newRow("not HTTP at all") << "auth" << QJsonObject{{"rawResponse", "SSH-2.0-OpenSSH_9.2\r\n"}}
                                     << networkText;
    QTest::newRow("64 MiB chunked") << "health" << QJsonObject{{"bodyMiB", 64}, {"noContentLength", "chunked"}}
                                    << tooLargeText;
    QTest::newRow("64 MiB until close") << "health" << QJsonObject{{"bodyMiB", 64}, {"noContentLength", "close"}}
                                        << tooLargeText;
    QTest::newRow("invalid UTF-8") << "health"
                                   << QJsonObject{{"rawResponse",
                                                   rawHttp("HTTP/1.1 200 OK",
                                                           "{\"errorDetails\":{\"recorder\":[\"\xff\xfe\xc3\"]}}")}}
                                   << parseText;
    QTest::newRow("10,000 levels of nesting")
        << "health" << QJsonObject{{"raw", QString(10000, QLatin1Char('[')) + QString(10000, QLatin1Char(']'))}}
        << parseText;
    // Qt's parser leaks the first value of a repeated key: refused before it gets there.
    QByteArray repeated = "{";
    for (int i = 0; i < 200000; ++i)
        repeated += "\"recorder\":[\"line\"],";
    QTest::newRow("200,000 repeated keys")
        << "health" << QJsonObject{{"raw", QString::fromLatin1(repeated + "\"x\":0}")}} << parseText;
}

void TestHostileServers::hostileReply()
{
    QFETCH(QString, endpoint);
    QFETCH(QJsonObject, reply);
    QFETCH(QString, error);
    const QString login = QStringLiteral("hostile");
    load(login, {{endpoint, reply}});
    // Qt may also take a reply as good (empty error): the server is then polled as usual.
    if (error == networkText)
        error = plainRequestError(login);
    QVERIFY(error != QLatin1String("no answer"));

    // Reaching the size limit takes a while under a sanitizer: only the limit may answer here.
    if (error == tooLargeText) {
        MonitorSettings patient = settings;
        patient.requestTimeout = 30000;
        manager->setSettings(patient);
    }
    const qint64 before = rssKiB();
    auto server = add(login, sim.port());
    const bool onAuth = endpoint == QLatin1String("auth");
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);
    if (error == anyFailure) {
        QTRY_VERIFY_WITH_TIMEOUT(server->initialized && !server->alarmsError.isEmpty(), 20000);
        error = server->alarmsError;
    }
    QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, error, 20000);
    QCOMPARE(server->infoError, onAuth ? error : QString());
    // The next retry or poll still comes, and fails the same way.
    const QString next = onAuth && !error.isEmpty() ? endpoint : QStringLiteral("health");
    const int sent = requestCount(login, next);
    QVERIFY2(waitForRequests(login, next, sent + 2, 40000),
             qPrintable(QStringLiteral("%1 %2 requests, then %3; error \"%4\"")
                            .arg(sent)
                            .arg(next)
                            .arg(requestCount(login, next))
                            .arg(server->alarmsError)));
    if (reply.contains(QStringLiteral("resetAfterBytes")))
        QTRY_VERIFY_WITH_TIMEOUT(server->initialized && !server->alarmsError.isEmpty(), 20000);
    else
        QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, error, 20000);
    checkMemory(before);
}

void TestHostileServers::megabyteOfHeaders()
{
    const QString login = QStringLiteral("headers");
    load(login, {{"auth", QJsonObject{{"headerBytes", 1024 * 1024}}}});
    const qint64 before = rssKiB();
    auto server = add(login, sim.port());
    // Qt takes seconds over a thousand headers: within the time limit the reply is good, past it the
    // time limit answers. Either way the server keeps being asked.
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);
    QVERIFY2(server->alarmsError.isEmpty() || server->alarmsError == timeoutText, qPrintable(server->alarmsError));
    const int sent = sim.requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(sim.requests().size() >= sent + 2, 20000);
    checkMemory(before);
}

void TestHostileServers::manyAlarmLines()
{
    const QString login = QStringLiteral("lines");
    QJsonArray lines;
    for (int i = 0; i < 100000; ++i)
        lines.append(QStringLiteral("Camera %1 lost its recording schedule").arg(i));
    const QJsonObject report{{"health", QJsonObject{{"recorder", false}}},
                             {"errorDetails", QJsonObject{{"recorder", lines}}}};
    load(login, {{"health", QJsonObject{{"json", report}}}});
    MonitorSettings slower = settings;
    slower.pollInterval = 2000;
    slower.requestTimeout = 20000;
    manager->setSettings(slower);

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    const qint64 before = rssKiB();
    sinceTick.start();
    ticker.start(10);
    auto server = add(login, sim.port());
    QTRY_COMPARE_WITH_TIMEOUT(server->recorderErrors.size(), 100000, 30000);
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 3, 30000));
    QTRY_COMPARE_WITH_TIMEOUT(server->recorderErrors.size(), 100000, 30000);
    ticker.stop();

    QCOMPARE(server->recorderErrors.first(), QStringLiteral("Camera 0 lost its recording schedule"));
    QCOMPARE(server->recorderErrors.last(), QStringLiteral("Camera 99999 lost its recording schedule"));
    QVERIFY(server->alarmsError.isEmpty());
    QVERIFY2(longestGap < 2000, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
    checkMemory(before);
}

void TestHostileServers::garbageDate_data()
{
    QTest::addColumn<QString>("date");
    QTest::newRow("out of range fields") << QStringLiteral("Sat, 99 Foo 99999 99:99:99 GMT");
    QTest::newRow("control and Latin-1 bytes") << QStringLiteral("\x01\x7f\u00ff\u00e9 05 Dec 2026");
    QTest::newRow("64 KiB of junk") << QString(64 * 1024, QLatin1Char('7'));
    QTest::newRow("day out of range") << QStringLiteral("Sat, 31 Feb 2026 05:02:48 GMT");
}

void TestHostileServers::garbageDate()
{
    QFETCH(QString, date);
    const QString login = QStringLiteral("date");
    load(login, {{"auth", QJsonObject{{"headers", QJsonObject{{"Date", date}}}}}});
    const qint64 before = rssKiB();
    auto server = add(login, sim.port());
    // Within the simulator's tolerance, so a kept offset still authenticates.
    server->clockOffset = 1500;
    QVERIFY(waitForRequests(login, QStringLiteral("license"), 1));
    QVERIFY(waitForRequests(login, QStringLiteral("health"), 2));
    QTRY_VERIFY(server->initialized && !server->license.isEmpty());
    QCOMPARE(server->clockOffset, qint64(1500));
    QVERIFY(server->alarmsError.isEmpty());
    QVERIFY(server->infoError.isEmpty());
    checkMemory(before);
}

void TestHostileServers::acceptsAndNeverAnswers()
{
    // Connections are taken by the listening socket and never read.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    silent.setMaxPendingConnections(1000);
    int connections = 0;
    connect(&silent, &QTcpServer::newConnection, this, [&] { ++connections; });

    const qint64 before = rssKiB();
    auto server = add(QStringLiteral("silent"), silent.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 10000);
    QCOMPARE(server->alarmsError, timeoutText);
    QCOMPARE(server->infoError, timeoutText);
    QVERIFY(server->initTimer.isActive());
    QTRY_VERIFY_WITH_TIMEOUT(connections >= 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server->alarmsError, timeoutText, 10000);
    checkMemory(before);
}

// A server may hand out a setting whose hash takes days; the program must still quit at once.
void TestHostileServers::absurdBcryptCost()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVANE_ABSURD_COST_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("absurdBcryptCostChild")});
    QVERIFY(child.waitForStarted());
    const bool finished = child.waitForFinished(60000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    QVERIFY2(finished, "the program waited for the hash when it quit");
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(child.readAllStandardOutput().contains("PASS   : TestHostileServers::absurdBcryptCostChild"),
             "the child did not reach the hash");
}

void TestHostileServers::absurdBcryptCostChild()
{
    if (qEnvironmentVariableIsEmpty("QUELVANE_ABSURD_COST_CHILD"))
        QSKIP("runs as the child of absurdBcryptCost");
    const QString login = QStringLiteral("cost31");
    const QJsonObject recorder{{"login", login}, {"password", "secret"}, {"salt", "$2b$31$Ro0CUfOqk6Ei.OgoyH5XNu"}};
    QVERIFY(sim.loadScenario({{"recorders", QJsonArray{recorder}}}));
    auto server = add(login, sim.port());
    QVERIFY(waitForRequests(login, QStringLiteral("auth"), 1));
    // The reply is handled and the hash is running on a worker; the GUI thread goes on.
    QTest::qWait(500);
    QVERIFY(!server->initialized);
    QCOMPARE(requestCount(login, QStringLiteral("health")), 0);
}

QTEST_GUILESS_MAIN(TestHostileServers)
#include "TestHostileServers.moc"
