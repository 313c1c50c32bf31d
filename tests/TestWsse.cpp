#include "monitor/BcryptCache.h"
#include "monitor/ServerManager.h"
#include "monitor/Wsse.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QtTest>

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
const QString failureDigest0 = QStringLiteral("W2kJVqbdQkANpiK/zSIIMFhtKRI=");
const QString failureDigest1 = QStringLiteral("3UNUllgYZ0166LwDzwdrlDUYGFA=");

const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

std::shared_ptr<Server> makeServer(const QString& login = QStringLiteral("admin"))
{
    return std::make_shared<Server>(QStringLiteral("n"), QStringLiteral("127.0.0.1"), 1, login, password);
}

qint64 utcMs(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

} // namespace

class TestWsse : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswers_data();
    void knownAnswers();
    void failureTokens_data();
    void failureTokens();
    void cache();
    void nonce_data();
    void nonce();
    void noncesDiffer();
    void parseAuth_data();
    void parseAuth();
    void clockOffset_data();
    void clockOffset();
    void created();
    void headers_data();
    void headers();
};

void TestWsse::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QString>("digest");
    QTest::newRow("2a cost 04") << "$2a$04$" + salt22 << hash04 << QStringLiteral("CC+bSGCOAteXcOLQWBp1K9W+vHw=");
    QTest::newRow("2a cost 10") << "$2a$10$" + salt22 << hash10 << QStringLiteral("7FSM0A2kIXOrgynqrCYfe8ULzy0=");
    QTest::newRow("2b cost 04") << "$2b$04$" + salt22 << hash04 << QStringLiteral("tSuGQQmjxge5ETOk6mIqVcTq2lE=");
    QTest::newRow("2b cost 10") << "$2b$10$" + salt22 << hash10 << QStringLiteral("+VO8YS1mnQluHQkJOmzjudMWXuk=");
    QTest::newRow("2y cost 04") << "$2y$04$" + salt22 << hash04 << QStringLiteral("Rl1ppWRh5Z8ylgZZKiz5mZnYkTI=");
    QTest::newRow("2y cost 10") << "$2y$10$" + salt22 << hash10 << QStringLiteral("8hjcTKvL3JfPMzDIwHgvEuzj4sA=");
}

void TestWsse::knownAnswers()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, hash);
    QFETCH(QString, digest);
    const QByteArray output = BcryptCache::compute(password.toUtf8(), setting);
    QCOMPARE(output, setting + hash);
    QCOMPARE(Wsse::passwordDigest(fixedNonce, fixedCreated, output), digest);
    // Only the bytes up to the first NUL enter the digest.
    QCOMPARE(Wsse::passwordDigest(fixedNonce, fixedCreated, output + '\0' + "junk"), digest);
}

void TestWsse::failureTokens_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty salt") << QByteArray() << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("setting beginning with *0")
        << QByteArrayLiteral("*0abc") << QByteArrayLiteral("*1") << failureDigest1;
    QTest::newRow("*0 alone") << QByteArrayLiteral("*0") << QByteArrayLiteral("*1") << failureDigest1;
    QTest::newRow("*1") << QByteArrayLiteral("*1") << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("garbage") << QByteArrayLiteral("not a setting") << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("short salt") << QByteArrayLiteral("$2b$04$Ro0CUf") << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("cost 03") << "$2b$03$" + salt22 << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("not bcrypt") << QByteArrayLiteral("$6$saltsalt$") << QByteArrayLiteral("*0") << failureDigest0;
    QTest::newRow("des") << QByteArrayLiteral("ab") << QByteArrayLiteral("*0") << failureDigest0;
}

void TestWsse::failureTokens()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, token);
    QFETCH(QString, digest);
    const QByteArray output = BcryptCache::compute(password.toUtf8(), setting);
    QCOMPARE(output, token);
    QCOMPARE(Wsse::passwordDigest(fixedNonce, fixedCreated, output), digest);
}

void TestWsse::cache()
{
    BcryptCache cache;
    const QByteArray setting = "$2b$04$" + salt22;
    QByteArray output;
    QVERIFY(!cache.find(password.toUtf8(), setting, &output));
    cache.insert(password.toUtf8(), setting, QByteArrayLiteral("value"));
    QVERIFY(cache.find(password.toUtf8(), setting, &output));
    QCOMPARE(output, QByteArrayLiteral("value"));
    // Neither half of the key alone finds the entry.
    QVERIFY(!cache.find(QByteArrayLiteral("other"), setting, &output));
    QVERIFY(!cache.find(password.toUtf8(), "$2b$05$" + salt22, &output));
    cache.clear();
    QVERIFY(!cache.find(password.toUtf8(), setting, &output));
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
    if (expected >= 5000) {
        // Every character of the alphabet turns up in a long run, so none is out of reach.
        for (const QChar c : alphabet)
            QVERIFY2(nonce.contains(c), qPrintable(QString(c)));
    }
}

