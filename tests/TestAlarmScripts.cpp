#include "ViewTestSupport.h"
#include "notify/ExtActionManager.h"
#include "views/AlarmScriptLauncher.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace ViewTest;

namespace {
// What one start of the marker script saw.
struct Start
{
    QString event;
    QString time;
    QByteArray alarms;
};

// One server's member of the alarms document: Hall at 127.0.0.1:8081 or Gate at localhost:9000.
QByteArray entry(bool gate, const QByteArray& categories, bool truncated = false)
{
    return (gate ? R"({"server":"Gate","host":"localhost","port":9000,"categories":{)"
                 : R"({"server":"Hall","host":"127.0.0.1","port":8081,"categories":{)") +
           categories + "}" + (truncated ? R"(,"truncated":true)" : "") + "}";
}

// A category member with plain ASCII lines.
QByteArray category(const char* name, const QStringList& lines)
{
    QByteArray json = QByteArray("\"") + name + "\":[";
    for (const QString& line : lines) {
        json += (json.endsWith('[') ? "\"" : ",\"") + line.toUtf8() + '"';
    }
    return json + "]";
}

QStringList longLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        lines << QStringLiteral("camera %1 stream main: ").arg(i, 3, 10, QLatin1Char('0')) + QString(400, 'x');
    }
    return lines;
}

// A cut document: under the limit, valid, and keeping the longest prefix of the lines that fits.
void checkTruncated(const QByteArray& json, const QStringList& lines, int limit)
{
    QVERIFY2(json.size() < limit, QByteArray::number(json.size()).constData());
    QJsonParseError error;
    const QJsonArray servers = QJsonDocument::fromJson(json, &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(servers.size(), 1);
    QCOMPARE(servers.at(0).toObject().value("truncated"), QJsonValue(true));
    const QJsonArray kept = servers.at(0).toObject().value("categories").toObject().value("cameras").toArray();
    QVERIFY(!kept.isEmpty() && kept.size() < lines.size());
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
    void oncePerRiseOverPolls();
    void environmentOfAStart();

private:
    void announceBoth();
    bool useScript();
    QList<Start> starts() const;
    void expectStarts(int count);

    QTemporaryDir tmp;
    QString script;
    QString marker;
    ServerAlarmsWidget* page = nullptr;
    QStandardItemModel* model = nullptr;
    Servers servers;
    std::shared_ptr<Server> hall;
    std::shared_ptr<Server> gate;
};

void TestAlarmScripts::initTestCase()
{
    quietTimers();
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("with blank")));
    script = tmp.filePath(QStringLiteral("with blank/on alarm.sh"));
    marker = tmp.filePath(QStringLiteral("with blank/starts.txt"));
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
    model = modelOf(page);
    QVERIFY(model);
}

void TestAlarmScripts::cleanup()
{
    hall.reset();
    gate.reset();
    servers.clear();
    delete page;
    for (const auto& action : QList<std::shared_ptr<ExtAction>>(ExtActionManager::instance()->actionList())) {
        ExtActionManager::instance()->removeAction(action);
    }
}

void TestAlarmScripts::announceBoth()
{
    hall = servers.announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    gate = servers.announce(QStringLiteral("Gate"), QStringLiteral("localhost"), 9000);
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
    QList<Start> result;
    for (const QByteArray& line : data.left(qMax(0, data.lastIndexOf('\n'))).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3) {
            result << Start{QString::fromUtf8(fields.at(0)), QString::fromUtf8(fields.at(1)), fields.at(2)};
        }
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

    const QStringList no;
    const QStringList c1{"c1"};
    QTest::newRow("healthy") << no << no << no << false << QString() << no << QByteArray("[]");
    QTest::newRow("categories in row order")
        << QStringList{"r1"} << c1 << QStringList{"h1", "h2"} << false << QString() << no
        << "[" + entry(false, R"("recorder":["r1"],"cameras":["c1"],"hardware":["h1","h2"])") + "]";
    QTest::newRow("ignored category left out")
        << no << c1 << QStringList{"h1"} << true << QString() << no << "[" + entry(false, R"("hardware":["h1"])") + "]";
    QTest::newRow("only an ignored category") << no << c1 << no << true << QString() << no << QByteArray("[]");
    QTest::newRow("healthy server left out")
        << no << no << no << false << QString() << QStringList{"g1"} << "[" + entry(true, R"("cameras":["g1"])") + "]";
    QTest::newRow("servers in row order")
        << QStringList{"r1"} << no << no << false << QString() << QStringList{"g1"}
        << "[" + entry(false, R"("recorder":["r1"])") + "," + entry(true, R"("cameras":["g1"])") + "]";
    QTest::newRow("failed after an alarm")
        << no << c1 << no << false << "Connection refused" << no << "[" + entry(false, "") + "]";
    QTest::newRow("escaped text") << QStringList{"say \"hi\"\n\tnow", QString::fromUtf8("Entrepôt ✓ \\")} << no << no
                                  << false << QString() << no
                                  << "[" + entry(false, u8R"("recorder":["say \"hi\"\n\tnow","Entrepôt ✓ \\"])") + "]";
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

    announceBoth();
    setAlarms(hall, recorder, cameras, hardware);
    if (ignoreCameras) {
        dynamic_cast<ServerAlarmsTreeItem*>(model->item(0))->camerasItem->ignoreUntil =
            QDateTime::currentDateTime().addSecs(3600);
        emit hall->alarmsUpdated();
    }
    if (!errorAfter.isEmpty()) {
        failAlarms(hall, errorAfter);
    }
    setAlarms(gate, {}, gateCameras);

    const QByteArray json = AlarmScriptLauncher::alarmsJson(model);
    QCOMPARE(json, expected);
    QVERIFY(QJsonDocument::fromJson(json).isArray());
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
    const QStringList r1 = r.mid(0, 1);
    const QStringList r12 = r.mid(0, 2);
    const QStringList no;
    const auto row = [](const char* name, const QStringList& recorder, const QStringList& cameras,
                        const QStringList& gateCameras, int limit, const QByteArray& expected) {
        QTest::newRow(name) << recorder << cameras << gateCameras << limit << expected;
    };

    const QByteArray full = "[" + entry(false, category("recorder", r1)) + "]";
    row("just under the limit", r1, no, no, full.size() + 1, full);
    row("one byte over", r1, no, no, full.size(), "[" + entry(false, "", true) + "]");
    QByteArray expected = "[" + entry(false, category("recorder", r12), true) + "]";
    row("last lines go first", r, no, no, expected.size() + 1, expected);
    // The member that marks the cut takes room too: at exactly this size one more line must go.
    row("room for the mark", r, no, no, expected.size(), "[" + entry(false, category("recorder", r1), true) + "]");
    expected = "[" + entry(false, category("recorder", r1), true) + "]";
    row("emptied category goes with its comma", r1, c, no, expected.size() + 1, expected);
    expected = "[" + entry(false, category("recorder", r1)) + "," + entry(true, "", true) + "]";
    row("later server first", r1, no, g, expected.size() + 1, expected);
    expected = "[" + entry(false, category("recorder", r1), true) + "," + entry(true, "", true) + "]";
    row("then the earlier one", r12, no, g.mid(0, 1), expected.size() + 1, expected);
    row("no room for a server", r1, no, g.mid(0, 1), 10, "[]");
}

