#include "MonitorTestSupport.h"
#include "monitor/Wsse.h"

#include <QNetworkRequest>
#include <QRegularExpression>

using namespace MonitorTest;

namespace {

// Known answers made outside this code base, with Debian's python3-bcrypt 3.2.2 and hashlib:
//   /usr/bin/python3 -c "import bcrypt,hashlib,base64; n=b'Ab3dEfGh1jKlMn0pQrStU'; c=b'2026-12-05T05:02:46Z';
//     h=bcrypt.hashpw('pässwörd'.encode(), b'\$2b\$04\$Ro0CUfOqk6Ei.OgoyH5XNu');
//     print(h, base64.b64encode(hashlib.sha1(n+c+h).digest()))"
// with each prefix and cost in turn, and h = b'*0' / b'*1' for the failure tokens.
const QString fixedNonce = QStringLiteral("Ab3dEfGh1jKlMn0pQrStU");
const QString fixedCreated = QStringLiteral("2026-12-05T05:02:46Z");
const QString password = QStringLiteral("pässwörd");
const QByteArray salt22 = QByteArrayLiteral("Ro0CUfOqk6Ei.OgoyH5XNu");
const QByteArray hash04 = QByteArrayLiteral("7EklRtRFHQcMVpsDO5HTs1ru93GTd7W");
const QByteArray hash10 = QByteArrayLiteral("YS3xfUZPYt023bRBrDc5XpAgv82N3r6");
const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

qint64 utcMs(const QByteArray& iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

} // namespace

class TestWsse : public QObject
{
    Q_OBJECT

private slots:
    void digest_data();
    void digest();
    void cache();
    void nonce_data();
    void nonce();
    void parseAuth_data();
    void parseAuth();
    void clockOffset_data();
    void clockOffset();
    void created();
    void headers_data();
    void headers();
};

void TestWsse::digest_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("output"); // what bcrypt gives: the setting and the hash, or a failure token
    QTest::addColumn<QString>("digest");
    const auto good = [](const char* name, const QByteArray& prefix, const QByteArray& hash, const char* digest) {
        QTest::newRow(name) << prefix + salt22 << prefix + salt22 + hash << QString::fromLatin1(digest);
    };
    good("2a cost 04", "$2a$04$", hash04, "CC+bSGCOAteXcOLQWBp1K9W+vHw=");
    good("2a cost 10", "$2a$10$", hash10, "7FSM0A2kIXOrgynqrCYfe8ULzy0=");
    good("2b cost 04", "$2b$04$", hash04, "tSuGQQmjxge5ETOk6mIqVcTq2lE=");
    good("2b cost 10", "$2b$10$", hash10, "+VO8YS1mnQluHQkJOmzjudMWXuk=");
    good("2y cost 04", "$2y$04$", hash04, "Rl1ppWRh5Z8ylgZZKiz5mZnYkTI=");
    good("2y cost 10", "$2y$10$", hash10, "8hjcTKvL3JfPMzDIwHgvEuzj4sA=");
    const auto refused = [](const char* name, const QByteArray& setting, const QByteArray& token) {
        QTest::newRow(name) << setting << token
                            << QString::fromLatin1(token == "*0" ? "W2kJVqbdQkANpiK/zSIIMFhtKRI="
                                                                 : "3UNUllgYZ0166LwDzwdrlDUYGFA=");
    };
    refused("empty salt", {}, "*0");
    refused("setting beginning with *0", "*0abc", "*1");
    refused("*0 alone", "*0", "*1");
    refused("*1", "*1", "*0");
    refused("garbage", "not a setting", "*0");
    refused("short salt", "$2b$04$Ro0CUf", "*0");
    refused("cost 03", "$2b$03$" + salt22, "*0");
    refused("not bcrypt", "$6$saltsalt$", "*0");
    refused("des", "ab", "*0");
}

void TestWsse::digest()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, output);
    QFETCH(QString, digest);
    QCOMPARE(BcryptCache::compute(password.toUtf8(), setting), output);
    QCOMPARE(Wsse::passwordDigest(fixedNonce, fixedCreated, output), digest);
    // Only the bytes up to the first NUL enter the digest.
    QCOMPARE(Wsse::passwordDigest(fixedNonce, fixedCreated, output + '\0' + "junk"), digest);
}

