#include "MonitorTestSupport.h"
#include "monitor/JsonReply.h"

#include <QtTest>

namespace {

using MonitorTest::underAsan;

qint64 rssKiB()
{
    return MonitorTest::memoryKiB("VmRSS");
}

} // namespace

class TestJsonReply : public QObject
{
    Q_OBJECT

private slots:
    void duplicateKeys_data();
    void duplicateKeys();
    void repeatedKeysDoNotGrowTheProcess();
};

void TestJsonReply::duplicateKeys_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("duplicate");
    QTest::newRow("plain") << QByteArray(R"({"a":[1],"a":[2]})") << true;
    QTest::newRow("escaped spelling") << QByteArray(R"({"a":1,"\u0061":2})") << true;
    QTest::newRow("escaped and UTF-8") << QByteArray("{\"\\u00e9\":1,\"\xc3\xa9\":2}") << true;
    QTest::newRow("nested object") << QByteArray(R"({"x":[{"b":1,"c":{"d":1,"d":2}}]})") << true;
    QTest::newRow("body cut short") << QByteArray(R"({"a":[1],"a":[2)") << true;
    // Qt compares keys up to a NUL byte (found by fuzzing).
    QTest::newRow("keys equal up to a NUL") << QByteArray("{\"a\0x\":[1],\"a\0y\":[2]}", 21) << true;
    QTest::newRow("same key in two objects") << QByteArray(R"([{"a":1},{"a":1}])") << false;
    QTest::newRow("same key at two levels") << QByteArray(R"({"a":{"a":{"a":1}}})") << false;
    QTest::newRow("key equal to a value") << QByteArray(R"({"a":"b","b":"a"})") << false;
    QTest::newRow("braces and quotes in strings")
        << QByteArray(R"({"a":"}{\"a\":","b":["{\"a\":1,\"a\":2}"],"c":"\\"})") << false;
    QTest::newRow("prefix keys") << QByteArray(R"({"a":1,"ab":2,"a b":3,"":4})") << false;
    QTest::newRow("too deep to be parsed") << QByteArray(1100, '[') + R"({"a":1,"a":2})" << false;
}

void TestJsonReply::duplicateKeys()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, duplicate);
    QCOMPARE(JsonReply::hasDuplicateKeys(body), duplicate);
    QJsonDocument doc;
    const bool parsed = JsonReply::parse(body, &doc);
    if (duplicate) {
        QVERIFY(!parsed);
        QVERIFY(doc.isNull());
    }
}

void TestJsonReply::repeatedKeysDoNotGrowTheProcess()
{
    QByteArray body = "{";
    for (int i = 0; i < 100000; ++i)
        body += "\"recorder\":[\"line\"],";
    body += "\"end\":0}";
    const qint64 before = rssKiB();
    for (int round = 0; round < 10; ++round) {
        QJsonDocument doc;
        QVERIFY(!JsonReply::parse(body, &doc));
    }
    const qint64 after = rssKiB();
    // Parsed by Qt, these ten rounds would keep about 100 MiB. Under AddressSanitizer the freed
    // blocks are held back, so there LeakSanitizer checks this at exit instead.
    if (before > 0 && !underAsan)
        QVERIFY2(after - before < 16 * 1024, qPrintable(QStringLiteral("%1 KiB more").arg(after - before)));
}

QTEST_GUILESS_MAIN(TestJsonReply)
#include "TestJsonReply.moc"
