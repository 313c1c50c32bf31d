#include "monitor/ServerManager.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

QJsonDocument parse(const QByteArray& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text.constData());
    return doc;
}

std::shared_ptr<Server> makeServer()
{
    return std::make_shared<Server>(QStringLiteral("n"), QStringLiteral("127.0.0.1"), 1, QStringLiteral("l"),
                                    QStringLiteral("p"));
}

QString camera(const char* name, const char* stream, const char* error)
{
    return QStringLiteral("\"%1\" on stream \"%2\": %3")
        .arg(QString::fromUtf8(name), QString::fromUtf8(stream), QString::fromUtf8(error));
}

} // namespace

class TestReplyParsers : public QObject
{
    Q_OBJECT

private slots:
    void health_data();
    void health();
    void healthEmitsNothing();
    void license_data();
    void license();
};

void TestReplyParsers::health_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("recorder");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QStringList>("hardware");
    const QStringList none;

    QTest::newRow("all in order, details ignored")
        << QByteArrayLiteral(R"({"health":{"recorder":true,"cameras":true,"hardware":true},)"
                             R"("errorDetails":{"recorder":["r"],"cameras":[{"name":"c"}],)"
                             R"("hardware":{"arecaErrors":["a"]}}})")
        << none << none << none;
    QTest::newRow("empty object") << QByteArrayLiteral("{}") << none << none << none;
    QTest::newRow("root array") << QByteArrayLiteral(R"([{"health":{}}])") << none << none << none;
    QTest::newRow("flags false, no details")
        << QByteArrayLiteral(R"({"health":{"recorder":false,"cameras":false,"hardware":false}})") << none << none
        << none;
    QTest::newRow("recorder lines in order")
        << QByteArrayLiteral(R"({"health":{"recorder":false},"errorDetails":{"recorder":["disk full","","late"]}})")
        << QStringList{QStringLiteral("disk full"), QString(), QStringLiteral("late")} << none << none;
    QTest::newRow("missing health reads as not in order") << QByteArrayLiteral(R"({"errorDetails":{"recorder":["r"]}})")
                                                          << QStringList{QStringLiteral("r")} << none << none;
    QTest::newRow("string true is not in order")
        << QByteArrayLiteral(R"({"health":{"recorder":"true"},"errorDetails":{"recorder":["r"]}})")
        << QStringList{QStringLiteral("r")} << none << none;
    QTest::newRow("number 1 is not in order")
        << QByteArrayLiteral(R"({"health":{"recorder":1},"errorDetails":{"recorder":["r"]}})")
        << QStringList{QStringLiteral("r")} << none << none;
    QTest::newRow("health of another type")
        << QByteArrayLiteral(R"({"health":[true,true,true],"errorDetails":{"recorder":["r"]}})")
        << QStringList{QStringLiteral("r")} << none << none;
    QTest::newRow("recorder element that is a number")
        << QByteArrayLiteral(R"({"errorDetails":{"recorder":[42,{"a":1},null,"x"]}})")
        << QStringList{QString(), QString(), QString(), QStringLiteral("x")} << none << none;
    QTest::newRow("recorder details of another type")
        << QByteArrayLiteral(R"({"errorDetails":{"recorder":"r"}})") << none << none << none;
    QTest::newRow("errorDetails of another type")
        << QByteArrayLiteral(R"({"errorDetails":["r"]})") << none << none << none;
    QTest::newRow("camera line") << QByteArrayLiteral(R"({"health":{"cameras":false},"errorDetails":{"cameras":[)"
                                                      R"({"name":"Gate","streamName":"main","error":"no signal"},)"
                                                      R"({"name":"Hall","streamName":"sub","error":"low fps"}]}})")
                                 << none
                                 << QStringList{QStringLiteral("\"Gate\" on stream \"main\": no signal"),
                                                QStringLiteral("\"Hall\" on stream \"sub\": low fps")}
                                 << none;
    QTest::newRow("camera without members") << QByteArrayLiteral(R"({"errorDetails":{"cameras":[{}]}})") << none
                                            << QStringList{QStringLiteral("\"\" on stream \"\": ")} << none;
    QTest::newRow("camera elements not objects")
        << QByteArrayLiteral(R"({"errorDetails":{"cameras":["Gate",3,null]}})") << none
        << QStringList{camera("", "", ""), camera("", "", ""), camera("", "", "")} << none;
    QTest::newRow("camera members of other types")
        << QByteArrayLiteral(R"({"errorDetails":{"cameras":[{"name":1,"streamName":["s"],"error":"e"}]}})") << none
        << QStringList{camera("", "", "e")} << none;
    QTest::newRow("placeholders in camera values stay text")
        << QByteArrayLiteral(R"({"errorDetails":{"cameras":[{"name":"%2","streamName":"%1","error":"%3%%"}]}})") << none
        << QStringList{camera("%2", "%1", "%3%%")} << none;
    QTest::newRow("cameras in order, others untouched")
        << QByteArrayLiteral(R"({"health":{"recorder":true,"cameras":false,"hardware":true},)"
                             R"("errorDetails":{"recorder":["r"],"cameras":[{"name":"A","streamName":"s",)"
                             R"("error":"e"}],"hardware":{"arecaErrors":["a"]}}})")
        << none << QStringList{camera("A", "s", "e")} << none;
    QTest::newRow("areca lines") << QByteArrayLiteral(
                                        R"({"errorDetails":{"hardware":{"arecaErrors":["raid degraded",7]}}})")
                                 << none << none << QStringList{QStringLiteral("raid degraded"), QString()};
    QTest::newRow("global S.M.A.R.T. wins over disks")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"globalError":"smartd down",)"
                             R"("disks":[{"dev":"sda","model":"M","errors":["E1"]}]}}}})")
        << none << none << QStringList{QStringLiteral("smartd down")};
    QTest::newRow("empty global error gives the disk lines")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"globalError":"",)"
                             R"("disks":[{"dev":"sda","model":"XY-2000","errors":["E1","E2"]},)"
                             R"({"dev":"sdb","model":"Z","errors":[]},{"dev":"sdc","model":"W","errors":["E3"]}]}}}})")
        << none << none
        << QStringList{QStringLiteral("sda (XY-2000): E1"), QStringLiteral("sda (XY-2000): E2"),
                       QStringLiteral("sdc (W): E3")};
    QTest::newRow("empty smartErrors") << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{}}}})")
                                       << none << none << none;
    QTest::newRow("only an empty global error")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"globalError":""}}}})") << none << none
        << none;
    QTest::newRow("smartErrors of another type")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":["x"]}}})") << none << none << none;
    QTest::newRow("global error of another type reads empty")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"globalError":5,)"
                             R"("disks":[{"dev":"sda","model":"M","errors":["E"]}]}}}})")
        << none << none << QStringList{QStringLiteral("sda (M): E")};
    QTest::newRow("disk members of other types")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"disks":[7,{"dev":1,"errors":[2]},)"
                             R"({"dev":"sda","errors":"E"}]}}}})")
        << none << none << QStringList{QStringLiteral(" (): ")};
    QTest::newRow("areca before S.M.A.R.T.")
        << QByteArrayLiteral(R"({"errorDetails":{"hardware":{"smartErrors":{"disks":[{"dev":"sda","model":"M",)"
                             R"("errors":["E"]}]},"arecaErrors":["a1","a2"]}}})")
        << none << none << QStringList{QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("sda (M): E")};
    QTest::newRow("every category")
        << QByteArrayLiteral(R"({"health":{"recorder":false,"cameras":false,"hardware":false},)"
                             R"("errorDetails":{"recorder":["r"],"cameras":[{"name":"c","streamName":"s",)"
                             R"("error":"e"}],"hardware":{"arecaErrors":["a"],"smartErrors":{"globalError":"g"}}}})")
        << QStringList{QStringLiteral("r")} << QStringList{camera("c", "s", "e")}
        << QStringList{QStringLiteral("a"), QStringLiteral("g")};
}

