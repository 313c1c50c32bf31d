#include "tools/recorder-sim/RecorderSim.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    void defaultReplies_data();
    void defaultReplies();
    void loginRouting();
    void dateHeader_data();
    void dateHeader();
    void wsseAccepted();
    void wsseRejected_data();
    void wsseRejected();
    void failureToken();
    void replayedNonce();
    void replies_data();
    void replies();
    void delay();
    void bodyMiB();
    void hangFreesThreadWhenClientLeaves();
    void stopWhileHanging();
    void requestsRecorded();
    void setEndpointWhileRunning();
    void badScenario_data();
    void badScenario();
    void executable();

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

void TestRecorderSim::defaultReplies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("authenticate");
    QTest::addColumn<QString>("member");
    QTest::newRow("auth") << "/api/v1.1/users/admin/auth" << false << "auth";
    QTest::newRow("health") << "/api/v1.1/health" << true << "health";
    QTest::newRow("sysinfo") << "/api/v1.1/sysinfo" << true << "network";
    QTest::newRow("license") << "/api/v1.1/license" << true << "license";
}

void TestRecorderSim::defaultReplies()
{
    QFETCH(QString, path);
    QFETCH(bool, authenticate);
    QFETCH(QString, member);
    const Result result = fetch(path, authenticate ? wsseHeaders() : Headers());
    QCOMPARE(result.status, 200);
    const QJsonObject body = result.json();
    QVERIFY2(body.value(member).isObject() || body.value(member).isArray(), result.body.constData());
    if (member == QLatin1String("auth")) {
        const QJsonObject wsse = body.value("auth").toArray().first().toObject();
        QCOMPARE(wsse.value("type").toString(), QStringLiteral("wsse"));
        QCOMPARE(wsse.value("salt").toString().toUtf8(), salt);
    } else if (member == QLatin1String("health")) {
        QCOMPARE(body.value("health").toObject(),
                 (QJsonObject{{"recorder", true}, {"cameras", true}, {"hardware", true}}));
    } else if (member == QLatin1String("license")) {
        const QJsonObject license = body.value("license").toObject();
        QVERIFY(license.value("version").isString());
        QVERIFY(QDate::fromString(license.value("license_expiration_date").toString(), "yyyyMMdd").isValid());
    }
}

void TestRecorderSim::loginRouting()
{
    const QString login = QStringLiteral("j\u00f6rg a/b");
    sim->setRecorder(recorder(login, "$2b$04$GoRbeIV9NdW1r58BzNUecO"));
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(login));
    const Result result = fetch(QStringLiteral("/api/v1.1/users/%1/auth").arg(encoded));
    QCOMPARE(result.status, 200);
    QCOMPARE(result.json().value("auth").toArray().first().toObject().value("salt").toString(),
             QStringLiteral("$2b$04$GoRbeIV9NdW1r58BzNUecO"));
    QCOMPARE(sim->requests().last().login, login);

    const Result unknown = fetch(QStringLiteral("/api/v1.1/users/nobody/auth"));
    QCOMPARE(unknown.status, 404);
    QCOMPARE(unknown.json().value("error").toString(), QStringLiteral("Unknown user"));
    QVERIFY(sim->requests().last().login.isEmpty());
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/other")).json().value("error").toString(), QStringLiteral("Not found"));
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

void TestRecorderSim::replayedNonce()
{
    QJsonObject strict = recorder("admin");
    strict.insert("rejectReplayedNonces", true);
    sim->setRecorder(strict);
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders()).status, 200);
    const Result replayed = fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders());
    QCOMPARE(replayed.status, 401);
    QCOMPARE(replayed.json().value("error").toString(), QStringLiteral("Replayed nonce"));
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders("admin", salt, "ZZCdEfGhIjKlMnOpQrS12")).status,
             200);
}

