// The real executables together: the simulator serves two recorders, the monitor reads a prepared
// configuration and is observed only from outside (requests log, configuration file, window).
#include <QtTest>
#include <optional>

namespace {

const QString api = QStringLiteral("/api/v1.1/");

// South reports alarms in two categories; north is in order.
const char scenario[] = R"({"recorders":[
    {"login":"north","password":"pw-north","salt":"$2b$04$sSkcfynC7OMBj7Ao2R.CLO"},
    {"login":"south","password":"pw-south","salt":"$2b$04$E8yjyfPnv6cQ0mriVZg9hu","endpoints":{"health":{"json":{
        "health":{"recorder":false,"cameras":false,"hardware":true},
        "errorDetails":{"recorder":["Recording stopped on volume 2"],
                        "cameras":[{"name":"Gate","streamName":"main","error":"no signal"}]}}}}}]})";

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

// Runs a helper program to its end and gives its output; the X tools never need long, a hang means a broken display.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
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
    void scriptStartedOnceForAlarm();
    void screenshots();

private:
    QList<QJsonObject> requestsOf(const QString& login, const QString& path = {}) const;

    QTemporaryDir dir;
    QProcess simulator;
    QProcess monitor;
    QString port;
    QString configPath;
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
    QVERIFY(writeFile(scenarioPath, scenario));
    requestLog = dir.filePath(QStringLiteral("requests.jsonl"));
    simulator.start(simulatorProgram, {"--until-stdin-closes", "--log-requests", requestLog, scenarioPath});
    QVERIFY(simulator.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), 30000);
    const QString line = QString::fromLatin1(simulator.readLine()).trimmed();
    QVERIFY2(line.startsWith(QLatin1String("listening on 127.0.0.1:")), qPrintable(line));
    port = line.section(QLatin1Char(':'), -1);

    // One line per start with the event and the alarms it was started for; a start at load would read "none".
    scriptPath = dir.filePath(QStringLiteral("on-alarm.sh"));
    QVERIFY(
        writeFile(scriptPath,
                  "#!/bin/sh\nprintf '%s %s\\n' \"${QUELVANE_EVENT:-none}\" \"$QUELVANE_ALARMS\" >> \"$0.marker\"\n"));
    QVERIFY(QFile::setPermissions(scriptPath, QFile::permissions(scriptPath) | QFileDevice::ExeOwner));

    // Compact, keys out of order and an old version: only the monitor's own rewrite gives the indented form.
    configPath = dir.filePath(QStringLiteral("appdata/Quelvane SAS/Quelvane Monitor/config.json"));
    QVERIFY(QDir().mkpath(QFileInfo(configPath).absolutePath()));
    const QString config =
        QStringLiteral(R"({"version":"0.9","servers":[)"
                       R"({"name":"North gate","host":"127.0.0.1","port":%1,"login":"north","password":"pw-north"},)"
                       R"({"name":"South depot","host":"127.0.0.1","port":%1,"login":"south","password":"pw-south"}],)"
                       R"("extActions":[{"path":"%2"}]})")
            .arg(port, scriptPath);
    QVERIFY(writeFile(configPath, config.toUtf8()));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("APPDATA"), dir.filePath(QStringLiteral("appdata")));
    monitor.setProcessEnvironment(environment);
    monitor.setProcessChannelMode(QProcess::ForwardedChannels);
    monitor.start(monitorProgram, QStringList());
    QVERIFY(monitor.waitForStarted(30000));
}

