// The real executables together: the simulator serves two recorders, the monitor reads a prepared
// configuration and is observed only from outside (requests log, configuration file, window).
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString healthPath = QStringLiteral("/api/v1.1/health");
const QString sysinfoPath = QStringLiteral("/api/v1.1/sysinfo");
const QString licensePath = QStringLiteral("/api/v1.1/license");

struct LoggedRequest
{
    QString path;
    QString login;
    int status = 0;
    QString authError;
    QStringList headers;
};

QJsonObject scenario()
{
    const QJsonObject alarmsHealth{
        {"health", QJsonObject{{"recorder", false}, {"cameras", false}, {"hardware", true}}},
        {"errorDetails",
         QJsonObject{
             {"recorder", QJsonArray{"Recording stopped on volume 2"}},
             {"cameras", QJsonArray{QJsonObject{{"name", "Gate"}, {"streamName", "main"}, {"error", "no signal"}}}}}}};
    return {{"recorders",
             QJsonArray{
                 QJsonObject{{"login", "north"}, {"password", "pw-north"}, {"salt", "$2b$04$sSkcfynC7OMBj7Ao2R.CLO"}},
                 QJsonObject{{"login", "south"},
                             {"password", "pw-south"},
                             {"salt", "$2b$04$E8yjyfPnv6cQ0mriVZg9hu"},
                             {"endpoints", QJsonObject{{"health", QJsonObject{{"json", alarmsHealth}}}}}}}}};
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs a helper program to its end; the X tools never need long, a hang means a broken display.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output) {
        *output = process.readAllStandardOutput();
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void requestsInOrder_data();
    void requestsInOrder();
    void configRewrittenOnce();
    void monitorKeepsRunning();
    void scriptStartedOnceForAlarm();
    void screenshots();

private:
    QList<LoggedRequest> loggedRequests() const;
    QList<LoggedRequest> requestsOf(const QString& login) const;
    QString configPath() const;

    QTemporaryDir dir;
    QProcess simulator;
    QProcess monitor;
    QString port;
    QString requestLog;
    QString scriptPath;
};

void TestEndToEnd::initTestCase()
{
    const QString simulatorProgram = qEnvironmentVariable("QUELVANE_RECORDER_SIM");
    const QString monitorProgram = qEnvironmentVariable("QUELVANE_MONITOR");
    QVERIFY2(!simulatorProgram.isEmpty() && !monitorProgram.isEmpty(),
             "QUELVANE_RECORDER_SIM and QUELVANE_MONITOR must name the executables");
    QVERIFY(dir.isValid());

    const QString scenarioPath = dir.filePath(QStringLiteral("scenario.json"));
    QVERIFY(writeFile(scenarioPath, QJsonDocument(scenario()).toJson()));
    requestLog = dir.filePath(QStringLiteral("requests.jsonl"));
    simulator.start(simulatorProgram, {QStringLiteral("--until-stdin-closes"), QStringLiteral("--log-requests"),
                                       requestLog, scenarioPath});
    QVERIFY(simulator.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), 30000);
    const QString line = QString::fromLatin1(simulator.readLine()).trimmed();
    const auto match = QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    port = match.captured(1);

    // One line per start with the event and the alarms it was started for; a start at load would read "none".
    scriptPath = dir.filePath(QStringLiteral("on-alarm.sh"));
    QVERIFY(
        writeFile(scriptPath,
                  "#!/bin/sh\nprintf '%s %s\\n' \"${QUELVANE_EVENT:-none}\" \"$QUELVANE_ALARMS\" >> \"$0.marker\"\n"));
    QVERIFY(QFile::setPermissions(scriptPath, QFile::permissions(scriptPath) | QFileDevice::ExeOwner));

    // Compact, keys out of order and an old version: only the monitor's own rewrite gives the indented form.
    const QString appData = dir.filePath(QStringLiteral("appdata"));
    QVERIFY(QDir().mkpath(QFileInfo(configPath()).absolutePath()));
    const QString config =
        QStringLiteral(R"({"version":"0.9","servers":[)"
                       R"({"name":"North gate","host":"127.0.0.1","port":%1,"login":"north","password":"pw-north"},)"
                       R"({"name":"South depot","host":"127.0.0.1","port":%1,"login":"south","password":"pw-south"}],)"
                       R"("extActions":[{"path":"%2"}]})")
            .arg(port, scriptPath);
    QVERIFY(writeFile(configPath(), config.toUtf8()));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("APPDATA"), appData);
    monitor.setProcessEnvironment(environment);
    monitor.setProcessChannelMode(QProcess::ForwardedChannels);
    monitor.start(monitorProgram, QStringList());
    QVERIFY(monitor.waitForStarted(30000));
}

