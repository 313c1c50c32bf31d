#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"
#include "views/AlarmScriptLauncher.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {
// What one start of the marker script saw.
struct Start
{
    QString event;
    QString time;
    QByteArray alarms;
};

QByteArray hall(const QByteArray& categories, bool truncated = false)
{
    return R"({"server":"Hall","host":"127.0.0.1","port":8081,"categories":{)" + categories + "}" +
           (truncated ? R"(,"truncated":true)" : "") + "}";
}

QByteArray gate(const QByteArray& categories, bool truncated = false)
{
    return R"({"server":"Gate","host":"localhost","port":9000,"categories":{)" + categories + "}" +
           (truncated ? R"(,"truncated":true)" : "") + "}";
}

// Plain ASCII lines as the members of a JSON array.
QByteArray quoted(const QStringList& lines)
{
    QByteArray json;
    for (const QString& line : lines) {
        json += (json.isEmpty() ? "\"" : ",\"") + line.toUtf8() + '"';
    }
    return json;
}

void setAlarms(const std::shared_ptr<Server>& server, const QStringList& recorder, const QStringList& cameras,
               const QStringList& hardware)
{
    server->initialized = true;
    server->alarmsError.clear();
    server->recorderErrors = recorder;
    server->camerasErrors = cameras;
    server->hardwareErrors = hardware;
    emit server->alarmsUpdated();
}

QStringList longLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        lines << QStringLiteral("camera %1 stream main: ").arg(i, 3, 10, QLatin1Char('0')) + QString(400, 'x');
    }
    return lines;
}

// The byte budget of a cut document: under the limit, valid, and keeping the longest possible prefix.
void checkTruncated(const QByteArray& json, const QStringList& lines, int limit)
{
    QVERIFY2(json.size() < limit, QByteArray::number(json.size()).constData());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.array().size(), 1);
    const QJsonObject server = document.array().at(0).toObject();
    QCOMPARE(server.value("truncated"), QJsonValue(true));
    const QJsonArray kept = server.value("categories").toObject().value("cameras").toArray();
    QVERIFY(!kept.isEmpty());
    QVERIFY(kept.size() < lines.size());
    for (int i = 0; i < kept.size(); ++i) {
        QCOMPARE(kept.at(i).toString(), lines.at(i));
    }
    // One more line, with its comma and quotes, would not have fitted.
    QVERIFY(json.size() + lines.at(kept.size()).toUtf8().size() + 3 >= limit);
}
} // namespace

class TestAlarmScripts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void alarmsJson_data();
    void alarmsJson();
    void truncation_data();
    void truncation();
    void truncationAt64KiB();

    void startsOnRisingEdges_data();
    void startsOnRisingEdges();
    void healthyStartUpStartsNothing();
    void oncePerRiseOverPolls();
    void environmentOfAStart();
    void truncatedValueReachesScript();

private:
    std::shared_ptr<Server> announce(const QString& name, const QString& host, int port);
    bool useScript();
    QList<Start> starts() const;
    void expectStarts(int count);

    QTemporaryDir tmp;
    QString script;
    QString marker;
    ServerAlarmsWidget* page = nullptr;
    QStandardItemModel* model = nullptr;
    QList<std::shared_ptr<Server>> announced;
};

void TestAlarmScripts::initTestCase()
{
    MonitorSettings settings;
    settings.authRetryInterval = 60000;
    settings.pollInterval = 60000;
    settings.requestTimeout = 10000;
    ServerManager::instance()->setSettings(settings);

    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("with blank")));
    const QString dir = tmp.filePath(QStringLiteral("with blank"));
    script = dir + QStringLiteral("/on alarm.sh");
    marker = dir + QStringLiteral("/starts.txt");
    // The marker's path reaches the script only through the inherited environment.
    qputenv("QUELVANE_TEST_MARKER", QFile::encodeName(marker));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n"
               "printf '%s\\t%s\\t%s\\n' \"$QUELVANE_EVENT\" \"$QUELVANE_TIME\" \"$QUELVANE_ALARMS\""
               " >> \"$QUELVANE_TEST_MARKER\"\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

void TestAlarmScripts::init()
{
    QFile::remove(marker);
    page = new ServerAlarmsWidget;
    new AlarmScriptLauncher(page);
    auto* view = page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
    QVERIFY(view);
    model = qobject_cast<QStandardItemModel*>(view->model());
    QVERIFY(model);
}

