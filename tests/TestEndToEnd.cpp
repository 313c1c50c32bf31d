// The real executables together: the simulator serves two recorders, the monitor reads a prepared
// configuration and is observed only from outside (the simulator's request log, config.json, a script).
#include <QtTest>

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

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QProcess simulator;
    QProcess monitor;
    QString port;
    QString configPath;
    QString scriptPath;

    // Path, status and WSSE failure of each request of one recorder, in order; the last line may be half written.
    QStringList requestsOf(const QString& login) const
    {
        QStringList seen;
        const QByteArray log = readFile(dir.filePath(QStringLiteral("requests.jsonl")));
        for (const QByteArray& line : log.left(log.lastIndexOf('\n') + 1).split('\n')) {
            const QJsonObject request = QJsonDocument::fromJson(line).object();
            if (request["login"].toString() == login)
                seen << request["path"].toString().remove(api) + QLatin1Char(' ') +
                            QString::number(request["status"].toInt()) + request["authError"].toString();
        }
        return seen;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath(QStringLiteral("scenario.json")), scenario));
        simulator.start(qEnvironmentVariable("QUELVANE_RECORDER_SIM"),
                        {"--until-stdin-closes", "--log-requests", dir.filePath(QStringLiteral("requests.jsonl")),
                         dir.filePath(QStringLiteral("scenario.json"))});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), 30000);
        const QString line = QString::fromLatin1(simulator.readLine()).trimmed();
        QVERIFY2(line.startsWith(QLatin1String("listening on 127.0.0.1:")), qPrintable(line));
        port = line.section(QLatin1Char(':'), -1);

        // One line per start with the event and the alarms; a start at load would read "none".
        scriptPath = dir.filePath(QStringLiteral("on alarm.sh"));
        QVERIFY(writeFile(scriptPath,
                          "#!/bin/sh\nprintf '%s %s\\n' \"${QUELVANE_EVENT:-none}\" \"$QUELVANE_ALARMS\" >> \"$0.log\"\n"));
        QVERIFY(QFile::setPermissions(scriptPath, QFile::permissions(scriptPath) | QFileDevice::ExeOwner));

        // Compact, keys out of order and an old version: only the monitor's own rewrite gives the indented form.
        configPath = dir.filePath(QStringLiteral("appdata/Quelvane SAS/Quelvane Monitor/config.json"));
        QVERIFY(QDir().mkpath(QFileInfo(configPath).absolutePath()));
        QVERIFY(writeFile(
            configPath,
            QStringLiteral(R"({"version":"0.9","servers":[)"
                           R"({"name":"North gate","host":"127.0.0.1","port":%1,"login":"north","password":"pw-north"},)"
                           R"({"name":"South depot","host":"127.0.0.1","port":%1,"login":"south","password":"pw-south"}],)"
                           R"("extActions":[{"path":"%2"}]})")
                .arg(port, scriptPath)
                .toUtf8()));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("APPDATA"), dir.filePath(QStringLiteral("appdata")));
        monitor.setProcessEnvironment(environment);
        monitor.setProcessChannelMode(QProcess::ForwardedChannels);
        monitor.start(qEnvironmentVariable("QUELVANE_MONITOR"), QStringList());
        QVERIFY(monitor.waitForStarted(30000));
    }

    void cleanupTestCase()
    {
        monitor.terminate();
        simulator.closeWriteChannel();
        for (QProcess* process : {&monitor, &simulator}) {
            if (process->state() != QProcess::NotRunning && !process->waitForFinished(10000))
                process->kill();
        }
    }

    void configRewritten()
    {
        const auto server = [this](const char* name, const char* login) {
            return QJsonObject{{"host", "127.0.0.1"}, {"login", login}, {"name", name},
                               {"password", QStringLiteral("pw-") + login}, {"port", port.toInt()}};
        };
        const QJsonObject expected{{"extActions", QJsonArray{QJsonObject{{"path", scriptPath}}}},
                                   {"servers", QJsonArray{server("North gate", "north"), server("South depot", "south")}},
                                   {"version", "1.0.0"}};
        QTRY_COMPARE_WITH_TIMEOUT(readFile(configPath), QJsonDocument(expected).toJson(), 30000);
    }

    // Authenticated once each, then polled; the alarm that lasts through the polls starts the script once.
    void monitoredAndScriptStartedOnce()
    {
        for (const QString& login : {QStringLiteral("north"), QStringLiteral("south")}) {
            QTRY_VERIFY_WITH_TIMEOUT(requestsOf(login).count(QStringLiteral("health 200")) >= 2, 90000);
            const QStringList seen = requestsOf(login);
            QCOMPARE(seen.first(), QStringLiteral("users/") + login + QStringLiteral("/auth 200"));
            QCOMPARE(seen.filter(QStringLiteral("auth")).size(), 1);
            QVERIFY2(seen.filter(QRegularExpression(QStringLiteral("^(health|sysinfo|license) 200$"))).size() ==
                         seen.size() - 1,
                     qPrintable(seen.join('\n')));
        }
        QCOMPARE(monitor.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(scriptPath + ".log").endsWith('\n'), 30000);
        const QList<QByteArray> lines = readFile(scriptPath + ".log").split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.first().startsWith("alarm [") && lines.first().contains(R"("server":"South depot")") &&
                     !lines.first().contains("North gate"),
                 lines.first().constData());
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