void TestWsse::cache()
{
    BcryptCache cache;
    const QByteArray key = password.toUtf8();
    const QByteArray setting = "$2b$04$" + salt22;
    QByteArray output;
    cache.insert(key, setting, "value");
    QVERIFY(cache.find(key, setting, &output));
    QCOMPARE(output, QByteArrayLiteral("value"));
    // Neither half of the key alone finds the entry.
    QVERIFY(!cache.find("other", setting, &output));
    QVERIFY(!cache.find(key, "$2b$05$" + salt22, &output));
    cache.clear();
    QVERIFY(!cache.find(key, setting, &output));
    // Full, it drops the entry used longest ago, never the one in use: a miss would wait for a new hash.
    for (int i = 0; i < 64; ++i)
        cache.insert(QByteArray::number(i), setting, "v");
    QVERIFY(cache.find("0", setting, &output));
    cache.insert("new", setting, "v");
    QVERIFY(cache.find("0", setting, &output) && cache.find("new", setting, &output));
    QVERIFY(!cache.find("1", setting, &output));
}

void TestWsse::nonce_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("min int") << std::numeric_limits<int>::min() << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("21") << 21 << 21;
    QTest::newRow("5000") << 5000 << 5000;
}

void TestWsse::nonce()
{
    QFETCH(int, length);
    QFETCH(int, expected);
    const QString nonce = generateNonce(length);
    QCOMPARE(nonce.size(), expected);
    for (const QChar c : nonce)
        QVERIFY2(alphabet.contains(c), qPrintable(nonce));
    if (expected >= 21)
        QVERIFY(generateNonce(length) != nonce);
    // Every character of the alphabet turns up in a long run, so none is out of reach.
    for (const QChar c : alphabet)
        QVERIFY2(expected < 5000 || nonce.contains(c), qPrintable(QString(c)));
}

void TestWsse::parseAuth_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("expected");
    const QString prev = QStringLiteral("$2b$04$previous");
    const auto row = [&prev](const char* name, const char* body, const QString& expected = {}) {
        QTest::newRow(name) << QByteArray(body) << prev << (expected.isEmpty() ? prev : expected);
    };
    row("case, empty, then T",
        R"({"auth":[{"type":"WSSE","salt":"S"},{"type":"wsse","salt":""},{"type":"wsse","salt":"T"}]})", "T");
    row("first usable wins", R"({"auth":[{"type":"wsse","salt":"A"},{"type":"wsse","salt":"B"}]})", "A");
    row("auth as object", R"({"auth":{"type":"wsse","salt":"A"}})");
    row("auth missing", R"({"other":1})");
    QTest::newRow("auth missing, first contact") << QByteArrayLiteral("{}") << QString() << QString();
    row("root array", R"([{"type":"wsse","salt":"A"}])");
    row("non-object elements", R"({"auth":[1,"wsse",null,["wsse","A"],{"type":"wsse","salt":"A"}]})", "A");
    row("non-string type", R"({"auth":[{"type":["wsse"],"salt":"A"},{"type":1,"salt":"B"}]})");
    row("non-string salt", R"({"auth":[{"type":"wsse","salt":5},{"type":"wsse","salt":{"a":"b"}},)"
                           R"({"type":"wsse","salt":null},{"type":"wsse"}]})");
    row("other methods only", R"({"auth":[{"type":"basic","salt":"A"}]})");
    row("type with blank", R"({"auth":[{"type":"wsse ","salt":"A"}]})");
    row("empty array", R"({"auth":[]})");
}

void TestWsse::parseAuth()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, previous);
    QFETCH(QString, expected);
    auto server = makeServer();
    server->salt = previous;
    ServerManager::instance()->_parseAuth(json(body), server);
    QCOMPARE(server->salt, expected);
}

void TestWsse::clockOffset_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("expected"); // 777, the previous offset: the date did not parse
    const auto row = [](const char* name, const QByteArray& date, qint64 expected, const char* now = "05:02:50.000") {
        QTest::newRow(name) << date << utcMs(QByteArray("2026-12-05T") + now + 'Z') << expected;
    };
    row("local clock ahead", "Sat, 05 Dec 2026 05:02:48 GMT", 2000);
    row("local clock behind", "Sat, 05 Dec 2026 05:02:48 GMT", -750, "05:02:47.250");
    row("numeric zone", "Sat, 05 Dec 2026 06:02:48 +0100", 2000);
    row("up to the first NUL", QByteArrayLiteral("Sat, 05 Dec 2026 05:02:48 GMT\0garbage"), 2000);
    row("garbage", "yesterday", 777);
    row("empty", {}, 777);
    row("bad month", "Sat, 05 Foo 2026 05:02:48 GMT", 777);
    row("day 42", "Sat, 42 Dec 2026 05:02:48 GMT", 777);
    row("binary", QByteArray("\xff\xfe\x01\x02", 4), 777);
}

