#include "MonitorTestSupport.h"

using namespace MonitorTest;

namespace {

QByteArray details(const QByteArray& members)
{
    return QByteArray(R"({"errorDetails":{)") + members + "}}";
}

QByteArray smart(const char* members)
{
    return details(QByteArray(R"("hardware":{"smartErrors":{)") + members + "}}");
}

QString camera(const char* name, const char* stream, const char* error)
{
    return QStringLiteral("C \"%1\" on stream \"%2\": %3").arg(name, stream, error);
}

} // namespace

class TestReplyParsers : public QObject
{
    Q_OBJECT

private slots:
    void health_data();
    void health();
    void license_data();
    void license();
};

void TestReplyParsers::health_data()
{
    // The lines of all three lists, each led by its category: "R" recorder, "C" cameras, "H" hardware.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("lines");
    const auto row = [](const char* name, const QByteArray& body, const QStringList& lines = {}) {
        QTest::newRow(name) << body << lines;
    };
    row("all in order, details ignored",
        R"({"health":{"recorder":true,"cameras":true,"hardware":true},"errorDetails":{"recorder":["r"],)"
        R"("cameras":[{"name":"c"}],"hardware":{"arecaErrors":["a"]}}})");
    row("empty object", "{}");
    row("root array", R"([{"health":{}}])");
    row("flags false, no details", R"({"health":{"recorder":false,"cameras":false,"hardware":false}})");
    row("recorder lines in order",
        R"({"health":{"recorder":false},"errorDetails":{"recorder":["disk full","","late"]}})",
        {"R disk full", "R ", "R late"});
    row("missing health reads as not in order", details(R"("recorder":["r"])"), {"R r"});
    row("string true is not in order", R"({"health":{"recorder":"true"},"errorDetails":{"recorder":["r"]}})", {"R r"});
    row("number 1 is not in order", R"({"health":{"recorder":1},"errorDetails":{"recorder":["r"]}})", {"R r"});
    row("health of another type", R"({"health":[true,true,true],"errorDetails":{"recorder":["r"]}})", {"R r"});
    row("recorder element that is a number", details(R"("recorder":[42,{"a":1},null,"x"])"), {"R ", "R ", "R ", "R x"});
    row("recorder details of another type", details(R"("recorder":"r")"));
    row("errorDetails of another type", R"({"errorDetails":["r"]})");
    row("camera line",
        R"({"health":{"cameras":false},"errorDetails":{"cameras":[{"name":"Gate","streamName":"main",)"
        R"("error":"no signal"},{"name":"Hall","streamName":"sub","error":"low fps"}]}})",
        {R"(C "Gate" on stream "main": no signal)", R"(C "Hall" on stream "sub": low fps)"});
    row("camera without members", details(R"("cameras":[{}])"), {R"(C "" on stream "": )"});
    row("camera elements not objects", details(R"("cameras":["Gate",3,null])"),
        {camera("", "", ""), camera("", "", ""), camera("", "", "")});
    row("camera members of other types", details(R"("cameras":[{"name":1,"streamName":["s"],"error":"e"}])"),
        {camera("", "", "e")});
    row("placeholders in camera values stay text",
        details(R"("cameras":[{"name":"%2","streamName":"%1","error":"%3%%"}])"), {camera("%2", "%1", "%3%%")});
    row("cameras in order, others untouched",
        R"({"health":{"recorder":true,"cameras":false,"hardware":true},"errorDetails":{"recorder":["r"],)"
        R"("cameras":[{"name":"A","streamName":"s","error":"e"}],"hardware":{"arecaErrors":["a"]}}})",
        {camera("A", "s", "e")});
    row("areca lines", details(R"("hardware":{"arecaErrors":["raid degraded",7]})"), {"H raid degraded", "H "});
    row("global S.M.A.R.T. wins over disks",
        smart(R"("globalError":"smartd down","disks":[{"dev":"sda","model":"M","errors":["E1"]}])"), {"H smartd down"});
    row("empty global error gives the disk lines",
        smart(R"("globalError":"","disks":[{"dev":"sda","model":"XY-2000","errors":["E1","E2"]},)"
              R"({"dev":"sdb","model":"Z","errors":[]},{"dev":"sdc","model":"W","errors":["E3"]}])"),
        {"H sda (XY-2000): E1", "H sda (XY-2000): E2", "H sdc (W): E3"});
    row("empty smartErrors", smart(""));
    row("only an empty global error", smart(R"("globalError":"")"));
    row("smartErrors of another type", details(R"("hardware":{"smartErrors":["x"]})"));
    row("global error of another type reads empty",
        smart(R"("globalError":5,"disks":[{"dev":"sda","model":"M","errors":["E"]}])"), {"H sda (M): E"});
    row("disk members of other types", smart(R"("disks":[7,{"dev":1,"errors":[2]},{"dev":"sda","errors":"E"}])"),
        {"H  (): "});
    row("areca before S.M.A.R.T.",
        details(R"("hardware":{"smartErrors":{"disks":[{"dev":"sda","model":"M","errors":["E"]}]},)"
                R"("arecaErrors":["a1","a2"]})"),
        {"H a1", "H a2", "H sda (M): E"});
    row("every category",
        R"({"health":{"recorder":false,"cameras":false,"hardware":false},"errorDetails":{"recorder":["r"],)"
        R"("cameras":[{"name":"c","streamName":"s","error":"e"}],)"
        R"("hardware":{"arecaErrors":["a"],"smartErrors":{"globalError":"g"}}}})",
        {"R r", camera("c", "s", "e"), "H a", "H g"});
}

