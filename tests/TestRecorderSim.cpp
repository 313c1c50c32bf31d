#include "tools/recorder-sim/RecorderSim.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

const QByteArray salt = "$2b$04$LPuI22OkwzIUhPs4So4LaO";

struct Result
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool hasDate = false;
    QByteArray date;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

QJsonObject recorder(const QString& login, const QByteArray& recorderSalt = salt)
{
    return {{"login", login}, {"password", "secret"}, {"salt", QString::fromUtf8(recorderSalt)}};
}

QString created(qint64 offsetSeconds = 0)
{
    return QDateTime::currentDateTimeUtc().addSecs(offsetSeconds).toString(Qt::ISODate);
}

QString digest(const QString& nonce, const QString& createdText, const QByteArray& password, const QByteArray& setting)
{
    const QByteArray input = nonce.toLatin1() + createdText.toLatin1() + RecorderSim::bcrypt(password, setting);
    return QString::fromLatin1(QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64());
}

QByteArray xWsse(const QString& login, const QString& digestText, const QString& nonce, const QString& createdText)
{
    return QStringLiteral(R"(UsernameToken Username="%1", PasswordDigest="%2", Nonce="%3", Created="%4")")
        .arg(login, digestText, nonce, createdText)
        .toLatin1();
}

Headers wsseHeaders(const QString& login = QStringLiteral("admin"), const QByteArray& setting = salt,
                    const QString& nonce = QStringLiteral("AbCdEfGhIjKlMnOpQrS12"), qint64 skewSeconds = 0)
{
    const QString stamp = created(skewSeconds);
    return {{"Authorization", R"(WSSE profile="UsernameToken")"},
            {"X-WSSE", xWsse(login, digest(nonce, stamp, "secret", setting), nonce, stamp)}};
}

} // namespace

class TestRecorderSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dateHeader_data();
    void dateHeader();
    void wsseAccepted();
    void wsseRejected_data();
    void wsseRejected();
    void failureToken();

private:
    QNetworkReply* send(const QString& path, const Headers& headers = {});
    Result fetch(const QString& path, const Headers& headers = {});

    std::unique_ptr<RecorderSim> sim;
    QNetworkAccessManager network;
};

void TestRecorderSim::init()
{
    sim = std::make_unique<RecorderSim>();
    const QJsonObject scenario{{"recorders", QJsonArray{recorder("admin")}}};
    QString error;
    QVERIFY2(sim->loadScenario(scenario, &error), qPrintable(error));
    QVERIFY(sim->start());
    QVERIFY(sim->port() != 0);
}

void TestRecorderSim::cleanup()
{
    network.clearConnectionCache();
    sim.reset();
}

QNetworkReply* TestRecorderSim::send(const QString& path, const Headers& headers)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(sim->port()).arg(path)));
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);
    return network.get(request);
}

Result TestRecorderSim::fetch(const QString& path, const Headers& headers)
{
    std::unique_ptr<QNetworkReply> reply(send(path, headers));
    if (!reply->isFinished())
        QSignalSpy(reply.get(), &QNetworkReply::finished).wait(30000);
    Result result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.error = reply->error();
    result.hasDate = reply->hasRawHeader("Date");
    result.date = reply->rawHeader("Date");
    return result;
}

void TestRecorderSim::dateHeader_data()
{
    QTest::addColumn<QJsonValue>("skew");
    QTest::newRow("no skew") << QJsonValue(0);
    QTest::newRow("server ahead") << QJsonValue(3600);
    QTest::newRow("server behind") << QJsonValue(-90);
    QTest::newRow("no Date") << QJsonValue(QJsonValue::Null);
}

void TestRecorderSim::dateHeader()
{
    QFETCH(QJsonValue, skew);
    QJsonObject skewed = recorder("admin");
    skewed.insert("dateSkewSeconds", skew);
    sim->setRecorder(skewed);
    const Result result = fetch(QStringLiteral("/api/v1.1/users/admin/auth"));
    QCOMPARE(result.status, 200);
    QCOMPARE(result.hasDate, !skew.isNull());
    if (skew.isNull())
        return;
    QVERIFY2(result.date.endsWith(" GMT"), result.date.constData());
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(result.date), Qt::RFC2822Date);
    QVERIFY(date.isValid());
    const qint64 expected = QDateTime::currentSecsSinceEpoch() + qint64(skew.toDouble());
    QVERIFY2(qAbs(date.toSecsSinceEpoch() - expected) <= 5, result.date.constData());

    // The WSSE check follows the recorder's clock too.
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/health"),
                   wsseHeaders("admin", salt, "AbCdEfGhIjKlMnOpQrS12", qint64(skew.toDouble())))
                 .status,
             200);
}

