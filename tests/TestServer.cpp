#include "monitor/Server.h"

#include <QtTest>

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void predicatesAndClear_data();
    void predicatesAndClear();
    void newRecord();
};

void TestServer::predicatesAndClear_data()
{
    QTest::addColumn<QStringList>("recorder");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QStringList>("hardware");
    const QStringList one{QStringLiteral("x")};
    QTest::newRow("all empty") << QStringList() << QStringList() << QStringList();
    QTest::newRow("recorder") << one << QStringList() << QStringList();
    QTest::newRow("cameras") << QStringList() << one << QStringList();
    QTest::newRow("hardware, an empty line") << QStringList() << QStringList() << QStringList{QString()};
    QTest::newRow("all") << one << one << one;
}

void TestServer::predicatesAndClear()
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
    // Clearing is silent: the manager signals once the new report is read.
    QSignalSpy alarms(&server, &Server::alarmsUpdated);
    server.clearAlarms();
    QVERIFY(server.recorderOk() && server.camerasOk() && server.hardwareOk());
    QCOMPARE(alarms.count(), 0);
}

void TestServer::newRecord()
{
    Server server(QStringLiteral("Site A"), QStringLiteral("10.0.0.5"), 4443, QStringLiteral("admin"),
                  QStringLiteral("s3cr\u00e9t"));
    QVERIFY(server.salt.isEmpty() && !server.initialized && server.clockOffset == 0 && server.parent() == nullptr);
    // Polling starts only when the manager arms the timers.
    QVERIFY(!server.alarmsTimer.isActive() && !server.alarmsTimer.isSingleShot());
    QVERIFY(!server.initTimer.isActive() && server.initTimer.interval() == 0);
    // Exactly the five settings, the port as a number; the salt is not stored.
    server.salt = QStringLiteral("ignored");
    const QJsonObject expected{{"name", "Site A"},
                               {"host", "10.0.0.5"},
                               {"port", 4443},
                               {"login", "admin"},
                               {"password", QStringLiteral("s3cr\u00e9t")}};
    QCOMPARE(server.toJson().toObject(), expected);
}

QTEST_GUILESS_MAIN(TestServer)
#include "TestServer.moc"