void TestRecorderSim::replies_data()
{
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("date");
    QTest::newRow("error status") << QJsonObject{{"status", 503}, {"json", QJsonObject{{"error", "Busy"}}}} << 503
                                  << QByteArray(R"({"error":"Busy"})") << QByteArray();
    QTest::newRow("raw") << QJsonObject{{"raw", "{not json"}} << 200 << QByteArray("{not json") << QByteArray();
    QTest::newRow("json scalar") << QJsonObject{{"json", 42}} << 200 << QByteArray("42") << QByteArray();
    QTest::newRow("json array") << QJsonObject{{"json", QJsonArray{1, "a"}}} << 200 << QByteArray(R"([1,"a"])")
                                << QByteArray();
    QTest::newRow("redirect") << QJsonObject{{"status", 302}, {"raw", ""}} << 302 << QByteArray() << QByteArray();
    QTest::newRow("garbage Date") << QJsonObject{{"headers", QJsonObject{{"Date", "yesterday"}}}} << 200 << QByteArray()
                                  << QByteArray("yesterday");
}

void TestRecorderSim::replies()
{
    QFETCH(QJsonObject, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, date);
    sim->setEndpoint("admin", "auth", reply);
    const Result result = fetch(QStringLiteral("/api/v1.1/users/admin/auth"));
    QCOMPARE(result.status, status);
    if (!reply.contains("headers"))
        QCOMPARE(result.body, body);
    if (!date.isEmpty())
        QCOMPARE(result.date, date);
    QCOMPARE(sim->requests().last().status, status);
}

void TestRecorderSim::delay()
{
    sim->setEndpoint("admin", "health", {{"delayMs", 400}});
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders()).status, 200);
    QVERIFY(timer.elapsed() >= 350);
}

void TestRecorderSim::bodyMiB()
{
    sim->setEndpoint("admin", "sysinfo", {{"bodyMiB", 3}});
    const Result result = fetch(QStringLiteral("/api/v1.1/sysinfo"), wsseHeaders());
    QCOMPARE(result.status, 200);
    QCOMPARE(result.body.size(), 3 * 1024 * 1024);
    QCOMPARE(result.body.count('x'), result.body.size());
}

void TestRecorderSim::hangFreesThreadWhenClientLeaves()
{
    // More hanging requests than the server has threads: each must be let go once its client aborts.
    sim->setEndpoint("admin", "auth", {{"hang", true}});
    for (int i = 1; i <= 70; ++i) {
        QNetworkReply* reply = send(QStringLiteral("/api/v1.1/users/admin/auth"));
        QVERIFY(sim->waitForRequests(i, 30000));
        QVERIFY(!reply->isFinished());
        reply->abort();
        reply->deleteLater();
    }
    QCOMPARE(sim->requests().last().status, 0);
    sim->setEndpoint("admin", "auth", {});
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/users/admin/auth")).status, 200);
}

void TestRecorderSim::stopWhileHanging()
{
    sim->setEndpoint("admin", "health", {{"hang", true}});
    sim->setEndpoint("admin", "license", {{"delayMs", 600000}});
    std::unique_ptr<QNetworkReply> hanging(send(QStringLiteral("/api/v1.1/health"), wsseHeaders()));
    std::unique_ptr<QNetworkReply> delayed(
        send(QStringLiteral("/api/v1.1/license"), wsseHeaders("admin", salt, "ZZCdEfGhIjKlMnOpQrS12")));
    QVERIFY(sim->waitForRequests(2, 30000));
    QTest::qWait(200);
    QVERIFY(!hanging->isFinished());
    QElapsedTimer timer;
    timer.start();
    sim->stop();
    // Far below cpp-httplib's own 5 s timeouts, which a stop waiting on the requests would hit.
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(sim->port(), quint16(0));
    QTRY_VERIFY_WITH_TIMEOUT(hanging->isFinished(), 30000);
    QCOMPARE(hanging->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 0);
}