void TestEndToEnd::cleanupTestCase()
{
    monitor.terminate();
    simulator.closeWriteChannel();
    for (QProcess* process : {&monitor, &simulator}) {
        if (process->state() != QProcess::NotRunning && !process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

// The simulator's log, one JSON object per request; the last line may still be being written.
QList<QJsonObject> TestEndToEnd::requestsOf(const QString& login, const QString& path) const
{
    QList<QJsonObject> requests;
    const QByteArray log = readFile(requestLog);
    for (const QByteArray& line : log.left(log.lastIndexOf('\n') + 1).split('\n')) {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (request["login"].toString() == login && (path.isEmpty() || request["path"].toString() == path))
            requests << request;
    }
    return requests;
}

void TestEndToEnd::requestsInOrder_data()
{
    QTest::addColumn<QString>("login");
    QTest::newRow("healthy") << "north";
    QTest::newRow("alarms") << "south";
}

void TestEndToEnd::requestsInOrder()
{
    QFETCH(QString, login);
    QTRY_VERIFY_WITH_TIMEOUT(!requestsOf(login, api + "license").isEmpty(), 90000);
    // Each request as its path, status, failed WSSE check and the headers the monitor sets itself, in order.
    const QRegularExpression own(QStringLiteral("^(Authorization|X-WSSE|Accept-Language)$"));
    QStringList seen;
    for (const QJsonObject& request : requestsOf(login)) {
        seen << QStringList{request["path"].toString(), QString::number(request["status"].toInt()),
                            request["authError"].toString(),
                            request["headers"].toVariant().toStringList().filter(own).join(',')}
                    .join(' ');
    }
    const QString wsse = QStringLiteral(" 200  Authorization,X-WSSE,Accept-Language");
    QCOMPARE(seen.first(), api + "users/" + login + "/auth 200  Accept-Language");
    QVERIFY2(seen.mid(1).filter(wsse).size() == seen.size() - 1, qPrintable(seen.join('\n')));
    // Health and system information leave back to back on two connections, so they may arrive in
    // either order; the licence request is only sent once the system information has come back.
    QVERIFY(seen.contains(api + "health" + wsse));
    QVERIFY(seen.indexOf(api + "sysinfo" + wsse) < seen.indexOf(api + "license" + wsse));
    QCOMPARE(seen.count(api + "sysinfo" + wsse), 1);
    QCOMPARE(seen.count(api + "license" + wsse), 1);
}

void TestEndToEnd::configRewrittenOnce()
{
    const auto server = [this](const char* name, const char* login) {
        return QJsonObject{{"host", "127.0.0.1"},
                           {"login", login},
                           {"name", name},
                           {"password", QStringLiteral("pw-") + login},
                           {"port", port.toInt()}};
    };
    const QJsonObject expected{{"extActions", QJsonArray{QJsonObject{{"path", scriptPath}}}},
                               {"servers", QJsonArray{server("North gate", "north"), server("South depot", "south")}},
                               {"version", "1.0.0"}};
    // Indented, four spaces a level, keys in ascending order.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(configPath), QJsonDocument(expected).toJson(QJsonDocument::Indented), 30000);
}

void TestEndToEnd::scriptStartedOnceForAlarm()
{
    // A second health poll per recorder shows the monitor is alive and polling, not just started; the
    // alarm that lasted through it must not have started the script again.
    QTRY_VERIFY_WITH_TIMEOUT(
        requestsOf("north", api + "health").size() >= 2 && requestsOf("south", api + "health").size() >= 2, 90000);
    QCOMPARE(monitor.state(), QProcess::Running);
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
    if (xdotool.isEmpty() || import.isEmpty())
        QSKIP("xdotool and ImageMagick's import are needed for the screenshots");
    const QDir artifacts(qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS", dir.path()));
    QVERIFY(artifacts.mkpath(QStringLiteral(".")));

    const QByteArray found = runTool(xdotool, {"search", "--sync", "--onlyvisible", "--pid",
                                               QString::number(monitor.processId()), "--name", "^Quelvane Monitor$"})
                                 .value_or(QByteArray());
    const QString window = QString::fromLatin1(found.split('\n').first().trimmed());
    QVERIFY(!window.isEmpty());

    // Nobody else gives the window the focus on a bare X server; "*" expands the current row recursively.
    // Nothing outside the process tells when the expanded rows are painted: give it a moment.
    const auto shoot = [&](const QString& name) {
        if (!runTool(xdotool, {"windowfocus", "--sync", window}) ||
            !runTool(xdotool, {"mousemove", "--window", window, "300", "45", "click", "1"}) ||
            !runTool(xdotool, {"key", "--delay", "100", "End", "asterisk", "Up", "asterisk", "Home"}))
            return QByteArray();
        QTest::qWait(1000);
        const QString path = artifacts.filePath(name);
        return runTool(import, {"-window", window, path}) ? readFile(path) : QByteArray();
    };
    const QByteArray alarms = shoot(QStringLiteral("e2e-alarms.png"));
    QVERIFY(runTool(xdotool, {"key", "ctrl+Tab"}));
    const QByteArray information = shoot(QStringLiteral("e2e-information.png"));
    QVERIFY(alarms.startsWith("\x89PNG") && information.startsWith("\x89PNG"));
    QVERIFY2(alarms != information, "the Information tab was not shown");
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