void TestReplyParsers::health()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, lines);
    auto server = makeServer();
    // Lines of an earlier report never survive.
    server->recorderErrors = server->camerasErrors = server->hardwareErrors = QStringList{"old"};
    QSignalSpy alarms(server.get(), &Server::alarmsUpdated);
    QSignalSpy info(server.get(), &Server::infoUpdated);
    ServerManager::instance()->_parseHealth(json(body), server);
    QStringList actual;
    for (const QString& line : qAsConst(server->recorderErrors))
        actual << "R " + line;
    for (const QString& line : qAsConst(server->camerasErrors))
        actual << "C " + line;
    for (const QString& line : qAsConst(server->hardwareErrors))
        actual << "H " + line;
    QCOMPARE(actual, lines);
    // The manager signals after the step, not the step itself.
    QCOMPARE(alarms.count() + info.count(), 0);
}

void TestReplyParsers::license_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("infoError");
    const QByteArray previous = R"({"serial_number":"OLD"})";
    const QString error = QStringLiteral("Error while getting license data");
    const auto row = [](const char* name, const char* body, const QByteArray& expected, const QString& error = {}) {
        QTest::newRow(name) << QByteArray(body) << expected << error;
    };
    row("object stored whole", R"({"license":{"serial_number":"S1","max_screens":4,"unknown_key":[1]},"x":1})",
        R"({"serial_number":"S1","max_screens":4,"unknown_key":[1]})");
    row("empty licence object", R"({"license":{}})", "{}");
    row("empty body object", "{}", previous, error);
    row("license null", R"({"license":null})", previous, error);
    row("root array", R"([{"license":{"a":1}}])", previous, error);
    row("license string", R"({"license":"S1"})", "{}");
    row("license array", R"({"license":[{"a":1}]})", "{}");
    row("license false", R"({"license":false})", "{}");
    row("license number", R"({"license":0})", "{}");
}

void TestReplyParsers::license()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, expected);
    QFETCH(QString, infoError);
    auto server = makeServer();
    server->license = json(R"({"serial_number":"OLD"})").object();
    server->sysInfo = json(R"({"kept":true})").object();
    server->infoError = QStringLiteral("earlier error");
    QSignalSpy info(server.get(), &Server::infoUpdated);
    ServerManager::instance()->_parseLicense(json(body), server);
    QCOMPARE(server->license, json(expected).object());
    QCOMPARE(server->infoError, infoError);
    QCOMPARE(server->sysInfo, json(R"({"kept":true})").object());
    QCOMPARE(info.count(), 0);
}

QTEST_GUILESS_MAIN(TestReplyParsers)
#include "TestReplyParsers.moc"
