#include "TestSupport.h"
#include "monitor/BcryptCache.h"
#include "monitor/JsonReply.h"
#include "monitor/Wsse.h"

#include <QtTest>

using namespace TestSupport;

namespace {

// Known answers made outside this code base with python3-bcrypt and hashlib:
//   h = bcrypt.hashpw('pässwörd'.encode(), setting); base64.b64encode(sha1(nonce + created + h).digest())
// with h = b'*0' / b'*1' for the failure tokens.
const QString nonce = QStringLiteral("Ab3dEfGh1jKlMn0pQrStU");
const QString created = QStringLiteral("2026-12-05T05:02:46Z");
const QByteArray password = QStringLiteral("pässwörd").toUtf8();
const QByteArray salt22 = "Ro0CUfOqk6Ei.OgoyH5XNu";
const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

} // namespace

class TestWsse : public QObject
{
    Q_OBJECT

private slots:
    void digest_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("digest");
        const QByteArray hash04 = "7EklRtRFHQcMVpsDO5HTs1ru93GTd7W", hash10 = "YS3xfUZPYt023bRBrDc5XpAgv82N3r6";
        const auto good = [&](const char* name, const QByteArray& prefix, const QByteArray& hash, const char* digest) {
            QTest::newRow(name) << prefix + salt22 << prefix + salt22 + hash << QString::fromLatin1(digest);
        };
        good("2a cost 04", "$2a$04$", hash04, "CC+bSGCOAteXcOLQWBp1K9W+vHw=");
        good("2b cost 10", "$2b$10$", hash10, "+VO8YS1mnQluHQkJOmzjudMWXuk=");
        good("2y cost 04", "$2y$04$", hash04, "Rl1ppWRh5Z8ylgZZKiz5mZnYkTI=");
        const QString star0 = QStringLiteral("W2kJVqbdQkANpiK/zSIIMFhtKRI="),
                      star1 = QStringLiteral("3UNUllgYZ0166LwDzwdrlDUYGFA=");
        QTest::newRow("no salt yet") << QByteArray() << QByteArray("*0") << star0;
        QTest::newRow("setting beginning with *0") << QByteArray("*0abc") << QByteArray("*1") << star1;
        QTest::newRow("cost 03") << "$2b$03$" + salt22 << QByteArray("*0") << star0;
        QTest::newRow("not bcrypt") << QByteArray("$6$saltsalt$") << QByteArray("*0") << star0;
        // Hashed, these would take many minutes: refused before any hashing.
        QTest::newRow("sha512 rounds") << QByteArray("$6$rounds=999999999$saltsalt") << QByteArray("*0") << star0;
        QTest::newRow("whole bcrypt string")
            << "$2a$04$" + salt22 + hash04 << "$2a$04$" + salt22 + hash04 << "CC+bSGCOAteXcOLQWBp1K9W+vHw=";
    }

    void digest()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QByteArray, output);
        QFETCH(QString, digest);
        QCOMPARE(BcryptCache::compute(password, setting), output);
        QCOMPARE(Wsse::passwordDigest(nonce, created, output), digest);
        QCOMPARE(Wsse::passwordDigest(nonce, created, output + '\0' + "junk"), digest);
    }

    void clock_data()
    {
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<qint64>("expected"); // 777, the earlier offset, when the date does not parse
        QTest::newRow("local clock ahead") << QByteArray("Sat, 05 Dec 2026 05:02:48 GMT") << qint64(2250);
        QTest::newRow("local clock behind") << QByteArray("Sat, 05 Dec 2026 05:02:51 GMT") << qint64(-750);
        QTest::newRow("numeric zone") << QByteArray("Sat, 05 Dec 2026 06:02:48 +0100") << qint64(2250);
        QTest::newRow("up to the first NUL") << QByteArray("Sat, 05 Dec 2026 05:02:48 GMT\0junk", 34) << qint64(2250);
        QTest::newRow("garbage") << QByteArray("yesterday") << qint64(777);
        QTest::newRow("empty") << QByteArray() << qint64(777);
        QTest::newRow("day 42") << QByteArray("Sat, 42 Dec 2026 05:02:48 GMT") << qint64(777);
    }

    void clock()
    {
        QFETCH(QByteArray, date);
        QFETCH(qint64, expected);
        qint64 offset = 777;
        const qint64 now = QDateTime::fromString("2026-12-05T05:02:50.250Z", Qt::ISODateWithMs).toMSecsSinceEpoch();
        QCOMPARE(Wsse::takeClockOffset(date, now, &offset), expected != 777);
        QCOMPARE(offset, expected);
        // Created is on the server's clock: ours minus the offset, whole seconds, in UTC.
        const QDateTime local = QDateTime::fromString("2026-12-05T05:02:48.900Z", Qt::ISODateWithMs);
        QCOMPARE(Wsse::createdStamp(local, 2000), QStringLiteral("2026-12-05T05:02:46Z"));
        QCOMPARE(Wsse::createdStamp(local.toOffsetFromUtc(3600), -3600000), QStringLiteral("2026-12-05T06:02:48Z"));
    }

    void nonces()
    {
        // Every character of the alphabet and nothing else turns up in a long run.
        const QString text = generateNonce(5000);
        QCOMPARE(text.size(), 5000);
        QCOMPARE(QSet<QChar>(text.begin(), text.end()), QSet<QChar>(alphabet.begin(), alphabet.end()));
    }

    // Reply bodies, one a file: "twin-" ones repeat a key within one object, "single-" ones do not.
    void duplicateKeys_data() { caseFiles("replies/keys"); }

    void duplicateKeys()
    {
        QFETCH(QString, file);
        const QByteArray body = readFile(file);
        const bool duplicate = QFileInfo(file).fileName().startsWith(QLatin1String("twin-"));
        QCOMPARE(JsonReply::hasDuplicateKeys(body), duplicate);
        QJsonDocument doc;
        if (duplicate)
            QVERIFY(!JsonReply::parse(body, &doc) && doc.isNull());
    }
};

QTEST_GUILESS_MAIN(TestWsse)
#include "TestWsse.moc"
