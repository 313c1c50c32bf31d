// The real executables together: the simulator serves two recorders, one of them in alarm; the monitor
// reads a compact configuration and is observed only from outside, through config.json and a script.
#include "TestSupport.h"

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

const char scenario[] = R"({"recorders":[
    {"login":"north","password":"pw-north","salt":"$2b$04$sSkcfynC7OMBj7Ao2R.CLO"},
    {"login":"south","password":"pw-south","salt":"$2b$04$E8yjyfPnv6cQ0mriVZg9hu","endpoints":{"health":{"json":{
        "health":{"recorder":false,"cameras":true,"hardware":true},
        "errorDetails":{"recorder":["Recording stopped on volume 2"]}}}}}]})";

// The program's visible main windows, by their X ids.
QByteArray windows()
{
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--name", "^Quelvane Monitor$"});
    return search.waitForFinished() ? search.readAllStandardOutput() : QByteArray();
}

bool windowShown()
{
    return !windows().isEmpty();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    // Declared after the folder, so both are ended (killed) before it goes.
    QProcess simulator, monitor, trayer;

private slots:
    void configRewrittenAndScriptStartedOnce()
    {
        QVERIFY(writeFile(dir.filePath("scenario.json"), scenario));
        simulator.start(
            qEnvironmentVariable("QUELVANE_RECORDER_SIM"),
            {"--until-stdin-closes", "--log-requests", dir.filePath("requests"), dir.filePath("scenario.json")});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), 30000);
        const int port = simulator.readLine().trimmed().split(':').last().toInt();
        // One line per start: the event and the alarms; a start at load would read "none".
        const QString script = dir.filePath("on alarm.sh");
        QVERIFY(writeFile(script, "#!/bin/sh\necho \"${QUELVANE_EVENT:-none} $QUELVANE_ALARMS\" >> \"$0.log\"\n"));
        const QString config = dir.filePath("appdata/Quelvane SAS/Quelvane Monitor/config.json");
        const auto server = [port](const char* name, const char* login) {
            return QJsonObject{{"name", name},
                               {"host", "127.0.0.1"},
                               {"port", port},
                               {"login", login},
                               {"password", QStringLiteral("pw-") + login}};
        };
        QJsonObject root{{"servers", QJsonArray{server("North gate", "north"), server("South depot", "south")}},
                         {"extActions", QJsonArray{QJsonObject{{"path", script}}}}};
        QVERIFY(writeFile(config, QJsonDocument(root).toJson(QJsonDocument::Compact)));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("APPDATA", dir.filePath("appdata"));
        monitor.setProcessEnvironment(environment);
        // Started as at login on a desktop without a tray: no window at first (the wait for a tray is longer
        // than these 4 s from the moment it was started), then the window as the way in.
        QElapsedTimer sinceStart;
        sinceStart.start();
        monitor.start(qEnvironmentVariable("QUELVANE_MONITOR"), {"--hidden"});
        while (sinceStart.elapsed() < 4000) {
            QVERIFY(!windowShown());
            QTest::qWait(250);
        }
        root.insert("version", "1.0.0");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(config), QJsonDocument(root).toJson(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(dir.filePath("requests")).contains("/health"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(), 20000);
        // Two health polls of each: the alarm lasted through the second without a second start.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(dir.filePath("requests")).count("/health") >= 4, 90000);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(script + ".log").endsWith('\n'), 30000);
        const QByteArray log = readFile(script + ".log");
        QVERIFY2(log.count('\n') == 1 && log.startsWith("alarm [") && log.contains("South depot") &&
                     !log.contains("North gate"),
                 log.constData());
        QCOMPARE(monitor.state(), QProcess::Running);
        // The hashes are kept beside the configuration for the next start.
        QCOMPARE(
            QJsonDocument::fromJson(readFile(QFileInfo(config).path() + "/hashes.json"))["entries"].toArray().size(),
            2);
    }

    // One program per user and configuration: a later start hands over and ends at once, asking for the
    // window unless it is a start at login; one that died leaves nothing in the way of the next. A tray is
    // up, so a start at login never opens the window by itself: only a handover can show it.
    void secondStart()
    {
        monitor.kill();
        QVERIFY(monitor.waitForFinished() && !windowShown());
        trayer.start("trayer", {"--edge", "top", "--widthtype", "pixel", "--width", "100"});
        QVERIFY(trayer.waitForStarted() &&
                QProcess::execute("timeout", {"30", "xdotool", "search", "--sync", "--onlyvisible", "--class",
                                              "trayer"}) == 0);
        QVERIFY(writeFile(dir.filePath("single/Quelvane SAS/Quelvane Monitor/config.json"), "{}"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("APPDATA", dir.filePath("single"));
        const auto start = [&](QProcess& process, const QStringList& arguments) {
            process.setProcessEnvironment(environment);
            process.start(qEnvironmentVariable("QUELVANE_MONITOR"), arguments);
            return process.waitForStarted();
        };
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        const auto locks = [&] { return runtime.entryList({"quelvane-monitor-*.lock"}, QDir::Files).size(); };
        const int others = locks();
        QProcess first, later, next;
        QVERIFY(start(first, {"--hidden"}));
        QTRY_COMPARE_WITH_TIMEOUT(locks(), others + 1, 10000);
        QVERIFY(start(later, {"--hidden"}) && later.waitForFinished(10000) && later.exitCode() == 0);
        QTest::qWait(1000);
        QVERIFY(!windowShown());
        QVERIFY(start(later, {}) && later.waitForFinished(10000) && later.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(), 10000);
        QCOMPARE(first.state(), QProcess::Running);
        // The next program's own window, not the one the X server has not taken down yet.
        const QByteArray firstWindow = windows();
        first.kill();
        QVERIFY(first.waitForFinished() && start(next, {}));
        QTRY_VERIFY_WITH_TIMEOUT(windowShown() && windows() != firstWindow, 10000);
        QVERIFY(start(later, {"--hidden"}) && later.waitForFinished(10000) && later.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