void TestAlarmScripts::cleanup()
{
    for (const auto& server : announced) {
        emit ServerManager::instance()->serverRemoved(server);
    }
    announced.clear();
    delete page;
    const auto actions = ExtActionManager::instance()->actionList();
    for (const auto& action : actions) {
        ExtActionManager::instance()->removeAction(action);
    }
}

std::shared_ptr<Server> TestAlarmScripts::announce(const QString& name, const QString& host, int port)
{
    auto server = std::make_shared<Server>(name, host, port, QStringLiteral("l"), QStringLiteral("p"));
    announced << server;
    emit ServerManager::instance()->serverAdded(server);
    return server;
}

bool TestAlarmScripts::useScript()
{
#ifdef Q_OS_WIN
    return false;
#else
    ExtActionManager::instance()->addAction(script);
    return true;
#endif
}

QList<Start> TestAlarmScripts::starts() const
{
    QFile file(marker);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // A script may still be writing its line: only lines with their newline count.
    const QByteArray data = file.readAll();
    const int end = data.lastIndexOf('\n');
    QList<Start> result;
    if (end < 0) {
        return result;
    }
    for (const QByteArray& line : data.left(end).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        result << Start{QString::fromUtf8(fields.value(0)), QString::fromUtf8(fields.value(1)), fields.value(2)};
    }
    return result;
}

void TestAlarmScripts::expectStarts(int count)
{
    QTRY_COMPARE_WITH_TIMEOUT(starts().size(), count, 20000);
    // A start that should not have happened would have been launched before the awaited one.
    QTest::qWait(500);
    QCOMPARE(starts().size(), count);
}

void TestAlarmScripts::alarmsJson_data()
{
    QTest::addColumn<QStringList>("recorder");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QStringList>("hardware");
    QTest::addColumn<bool>("ignoreCameras");
    QTest::addColumn<QString>("errorAfter");
    QTest::addColumn<QStringList>("gateCameras");
    QTest::addColumn<QByteArray>("expected");

    const QStringList none;
    QTest::newRow("healthy") << none << none << none << false << QString() << none << QByteArray("[]");
    QTest::newRow("categories in row order")
        << QStringList{"r1"} << QStringList{"c1"} << QStringList{"h1", "h2"} << false << QString() << none
        << "[" + hall(R"("recorder":["r1"],"cameras":["c1"],"hardware":["h1","h2"])") + "]";
    QTest::newRow("ignored category left out") << none << QStringList{"c1"} << QStringList{"h1"} << true << QString()
                                               << none << "[" + hall(R"("hardware":["h1"])") + "]";
    QTest::newRow("only an ignored category")
        << none << QStringList{"c1"} << none << true << QString() << none << QByteArray("[]");
    QTest::newRow("healthy server left out")
        << none << none << none << false << QString() << QStringList{"g1"} << "[" + gate(R"("cameras":["g1"])") + "]";
    QTest::newRow("servers in row order")
        << QStringList{"r1"} << none << none << false << QString() << QStringList{"g1"}
        << "[" + hall(R"("recorder":["r1"])") + "," + gate(R"("cameras":["g1"])") + "]";
    QTest::newRow("failed after an alarm")
        << none << QStringList{"c1"} << none << false << "Connection refused" << none << "[" + hall("") + "]";
    QTest::newRow("escaped text") << QStringList{"say \"hi\"\n\tnow", QString::fromUtf8("Entrepôt ✓ \\")} << none
                                  << none << false << QString() << none
                                  << "[" + hall(u8R"("recorder":["say \"hi\"\n\tnow","Entrepôt ✓ \\"])") + "]";
}

void TestAlarmScripts::alarmsJson()
{
    QFETCH(QStringList, recorder);
    QFETCH(QStringList, cameras);
    QFETCH(QStringList, hardware);
    QFETCH(bool, ignoreCameras);
    QFETCH(QString, errorAfter);
    QFETCH(QStringList, gateCameras);
    QFETCH(QByteArray, expected);

    auto hallServer = announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    auto gateServer = announce(QStringLiteral("Gate"), QStringLiteral("localhost"), 9000);
    setAlarms(hallServer, recorder, cameras, hardware);
    if (ignoreCameras) {
        dynamic_cast<ServerAlarmsTreeItem*>(model->item(0))->camerasItem->ignoreUntil =
            QDateTime::currentDateTime().addSecs(3600);
        emit hallServer->alarmsUpdated();
    }
    if (!errorAfter.isEmpty()) {
        hallServer->clearAlarms();
        hallServer->alarmsError = errorAfter;
        emit hallServer->alarmsUpdated();
    }
    setAlarms(gateServer, {}, gateCameras, {});

    const QByteArray json = AlarmScriptLauncher::alarmsJson(model);
    QCOMPARE(json, expected);
    QJsonParseError error;
    QVERIFY(QJsonDocument::fromJson(json, &error).isArray());
    QCOMPARE(error.error, QJsonParseError::NoError);
}