void TestWsse::noncesDiffer()
{
    QVERIFY(generateNonce(21) != generateNonce(21));
}

void TestWsse::parseAuth_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("expected");
    const QString prev = QStringLiteral("$2b$04$previous");
    QTest::newRow("case, empty, then T") << QByteArrayLiteral(
                                                R"({"auth":[{"type":"WSSE","salt":"S"},{"type":"wsse","salt":""},)"
                                                R"({"type":"wsse","salt":"T"}]})")
                                         << prev << QStringLiteral("T");
    QTest::newRow("first usable wins") << QByteArrayLiteral(
                                              R"({"auth":[{"type":"wsse","salt":"A"},{"type":"wsse","salt":"B"}]})")
                                       << prev << QStringLiteral("A");
    QTest::newRow("auth as object") << QByteArrayLiteral(R"({"auth":{"type":"wsse","salt":"A"}})") << prev << prev;
    QTest::newRow("auth missing") << QByteArrayLiteral(R"({"other":1})") << prev << prev;
    QTest::newRow("auth missing, first contact") << QByteArrayLiteral("{}") << QString() << QString();
    QTest::newRow("root array") << QByteArrayLiteral(R"([{"type":"wsse","salt":"A"}])") << prev << prev;
    QTest::newRow("non-object elements") << QByteArrayLiteral(
                                                R"({"auth":[1,"wsse",null,["wsse","A"],{"type":"wsse","salt":"A"}]})")
                                         << prev << QStringLiteral("A");
    QTest::newRow("non-string type") << QByteArrayLiteral(
                                            R"({"auth":[{"type":["wsse"],"salt":"A"},{"type":1,"salt":"B"}]})")
                                     << prev << prev;
    QTest::newRow("non-string salt") << QByteArrayLiteral(
                                            R"({"auth":[{"type":"wsse","salt":5},{"type":"wsse","salt":{"a":"b"}},)"
                                            R"({"type":"wsse","salt":null},{"type":"wsse"}]})")
                                     << prev << prev;
    QTest::newRow("other methods only") << QByteArrayLiteral(R"({"auth":[{"type":"basic","salt":"A"}]})") << prev
                                        << prev;
    QTest::newRow("type with blank") << QByteArrayLiteral(R"({"auth":[{"type":"wsse ","salt":"A"}]})") << prev << prev;
    QTest::newRow("empty array") << QByteArrayLiteral(R"({"auth":[]})") << prev << prev;
}

void TestWsse::parseAuth()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, previous);
    QFETCH(QString, expected);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    auto server = makeServer();
    server->salt = previous;
    ServerManager::instance()->_parseAuth(doc, server);
    QCOMPARE(server->salt, expected);
}

void TestWsse::clockOffset_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<qint64>("expected");
    const qint64 previous = 777;
    QTest::newRow("local clock ahead") << QByteArrayLiteral("Sat, 05 Dec 2026 05:02:48 GMT")
                                       << utcMs("2026-12-05T05:02:50.000Z") << true << qint64(2000);
    QTest::newRow("local clock behind") << QByteArrayLiteral("Sat, 05 Dec 2026 05:02:48 GMT")
                                        << utcMs("2026-12-05T05:02:47.250Z") << true << qint64(-750);
    QTest::newRow("numeric zone") << QByteArrayLiteral("Sat, 05 Dec 2026 06:02:48 +0100")
                                  << utcMs("2026-12-05T05:02:50.000Z") << true << qint64(2000);
    QTest::newRow("up to the first NUL") << QByteArrayLiteral("Sat, 05 Dec 2026 05:02:48 GMT\0garbage")
                                         << utcMs("2026-12-05T05:02:50.000Z") << true << qint64(2000);
    QTest::newRow("garbage") << QByteArrayLiteral("yesterday") << utcMs("2026-12-05T05:02:50.000Z") << false
                             << previous;
    QTest::newRow("empty") << QByteArray() << utcMs("2026-12-05T05:02:50.000Z") << false << previous;
    QTest::newRow("bad month") << QByteArrayLiteral("Sat, 05 Foo 2026 05:02:48 GMT")
                               << utcMs("2026-12-05T05:02:50.000Z") << false << previous;
    QTest::newRow("day 42") << QByteArrayLiteral("Sat, 42 Dec 2026 05:02:48 GMT") << utcMs("2026-12-05T05:02:50.000Z")
                            << false << previous;
    QTest::newRow("binary") << QByteArray("\xff\xfe\x01\x02", 4) << utcMs("2026-12-05T05:02:50.000Z") << false
                            << previous;
}