void TestEndToEnd::cleanupTestCase()
{
    if (monitor.state() != QProcess::NotRunning) {
        monitor.terminate();
        if (!monitor.waitForFinished(10000)) {
            monitor.kill();
            monitor.waitForFinished();
        }
    }
    if (simulator.state() != QProcess::NotRunning) {
        simulator.closeWriteChannel();
        if (!simulator.waitForFinished(10000)) {
            simulator.kill();
            simulator.waitForFinished();
        }
    }
}

QString TestEndToEnd::configPath() const
{
    return dir.filePath(QStringLiteral("appdata/Quelvane SAS/Quelvane Monitor/config.json"));
}

QList<LoggedRequest> TestEndToEnd::loggedRequests() const
{
    QList<LoggedRequest> requests;
    const QByteArray log = readFile(requestLog);
    // The last line may still be being written.
    const QList<QByteArray> lines = log.left(log.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray& line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.isEmpty()) {
            continue;
        }
        LoggedRequest request;
        request.path = object.value(QLatin1String("path")).toString();
        request.login = object.value(QLatin1String("login")).toString();
        request.status = object.value(QLatin1String("status")).toInt();
        request.authError = object.value(QLatin1String("authError")).toString();
        for (const QJsonValue& name : object.value(QLatin1String("headers")).toArray()) {
            request.headers << name.toString();
        }
        requests << request;
    }
    return requests;
}

QList<LoggedRequest> TestEndToEnd::requestsOf(const QString& login) const
{
    QList<LoggedRequest> requests;
    for (const LoggedRequest& request : loggedRequests()) {
        if (request.login == login) {
            requests << request;
        }
    }
    return requests;
}

void TestEndToEnd::requestsInOrder_data()
{
    QTest::addColumn<QString>("login");
    QTest::newRow("healthy") << QStringLiteral("north");
    QTest::newRow("alarms") << QStringLiteral("south");
}

void TestEndToEnd::requestsInOrder()
{
    QFETCH(QString, login);
    const auto hasLicense = [this, &login] {
        for (const LoggedRequest& request : requestsOf(login)) {
            if (request.path == licensePath) {
                return true;
            }
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(hasLicense(), 90000);

    const QList<LoggedRequest> requests = requestsOf(login);
    QCOMPARE(requests.first().path, QStringLiteral("/api/v1.1/users/%1/auth").arg(login));
    QCOMPARE(requests.first().status, 200);
    QVERIFY(!requests.first().headers.contains(QStringLiteral("Authorization")));
    QVERIFY(!requests.first().headers.contains(QStringLiteral("X-WSSE")));
    QVERIFY(requests.first().headers.contains(QStringLiteral("Accept-Language")));

    QStringList paths;
    for (const LoggedRequest& request : requests.mid(1)) {
        paths << request.path;
        QVERIFY2(request.authError.isEmpty(), qPrintable(request.path + QStringLiteral(": ") + request.authError));
        QCOMPARE(request.status, 200);
        const int authorization = request.headers.indexOf(QStringLiteral("Authorization"));
        const int wsse = request.headers.indexOf(QStringLiteral("X-WSSE"));
        const int language = request.headers.indexOf(QStringLiteral("Accept-Language"));
        QVERIFY2(authorization >= 0 && authorization < wsse && wsse < language,
                 qPrintable(request.headers.join(QLatin1Char(' '))));
    }
    // Health and system information leave back to back on two connections, so they may arrive in
    // either order; the licence request is only sent once the system information has come back.
    QVERIFY(paths.contains(healthPath));
    QVERIFY(paths.indexOf(sysinfoPath) < paths.indexOf(licensePath));
    QCOMPARE(paths.count(sysinfoPath), 1);
    QCOMPARE(paths.count(licensePath), 1);
}

void TestEndToEnd::configRewrittenOnce()
{
    const QString expected = QStringLiteral(R"({
    "extActions": [
        {
            "path": "%2"
        }
    ],
    "servers": [
        {
            "host": "127.0.0.1",
            "login": "north",
            "name": "North gate",
            "password": "pw-north",
            "port": %1
        },
        {
            "host": "127.0.0.1",
            "login": "south",
            "name": "South depot",
            "password": "pw-south",
            "port": %1
        }
    ],
    "version": "1.0.0"
}
)")
                                 .arg(port, scriptPath);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(configPath())), expected, 30000);
}