void TestReplyParsers::health()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, recorder);
    QFETCH(QStringList, cameras);
    QFETCH(QStringList, hardware);
    auto server = makeServer();
    // Lines of an earlier report never survive.
    server->recorderErrors << QStringLiteral("old");
    server->camerasErrors << QStringLiteral("old");
    server->hardwareErrors << QStringLiteral("old");
    ServerManager::instance()->_parseHealth(parse(body), server);
    QCOMPARE(server->recorderErrors, recorder);
    QCOMPARE(server->camerasErrors, cameras);
    QCOMPARE(server->hardwareErrors, hardware);
}

void TestReplyParsers::healthEmitsNothing()
{
    auto server = makeServer();
    QSignalSpy alarms(server.get(), &Server::alarmsUpdated);
    QSignalSpy info(server.get(), &Server::infoUpdated);
    ServerManager::instance()->_parseHealth(parse(R"({"errorDetails":{"recorder":["r"]}})"), server);
    QCOMPARE(alarms.count(), 0);
    QCOMPARE(info.count(), 0);
    QVERIFY(server->alarmsError.isEmpty());
}

void TestReplyParsers::license_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("infoError");
    const QByteArray previous = QByteArrayLiteral(R"({"serial_number":"OLD"})");
    const QString error = QStringLiteral("Error while getting license data");

    QTest::newRow("object stored whole")
        << QByteArrayLiteral(R"({"license":{"serial_number":"S1","max_screens":4,"unknown_key":[1]},"x":1})")
        << QByteArrayLiteral(R"({"serial_number":"S1","max_screens":4,"unknown_key":[1]})") << QString();
    QTest::newRow("empty licence object")
        << QByteArrayLiteral(R"({"license":{}})") << QByteArrayLiteral("{}") << QString();
    QTest::newRow("empty body object") << QByteArrayLiteral("{}") << previous << error;
    QTest::newRow("license null") << QByteArrayLiteral(R"({"license":null})") << previous << error;
    QTest::newRow("root array") << QByteArrayLiteral(R"([{"license":{"a":1}}])") << previous << error;
    QTest::newRow("license string") << QByteArrayLiteral(R"({"license":"S1"})") << QByteArrayLiteral("{}") << QString();
    QTest::newRow("license array") << QByteArrayLiteral(R"({"license":[{"a":1}]})") << QByteArrayLiteral("{}")
                                   << QString();
    QTest::newRow("license false") << QByteArrayLiteral(R"({"license":false})") << QByteArrayLiteral("{}") << QString();
    QTest::newRow("license number") << QByteArrayLiteral(R"({"license":0})") << QByteArrayLiteral("{}") << QString();
}

void TestReplyParsers::license()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, expected);
    QFETCH(QString, infoError);
    auto server = makeServer();
    server->license = parse(R"({"serial_number":"OLD"})").object();
    server->sysInfo = parse(R"({"kept":true})").object();
    server->infoError = QStringLiteral("earlier error");
    QSignalSpy info(server.get(), &Server::infoUpdated);
    ServerManager::instance()->_parseLicense(parse(body), server);
    QCOMPARE(server->license, parse(expected).object());
    QCOMPARE(server->infoError, infoError);
    QCOMPARE(server->sysInfo, parse(R"({"kept":true})").object());
    QCOMPARE(info.count(), 0);
}

QTEST_GUILESS_MAIN(TestReplyParsers)
#include "TestReplyParsers.moc"