void TestRecorderSim::requestsRecorded()
{
    fetch(QStringLiteral("/api/v1.1/users/admin/auth?q=a%20b"), {{"X-Second", "2"}, {"X-First", "1"}});
    fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders());
    const QList<RecordedRequest> requests = sim->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).method, QStringLiteral("GET"));
    QCOMPARE(requests.at(0).path, QStringLiteral("/api/v1.1/users/admin/auth?q=a%20b"));
    QCOMPARE(requests.at(0).login, QStringLiteral("admin"));
    QCOMPARE(requests.at(0).header("x-first"), QByteArray("1"));
    QStringList names;
    for (const auto& header : requests.at(0).headers)
        names << QString::fromLatin1(header.first);
    QVERIFY2(names.indexOf("X-Second") >= 0 && names.indexOf("X-Second") < names.indexOf("X-First"),
             qPrintable(names.join(", ")));
    QCOMPARE(requests.at(1).path, QStringLiteral("/api/v1.1/health"));
    QVERIFY(requests.at(1).header("X-WSSE").startsWith("UsernameToken Username=\"admin\""));
    QVERIFY(requests.at(0).receivedMs <= requests.at(1).receivedMs);
    QVERIFY(requests.at(0).receivedMs > 0);
    sim->clearRequests();
    QVERIFY(sim->requests().isEmpty());
    QVERIFY(!sim->waitForRequests(1, 50));
}

void TestRecorderSim::setEndpointWhileRunning()
{
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders()).status, 200);
    sim->setEndpoint("admin", "health", {{"status", 500}, {"json", QJsonObject{{"error", "Disk failure"}}}});
    const Result result = fetch(QStringLiteral("/api/v1.1/health"), wsseHeaders());
    QCOMPARE(result.status, 500);
    QCOMPARE(result.json().value("error").toString(), QStringLiteral("Disk failure"));
}

void TestRecorderSim::badScenario_data()
{
    QTest::addColumn<QJsonObject>("scenario");
    QJsonObject unknownEndpoint = recorder("a");
    unknownEndpoint.insert("endpoints", QJsonObject{{"status", QJsonObject{}}});
    QJsonObject badSkew = recorder("a");
    badSkew.insert("dateSkewSeconds", "soon");
    QJsonObject badHang = recorder("a");
    badHang.insert("endpoints", QJsonObject{{"health", QJsonObject{{"hang", "yes"}}}});
    QTest::newRow("no recorders") << QJsonObject{};
    QTest::newRow("no login") << QJsonObject{{"recorders", QJsonArray{QJsonObject{{"password", "x"}}}}};
    QTest::newRow("twice") << QJsonObject{{"recorders", QJsonArray{recorder("a"), recorder("a")}}};
    QTest::newRow("unknown endpoint") << QJsonObject{{"recorders", QJsonArray{unknownEndpoint}}};
    QTest::newRow("bad skew") << QJsonObject{{"recorders", QJsonArray{badSkew}}};
    QTest::newRow("bad hang") << QJsonObject{{"recorders", QJsonArray{badHang}}};
}

void TestRecorderSim::badScenario()
{
    QFETCH(QJsonObject, scenario);
    QString error;
    QVERIFY(!sim->loadScenario(scenario, &error));
    QVERIFY(!error.isEmpty());
    // The running scenario is kept.
    QCOMPARE(fetch(QStringLiteral("/api/v1.1/users/admin/auth")).status, 200);
}

void TestRecorderSim::executable()
{
    const QString program = qEnvironmentVariable("QUELVANE_RECORDER_SIM");
    if (program.isEmpty())
        QSKIP("QUELVANE_RECORDER_SIM is not set");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile scenario(dir.filePath("scenario.json"));
    QVERIFY(scenario.open(QIODevice::WriteOnly));
    scenario.write(QJsonDocument(QJsonObject{{"recorders", QJsonArray{recorder("site")}}}).toJson());
    scenario.close();

    QProcess process;
    process.start(program, {QStringLiteral("--until-stdin-closes"), scenario.fileName()});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 30000);
    const QString line = QString::fromLatin1(process.readLine()).trimmed();
    const auto match = QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));

    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1.1/users/site/auth").arg(match.captured(1))));
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);

    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QFile broken(dir.filePath("broken.json"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(R"({"recorders": [{"login": ""}]})");
    broken.close();
    QProcess failing;
    failing.start(program, {broken.fileName()});
    QVERIFY(failing.waitForFinished(30000));
    QCOMPARE(failing.exitCode(), 2);
    QVERIFY(!failing.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestRecorderSim)
#include "TestRecorderSim.moc"