void TestEndToEnd::monitorKeepsRunning()
{
    // A second health poll per recorder shows the monitor is alive and polling, not just started.
    const auto polls = [this](const QString& login) {
        int count = 0;
        for (const LoggedRequest& request : requestsOf(login)) {
            count += request.path == healthPath ? 1 : 0;
        }
        return count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(polls(QStringLiteral("north")) >= 2 && polls(QStringLiteral("south")) >= 2, 90000);
    QCOMPARE(monitor.state(), QProcess::Running);
}

void TestEndToEnd::scriptStartedOnceForAlarm()
{
    // Runs after the second polls: the alarm that lasted through them must not have started it again.
    const QString markerPath = scriptPath + QStringLiteral(".marker");
    QTRY_VERIFY_WITH_TIMEOUT(readFile(markerPath).endsWith('\n'), 30000);
    const QList<QByteArray> lines = readFile(markerPath).split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.first().startsWith("alarm ["), lines.first().constData());
    QVERIFY(lines.first().contains(R"("server":"South depot")"));
    QVERIFY(!lines.first().contains("North gate"));
}

void TestEndToEnd::screenshots()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    const QString import = QStandardPaths::findExecutable(QStringLiteral("import"));
    if (xdotool.isEmpty() || import.isEmpty()) {
        QSKIP("xdotool and ImageMagick's import are needed for the screenshots");
    }
    const QString artifacts = qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS", dir.path());
    QVERIFY(QDir().mkpath(artifacts));

    QByteArray found;
    QVERIFY(runTool(xdotool,
                    {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(monitor.processId()), QStringLiteral("--name"),
                     QStringLiteral("^Quelvane Monitor$")},
                    &found));
    const QString window = QString::fromLatin1(found.split('\n').first().trimmed());
    QVERIFY(!window.isEmpty());

    // Nobody else gives the window the focus on a bare X server; "*" expands the current row recursively.
    const auto expandTree = [&] {
        return runTool(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) &&
               runTool(xdotool, {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("300"),
                                 QStringLiteral("45"), QStringLiteral("click"), QStringLiteral("1")}) &&
               runTool(xdotool, {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"),
                                 QStringLiteral("End"), QStringLiteral("asterisk"), QStringLiteral("Up"),
                                 QStringLiteral("asterisk"), QStringLiteral("Home")});
    };
    const QString alarmsShot = QDir(artifacts).filePath(QStringLiteral("e2e-alarms.png"));
    const QString informationShot = QDir(artifacts).filePath(QStringLiteral("e2e-information.png"));
    // Nothing outside the process tells when the expanded rows are painted: give it a moment.
    QVERIFY(expandTree());
    QTest::qWait(1000);
    QVERIFY(runTool(import, {QStringLiteral("-window"), window, alarmsShot}));
    QVERIFY(runTool(xdotool, {QStringLiteral("key"), QStringLiteral("ctrl+Tab")}));
    QVERIFY(expandTree());
    QTest::qWait(1000);
    QVERIFY(runTool(import, {QStringLiteral("-window"), window, informationShot}));

    const QByteArray alarms = readFile(alarmsShot);
    const QByteArray information = readFile(informationShot);
    QVERIFY(alarms.startsWith("\x89PNG"));
    QVERIFY(information.startsWith("\x89PNG"));
    QVERIFY2(alarms != information, "the Information tab was not shown");
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
