#include "monitor/Server.h"

#include <QSignalSpy>
#include <QtTest>

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void clearAlarms();
    void predicates_data();
    void predicates();
    void toJson();
};

void TestServer::initialState()
{
    Server server(QStringLiteral("n"), QStringLiteral("h"), 8080, QStringLiteral("l"), QStringLiteral("p"));
    QCOMPARE(server.name, QStringLiteral("n"));
    QCOMPARE(server.host, QStringLiteral("h"));
    QCOMPARE(server.port, 8080);
    QCOMPARE(server.login, QStringLiteral("l"));
    QCOMPARE(server.password, QStringLiteral("p"));
    QVERIFY(server.recorderErrors.isEmpty());
    QVERIFY(server.camerasErrors.isEmpty());
    QVERIFY(server.hardwareErrors.isEmpty());
    QVERIFY(server.sysInfo.isEmpty());
    QVERIFY(server.license.isEmpty());
    QVERIFY(server.salt.isEmpty());
    QVERIFY(!server.initialized);
    QCOMPARE(server.clockOffset, qint64(0));
    QVERIFY(server.alarmsError.isEmpty());
    QVERIFY(server.infoError.isEmpty());
    QVERIFY(!server.alarmsTimer.isActive());
    QVERIFY(!server.alarmsTimer.isSingleShot());
    QCOMPARE(server.alarmsTimer.interval(), 0);
    QVERIFY(!server.initTimer.isActive());
    QCOMPARE(server.initTimer.interval(), 0);
    QVERIFY(server.parent() == nullptr);
}

void TestServer::clearAlarms()
{
    Server server({}, {}, 0, {}, {});
    QSignalSpy alarms(&server, &Server::alarmsUpdated);
    QSignalSpy info(&server, &Server::infoUpdated);
    server.clearAlarms();
    server.recorderErrors << QStringLiteral("r");
    server.camerasErrors << QStringLiteral("c");
    server.hardwareErrors << QStringLiteral("h") << QStringLiteral("h2");
    server.clearAlarms();
    QVERIFY(server.recorderErrors.isEmpty());
    QVERIFY(server.camerasErrors.isEmpty());
    QVERIFY(server.hardwareErrors.isEmpty());
    QCOMPARE(alarms.count(), 0);
    QCOMPARE(info.count(), 0);
}

void TestServer::predicates_data()
{
    QTest::addColumn<QStringList>("recorder");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QStringList>("hardware");

    QTest::newRow("all empty") << QStringList() << QStringList() << QStringList();
    QTest::newRow("recorder") << QStringList{QStringLiteral("r")} << QStringList() << QStringList();
    QTest::newRow("cameras") << QStringList() << QStringList{QStringLiteral("c")} << QStringList();
    QTest::newRow("hardware") << QStringList() << QStringList() << QStringList{QString()};
    QTest::newRow("all") << QStringList{QStringLiteral("r")} << QStringList{QStringLiteral("c")}
                         << QStringList{QStringLiteral("h")};
}

void TestServer::predicates()
{
    QFETCH(QStringList, recorder);
    QFETCH(QStringList, cameras);
    QFETCH(QStringList, hardware);
    Server server({}, {}, 0, {}, {});
    server.recorderErrors = recorder;
    server.camerasErrors = cameras;
    server.hardwareErrors = hardware;
    QCOMPARE(server.recorderOk(), recorder.isEmpty());
    QCOMPARE(server.camerasOk(), cameras.isEmpty());
    QCOMPARE(server.hardwareOk(), hardware.isEmpty());
}

void TestServer::toJson()
{
    Server server(QStringLiteral("Site A"), QStringLiteral("10.0.0.5"), 4443, QStringLiteral("admin"),
                  QStringLiteral("s3cr\u00e9t"));
    server.salt = QStringLiteral("ignored");
    const QJsonObject object = server.toJson().toObject();
    QCOMPARE(object.keys(), (QStringList{QStringLiteral("host"), QStringLiteral("login"), QStringLiteral("name"),
                                         QStringLiteral("password"), QStringLiteral("port")}));
    QCOMPARE(object.value(QStringLiteral("name")).toString(), QStringLiteral("Site A"));
    QCOMPARE(object.value(QStringLiteral("host")).toString(), QStringLiteral("10.0.0.5"));
    QVERIFY(object.value(QStringLiteral("port")).isDouble());
    QCOMPARE(object.value(QStringLiteral("port")).toInt(), 4443);
    QCOMPARE(object.value(QStringLiteral("login")).toString(), QStringLiteral("admin"));
    QCOMPARE(object.value(QStringLiteral("password")).toString(), QStringLiteral("s3cr\u00e9t"));
}

QTEST_GUILESS_MAIN(TestServer)
#include "TestServer.moc"