void TestRecorderSim::wsseAccepted()
{
    const Result result = fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders());
    QCOMPARE(result.status, 200);
    const RecordedRequest request = sim->requests().last();
    QCOMPARE(request.login, QStringLiteral("admin"));
    QVERIFY(request.authError.isEmpty());
    QCOMPARE(request.status, 200);
}

void TestRecorderSim::wsseRejected_data()
{
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("wsse");
    QTest::addColumn<QString>("error");

    const QByteArray profile = R"(WSSE profile="UsernameToken")";
    const QString nonce = QStringLiteral("AbCdEfGhIjKlMnOpQrS12");
    const QString now = created();
    const QString good = digest(nonce, now, "secret", salt);
    QTest::newRow("no Authorization") << QByteArray() << xWsse("admin", good, nonce, now)
                                      << "Invalid Authorization header";
    QTest::newRow("other profile") << QByteArray("WSSE profile=UsernameToken") << xWsse("admin", good, nonce, now)
                                   << "Invalid Authorization header";
    QTest::newRow("no X-WSSE") << profile << QByteArray() << "Invalid X-WSSE header";
    QTest::newRow("X-WSSE spacing") << profile << xWsse("admin", good, nonce, now).replace(", ", ",")
                                    << "Invalid X-WSSE header";
    QTest::newRow("unknown user") << profile << xWsse("nobody", good, nonce, now) << "Unknown user";
    QTest::newRow("short nonce") << profile << xWsse("admin", good, nonce.left(20), now) << "Invalid nonce";
    QTest::newRow("nonce not alphanumeric")
        << profile << xWsse("admin", good, nonce.left(20) + "+", now) << "Invalid nonce";
    QTest::newRow("Created with millis") << profile
                                         << xWsse("admin", good, nonce, now.left(19) + QStringLiteral(".000Z"))
                                         << "Invalid Created";
    QTest::newRow("Created with offset") << profile << xWsse("admin", good, nonce, now.left(19) + QStringLiteral("+00"))
                                         << "Invalid Created";
    QTest::newRow("Created too late") << profile << xWsse("admin", good, nonce, created(10)) << "Created out of range";
    QTest::newRow("Created too early") << profile << xWsse("admin", good, nonce, created(-10))
                                       << "Created out of range";
    QTest::newRow("wrong password") << profile << xWsse("admin", digest(nonce, now, "Secret", salt), nonce, now)
                                    << "Invalid password digest";
    QTest::newRow("failure token instead of hash")
        << profile << xWsse("admin", digest(nonce, now, "secret", ""), nonce, now) << "Invalid password digest";
}

void TestRecorderSim::wsseRejected()
{
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, wsse);
    QFETCH(QString, error);
    Headers headers;
    if (!authorization.isNull())
        headers.append({"Authorization", authorization});
    if (!wsse.isNull())
        headers.append({"X-WSSE", wsse});
    const Result result = fetch(QStringLiteral("/api/v1.1/sysinfo"), headers);
    QCOMPARE(result.status, 401);
    QCOMPARE(result.json().value("error").toString(), error);
    QCOMPARE(sim->requests().last().authError, error);
    QCOMPARE(sim->requests().last().status, 401);
}

void TestRecorderSim::failureToken()
{
    QCOMPARE(RecorderSim::bcrypt("secret", ""), QByteArray("*0"));
    QCOMPARE(RecorderSim::bcrypt("secret", "not a setting"), QByteArray("*0"));
    QCOMPARE(RecorderSim::bcrypt("secret", "*0"), QByteArray("*1"));
    const QByteArray hashed = RecorderSim::bcrypt("secret", salt);
    QCOMPARE(hashed.size(), 60);
    QVERIFY(hashed.startsWith(salt));

    sim->setRecorder(recorder("nosalt", ""));
    const Result result = fetch(QStringLiteral("/api/v1.1/license"), wsseHeaders("nosalt", ""));
    QCOMPARE(result.status, 200);
    const Result wrongToken = fetch(QStringLiteral("/api/v1.1/license"), wsseHeaders("nosalt", "*0"));
    QCOMPARE(wrongToken.status, 401);
}

QTEST_GUILESS_MAIN(TestRecorderSim)
#include "TestRecorderSim.moc"