void TestAlarmScripts::truncation_data()
{
    QTest::addColumn<QStringList>("recorder");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QStringList>("gateCameras");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArray>("expected");

    // Lines long enough that dropping one saves more than the "truncated" member costs.
    const QStringList r{"r1 recording stopped on disk one", "r2 recording stopped on disk two",
                        "r3 recording stopped on disk three"};
    const QStringList c{"c1 camera at the gate is down", "c2 camera in the yard is down"};
    const QStringList g{"g1 gate camera lost its stream", "g2 gate camera lost its stream"};
    const QStringList r1{r.at(0)};
    const QStringList r12{r.at(0), r.at(1)};
    const QStringList g1{g.at(0)};
    const QStringList none;

    const QByteArray full = "[" + hall(R"("recorder":[)" + quoted(r1) + "]") + "]";
    QTest::newRow("just under the limit") << r1 << none << none << full.size() + 1 << full;
    QTest::newRow("one byte over") << r1 << none << none << int(full.size()) << "[" + hall("", true) + "]";

    QByteArray expected = "[" + hall(R"("recorder":[)" + quoted(r12) + "]", true) + "]";
    QTest::newRow("last lines go first") << r << none << none << expected.size() + 1 << expected;
    // The member that marks the cut takes room too: at exactly this size one more line must go.
    QTest::newRow("room for the mark") << r << none << none << int(expected.size())
                                       << "[" + hall(R"("recorder":[)" + quoted(r1) + "]", true) + "]";
    expected = "[" + hall(R"("recorder":[)" + quoted(r1) + "]", true) + "]";
    QTest::newRow("emptied category goes with its comma") << r1 << c << none << expected.size() + 1 << expected;
    expected = "[" + hall(R"("recorder":[)" + quoted(r1) + "]") + "," + gate("", true) + "]";
    QTest::newRow("later server first") << r1 << none << g << expected.size() + 1 << expected;
    expected = "[" + hall(R"("recorder":[)" + quoted(r1) + "]", true) + "," + gate("", true) + "]";
    QTest::newRow("then the earlier one") << r12 << none << g1 << expected.size() + 1 << expected;
    QTest::newRow("no room for a server") << r1 << none << g1 << 10 << QByteArray("[]");
}

void TestAlarmScripts::truncation()
{
    QFETCH(QStringList, recorder);
    QFETCH(QStringList, cameras);
    QFETCH(QStringList, gateCameras);
    QFETCH(int, limit);
    QFETCH(QByteArray, expected);

    setAlarms(announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081), recorder, cameras, {});
    setAlarms(announce(QStringLiteral("Gate"), QStringLiteral("localhost"), 9000), {}, gateCameras, {});

    const QByteArray json = AlarmScriptLauncher::alarmsJson(model, limit);
    QCOMPARE(json, expected);
    QVERIFY(json.size() < limit);
    QVERIFY(QJsonDocument::fromJson(json).isArray());
}

void TestAlarmScripts::truncationAt64KiB()
{
    const QStringList lines = longLines(300);
    setAlarms(announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081), {}, lines, {});
    checkTruncated(AlarmScriptLauncher::alarmsJson(model), lines, 65536);
}

void TestAlarmScripts::startsOnRisingEdges_data()
{
    QTest::addColumn<QList<bool>>("states");
    QTest::addColumn<int>("expected");

    QTest::newRow("nothing") << QList<bool>{} << 0;
    QTest::newRow("healthy only") << QList<bool>{false, false, false} << 0;
    QTest::newRow("alarm first") << QList<bool>{true} << 1;
    QTest::newRow("repeated alarm") << QList<bool>{false, true, true, true} << 1;
    QTest::newRow("fall re-arms") << QList<bool>{true, false, true} << 2;
    QTest::newRow("two rises among repeats") << QList<bool>{false, true, true, false, false, true, true} << 2;
}