void TestWsse::clockOffset()
{
    QFETCH(QByteArray, date);
    QFETCH(qint64, now);
    QFETCH(qint64, expected);
    qint64 offset = 777;
    QCOMPARE(Wsse::takeClockOffset(date, now, &offset), expected != 777);
    QCOMPARE(offset, expected);
}

void TestWsse::created()
{
    const QDateTime now = QDateTime::fromString(QStringLiteral("2026-12-05T05:02:48.900Z"), Qt::ISODateWithMs);
    QCOMPARE(Wsse::createdStamp(now, 0), QStringLiteral("2026-12-05T05:02:48Z"));
    QCOMPARE(Wsse::createdStamp(now, 2000), QStringLiteral("2026-12-05T05:02:46Z"));
    QCOMPARE(Wsse::createdStamp(now, -3600000), QStringLiteral("2026-12-05T06:02:48Z"));
    QCOMPARE(Wsse::createdStamp(now.toOffsetFromUtc(3600), 0), QStringLiteral("2026-12-05T05:02:48Z"));
}

void TestWsse::headers_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("salted"); // false: no salt yet, the failure token is hashed
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QByteArray>("username");
    QTest::newRow("bcrypt") << "admin" << true << qint64(0) << QByteArray("admin");
    QTest::newRow("server behind by an hour") << "admin" << true << qint64(3600000) << QByteArray("admin");
    QTest::newRow("empty salt") << "admin" << false << qint64(0) << QByteArray("admin");
    QTest::newRow("placeholders in login") << "%1%2 x" << false << qint64(0) << QByteArray("%1%2 x");
    QTest::newRow("Latin-1 and beyond") << "é€" << false << qint64(0) << QByteArray("\xe9?");
}

void TestWsse::headers()
{
    QFETCH(QString, login);
    QFETCH(bool, salted);
    QFETCH(qint64, offset);
    QFETCH(QByteArray, username);
    ServerManager* manager = ServerManager::instance();
    auto server = makeServer(login, password);
    server->salt = salted ? QString::fromLatin1("$2b$04$" + salt22) : QString();
    server->clockOffset = offset;

    QNetworkRequest request;
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QByteArray hash = BcryptCache::compute(server->password.toUtf8(), server->salt.toUtf8());
    manager->_addWsseHeaders(request, *server, hash);
    const QDateTime after = QDateTime::currentDateTimeUtc();
    QCOMPARE(request.rawHeaderList(), (QList<QByteArray>{"Authorization", "X-WSSE"}));
    QCOMPARE(request.rawHeader("Authorization"), QByteArrayLiteral("WSSE profile=\"UsernameToken\""));

    const QByteArray wsse = request.rawHeader("X-WSSE");
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^UsernameToken Username=\"(.*)\", PasswordDigest=\"([A-Za-z0-9+/]{27}=)\", "
                                          "Nonce=\"([A-Za-z0-9]{21})\", Created=\"(.{19}Z)\"$"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(QString::fromLatin1(wsse));
    QVERIFY2(match.hasMatch(), wsse.constData());
    QCOMPARE(match.captured(1).toLatin1(), username);
    const QDateTime stamp = QDateTime::fromString(match.captured(4), Qt::ISODate);
    QVERIFY(stamp >= before.addMSecs(-offset - 1000) && stamp <= after.addMSecs(-offset));
    // The digest again from the header's own nonce and Created with the independent bcrypt string.
    QCOMPARE(match.captured(2), Wsse::passwordDigest(match.captured(3), match.captured(4),
                                                     salted ? "$2b$04$" + salt22 + hash04 : QByteArray("*0")));

    QNetworkRequest second;
    manager->_addWsseHeaders(second, *server, hash);
    QVERIFY(second.rawHeader("X-WSSE") != wsse);
}

QTEST_GUILESS_MAIN(TestWsse)
#include "TestWsse.moc"