void TestWsse::clockOffset()
{
    QFETCH(QByteArray, date);
    QFETCH(qint64, now);
    QFETCH(bool, parsed);
    QFETCH(qint64, expected);
    qint64 offset = 777;
    QCOMPARE(Wsse::takeClockOffset(date, now, &offset), parsed);
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
    QTest::addColumn<QString>("salt");
    QTest::addColumn<QByteArray>("bcrypt");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("cache");
    QTest::addColumn<QByteArray>("username");
    QTest::addColumn<QByteArray>("authorization");
    const QByteArray bcrypt04 = "$2b$04$" + salt22 + hash04;
    QTest::newRow("bcrypt") << QStringLiteral("admin") << QString::fromLatin1("$2b$04$" + salt22) << bcrypt04
                            << qint64(0) << true << QByteArrayLiteral("admin")
                            << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
    QTest::newRow("uncached") << QStringLiteral("admin") << QString::fromLatin1("$2b$04$" + salt22) << bcrypt04
                              << qint64(0) << false << QByteArrayLiteral("admin")
                              << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
    QTest::newRow("server behind by an hour")
        << QStringLiteral("admin") << QString::fromLatin1("$2b$04$" + salt22) << bcrypt04 << qint64(3600000) << true
        << QByteArrayLiteral("admin") << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
    QTest::newRow("empty salt") << QStringLiteral("admin") << QString() << QByteArrayLiteral("*0") << qint64(0) << true
                                << QByteArrayLiteral("admin") << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
    QTest::newRow("placeholders in login")
        << QStringLiteral("%1%2 x") << QString() << QByteArrayLiteral("*0") << qint64(0) << true
        << QByteArrayLiteral("%1%2 x") << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
    QTest::newRow("Latin-1 and beyond") << QStringLiteral("é€") << QString() << QByteArrayLiteral("*0") << qint64(0)
                                        << true << QByteArray("\xe9?")
                                        << QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
}

void TestWsse::headers()
{
    QFETCH(QString, login);
    QFETCH(QString, salt);
    QFETCH(QByteArray, bcrypt);
    QFETCH(qint64, offset);
    QFETCH(bool, cache);
    QFETCH(QByteArray, username);
    QFETCH(QByteArray, authorization);

    ServerManager* manager = ServerManager::instance();
    MonitorSettings settings;
    settings.cacheBcrypt = cache;
    manager->setSettings(settings);
    auto server = makeServer(login);
    server->salt = salt;
    server->clockOffset = offset;

    QNetworkRequest request;
    const QDateTime before = QDateTime::currentDateTimeUtc();
    manager->_addWsseHeaders(request, server);
    const QDateTime after = QDateTime::currentDateTimeUtc();
    manager->setSettings(MonitorSettings());

    QCOMPARE(request.rawHeaderList(), (QList<QByteArray>{"Authorization", "X-WSSE"}));
    QCOMPARE(request.rawHeader("Authorization"), authorization);

    const QByteArray wsse = request.rawHeader("X-WSSE");
    const QRegularExpression shape(
        QStringLiteral("^UsernameToken Username=\"(.*)\", PasswordDigest=\"([A-Za-z0-9+/]{27}=)\", "
                       "Nonce=\"([A-Za-z0-9]{21})\", Created=\"(.{19}Z)\"$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = shape.match(QString::fromLatin1(wsse));
    QVERIFY2(match.hasMatch(), wsse.constData());
    QCOMPARE(match.captured(1).toLatin1(), username);

    const QString created = match.captured(4);
    const QDateTime stamp = QDateTime::fromString(created, Qt::ISODate);
    QVERIFY(stamp.isValid());
    QVERIFY(stamp >= before.addMSecs(-offset - 1000) && stamp <= after.addMSecs(-offset));
    // The digest is recomputed from the header's own nonce and Created with the independent bcrypt string.
    QCOMPARE(match.captured(2), Wsse::passwordDigest(match.captured(3), created, bcrypt));

    QNetworkRequest second;
    manager->_addWsseHeaders(second, server);
    QVERIFY(second.rawHeader("X-WSSE") != wsse);
}

QTEST_GUILESS_MAIN(TestWsse)
#include "TestWsse.moc"