void TestAlarmScripts::startsOnRisingEdges()
{
    QFETCH(QList<bool>, states);
    QFETCH(int, expected);
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }

    for (bool inError : states) {
        emit page->errorStateChanged(inError);
    }
    // A closing rise that is known to start once, so a missing or extra start shows in the count.
    emit page->errorStateChanged(false);
    emit page->errorStateChanged(true);
    expectStarts(expected + 1);
    for (const Start& start : starts()) {
        QCOMPARE(start.event, QStringLiteral("alarm"));
        QCOMPARE(start.alarms, QByteArray("[]"));
    }
}

void TestAlarmScripts::healthyStartUpStartsNothing()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    auto hallServer = announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    auto gateServer = announce(QStringLiteral("Gate"), QStringLiteral("localhost"), 9000);
    for (int poll = 0; poll < 3; ++poll) {
        setAlarms(hallServer, {}, {}, {});
        setAlarms(gateServer, {}, {}, {});
    }
    QVERIFY(!states.isEmpty());
    for (const QList<QVariant>& arguments : states) {
        QCOMPARE(arguments.at(0).toBool(), false);
    }

    setAlarms(gateServer, {}, {"g1"}, {});
    expectStarts(1);
    QCOMPARE(starts().at(0).alarms, "[" + gate(R"("cameras":["g1"])") + "]");
}

void TestAlarmScripts::oncePerRiseOverPolls()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    auto hallServer = announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    auto gateServer = announce(QStringLiteral("Gate"), QStringLiteral("localhost"), 9000);
    setAlarms(gateServer, {}, {}, {});
    for (int poll = 0; poll < 3; ++poll) {
        setAlarms(hallServer, {"r1"}, {}, {});
    }
    QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 20000);
    // Another server joining the alarm is no new rise.
    setAlarms(gateServer, {}, {"g1"}, {});
    setAlarms(hallServer, {"r1"}, {}, {});

    setAlarms(hallServer, {}, {}, {});
    setAlarms(gateServer, {}, {}, {});
    setAlarms(gateServer, {}, {}, {"g2"});
    setAlarms(gateServer, {}, {}, {"g2"});
    expectStarts(2);
    const QList<Start> seen = starts();
    QCOMPARE(seen.at(0).alarms, "[" + hall(R"("recorder":["r1"])") + "]");
    QCOMPARE(seen.at(1).alarms, "[" + gate(R"("hardware":["g2"])") + "]");
}

void TestAlarmScripts::environmentOfAStart()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    auto dockServer = announce(QStringLiteral("Dock"), QStringLiteral("127.0.0.1"), 8443);
    auto hallServer = announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    setAlarms(dockServer, {}, {}, {});
    setAlarms(hallServer, {}, {}, {});
    dynamic_cast<ServerAlarmsTreeItem*>(model->item(1))->camerasItem->ignoreUntil =
        QDateTime::currentDateTime().addSecs(3600);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    setAlarms(hallServer, {"Recording stopped"}, {"Gate: down"}, {"Disk 2 failed", "Fan"});
    expectStarts(1);

    const Start start = starts().at(0);
    QCOMPARE(start.event, QStringLiteral("alarm"));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")).match(start.time).hasMatch(),
        qPrintable(start.time));
    const QDateTime time = QDateTime::fromString(start.time, Qt::ISODate);
    QVERIFY(time.isValid());
    QCOMPARE(time.timeSpec(), Qt::UTC);
    // Whole seconds, so the start may read up to a second before the moment taken here.
    QVERIFY(time >= before.addSecs(-1));
    QVERIFY(time <= QDateTime::currentDateTimeUtc());

    QJsonParseError error;
    const QJsonArray alarms = QJsonDocument::fromJson(start.alarms, &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(alarms.size(), 1);
    const QJsonObject server = alarms.at(0).toObject();
    QCOMPARE(server.keys(), QStringList({"categories", "host", "port", "server"}));
    QCOMPARE(server.value("server").toString(), QStringLiteral("Hall"));
    QCOMPARE(server.value("host").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(server.value("port").toInt(), 8081);
    const QJsonObject categories = server.value("categories").toObject();
    QCOMPARE(categories.keys(), QStringList({"hardware", "recorder"}));
    QCOMPARE(categories.value("recorder").toArray(), QJsonArray({"Recording stopped"}));
    QCOMPARE(categories.value("hardware").toArray(), QJsonArray({"Disk 2 failed", "Fan"}));
}

void TestAlarmScripts::truncatedValueReachesScript()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    const QStringList lines = longLines(300);
    setAlarms(announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081), {}, lines, {});
    expectStarts(1);
    checkTruncated(starts().at(0).alarms, lines, 65536);
}

QTEST_MAIN(TestAlarmScripts)
#include "TestAlarmScripts.moc"