void TestAlarmScripts::truncation()
{
    QFETCH(QStringList, recorder);
    QFETCH(QStringList, cameras);
    QFETCH(QStringList, gateCameras);
    QFETCH(int, limit);
    QFETCH(QByteArray, expected);

    announceBoth();
    setAlarms(hall, recorder, cameras);
    setAlarms(gate, {}, gateCameras);
    const QByteArray json = AlarmScriptLauncher::alarmsJson(model, limit);
    QCOMPARE(json, expected);
    QVERIFY(QJsonDocument::fromJson(json).isArray());
}

// The default bound, in the document and in what a started script receives.
void TestAlarmScripts::truncationAt64KiB()
{
    const QStringList lines = longLines(300);
    const bool withScript = useScript();
    setAlarms(servers.announce(QStringLiteral("Hall")), {}, lines);
    checkTruncated(AlarmScriptLauncher::alarmsJson(model), lines, 65536);
    if (!withScript) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    expectStarts(1);
    checkTruncated(starts().at(0).alarms, lines, 65536);
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
    // A closing rise known to start once, so a missing or extra start shows in the count.
    emit page->errorStateChanged(false);
    emit page->errorStateChanged(true);
    expectStarts(expected + 1);
    for (const Start& start : starts()) {
        QCOMPARE(start.event, QStringLiteral("alarm"));
        QCOMPARE(start.alarms, QByteArray("[]"));
    }
}

void TestAlarmScripts::oncePerRiseOverPolls()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    QSignalSpy spy(page, &ServerAlarmsWidget::errorStateChanged);
    announceBoth();
    // A healthy start-up over several polls starts nothing.
    for (int poll = 0; poll < 3; ++poll) {
        setAlarms(hall, {});
        setAlarms(gate, {});
    }
    QVERIFY(!emissions(spy).isEmpty() && !emissions(spy).contains(true));
    for (int poll = 0; poll < 3; ++poll) {
        setAlarms(hall, {"r1"});
    }
    QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 20000);
    // Another server joining the alarm is no new rise.
    setAlarms(gate, {}, {"g1"});
    setAlarms(hall, {"r1"});

    setAlarms(hall, {});
    setAlarms(gate, {});
    setAlarms(gate, {}, {}, {"g2"});
    setAlarms(gate, {}, {}, {"g2"});
    expectStarts(2);
    QCOMPARE(starts().at(0).alarms, "[" + entry(false, R"("recorder":["r1"])") + "]");
    QCOMPARE(starts().at(1).alarms, "[" + entry(true, R"("hardware":["g2"])") + "]");
}

void TestAlarmScripts::environmentOfAStart()
{
    if (!useScript()) {
        QSKIP("The starts are recorded by a POSIX shell script");
    }
    auto dock = servers.announce(QStringLiteral("Dock"), QStringLiteral("127.0.0.1"), 8443);
    hall = servers.announce(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8081);
    setAlarms(dock, {});
    setAlarms(hall, {});
    dynamic_cast<ServerAlarmsTreeItem*>(model->item(1))->camerasItem->ignoreUntil =
        QDateTime::currentDateTime().addSecs(3600);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    setAlarms(hall, {"Recording stopped"}, {"Gate: down"}, {"Disk 2 failed", "Fan"});
    expectStarts(1);

    const Start start = starts().at(0);
    QCOMPARE(start.event, QStringLiteral("alarm"));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")).match(start.time).hasMatch(),
        qPrintable(start.time));
    // Whole seconds, so the start may read up to a second before the moment taken here.
    const QDateTime time = QDateTime::fromString(start.time, Qt::ISODate);
    QVERIFY(time >= before.addSecs(-1) && time <= QDateTime::currentDateTimeUtc());
    QCOMPARE(start.alarms,
             "[" + entry(false, R"("recorder":["Recording stopped"],"hardware":["Disk 2 failed","Fan"])") + "]");
}

QTEST_MAIN(TestAlarmScripts)
#include "TestAlarmScripts.moc"
