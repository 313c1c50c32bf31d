// The passwords in a real desktop keyring: gnome-keyring-daemon's Secret Service on a private session
// bus, read back with secret-tool; the file read byte by byte; a restart is the real program.
#include "TestSupport.h"
#include "app/MainWindow.h"
#include "app/config/ConfigManager.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>

using namespace TestSupport;

namespace {

const QStringList logins{"north", "south", "east"};

QString secretOf(const QString& key)
{
    QProcess lookup;
    lookup.start("secret-tool", {"lookup", "server", "Quelvane Monitor", "user", key});
    return lookup.waitForFinished(10000) ? QString::fromUtf8(lookup.readAllStandardOutput()) : QString();
}

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    RecorderSim sim;
    QProcess keyring;

    QString configFile() const { return dir.filePath("appdata/Quelvane SAS/Quelvane Monitor/config.json"); }
    // Each server's secret by its name in the file.
    QHash<QString, QString> keys() const
    {
        QHash<QString, QString> found;
        for (const QJsonValue& entry : QJsonDocument::fromJson(readFile(configFile()))["servers"].toArray())
            found.insert(entry["name"].toString(), entry["keyringKey"].toString());
        return found;
    }

    // A keyring unlocked with the test's own password, as a login session unlocks it.
    void startKeyring()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir.path());
        environment.insert("XDG_DATA_HOME", dir.filePath("data"));
        keyring.setProcessEnvironment(environment);
        keyring.start("gnome-keyring-daemon", {"--foreground", "--components=secrets", "--unlock"});
        QVERIFY2(keyring.waitForStarted(), "gnome-keyring-daemon is needed");
        keyring.write("test");
        keyring.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.secrets"), 20000);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName("Quelvane SAS");
        QCoreApplication::setApplicationName("Quelvane Monitor");
        QJsonArray recorders;
        for (const QString& login : logins)
            recorders.append(recorder(login, {}, "pw-" + login));
        QVERIFY(sim.start() && load(sim, recorders));
        ServerManager::instance()->setSettings(shortSettings());
        qputenv("APPDATA", QFile::encodeName(dir.filePath("appdata")));
        startKeyring();
    }

    void passwordsInTheKeyring()
    {
        QJsonArray servers;
        for (const QString& login : logins)
            servers.append(QJsonObject{{"name", login},
                                       {"host", "127.0.0.1"},
                                       {"port", sim.port()},
                                       {"login", login},
                                       {"password", "pw-" + login}});
        // A second entry of the same account has a secret of its own.
        servers.append(QJsonObject{
            {"name", "twin"}, {"host", "127.0.0.1"}, {"port", sim.port()}, {"login", "north"}, {"password", "pw-north"}});
        QVERIFY(writeFile(configFile(), QJsonDocument(QJsonObject{{"servers", servers}}).toJson()));
        MainWindow window;
        auto* action = window.findChild<QAction*>("passwordsInKeyring");
        for (const QString& login : logins)
            QVERIFY(waitForRequests(sim, login, "health", 1));
        const QString hashes = QFileInfo(configFile()).dir().filePath("hashes.json");
        QTRY_VERIFY(QFile::exists(hashes));

        // Ticked: every password goes to the keyring with its hash, and out of the file.
        action->trigger();
        const auto inFile = [&] {
            QStringList found;
            for (const QString& login : logins)
                if (readFile(configFile()).contains("pw-" + login.toUtf8()))
                    found << login;
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(inFile(), QStringList(), 20000);
        QVERIFY(action->isChecked() && !QFile::exists(hashes));
        const QHash<QString, QString> key = keys();
        QCOMPARE(QSet<QString>(key.cbegin(), key.cend()).size(), 4);
        for (const QString& name : logins + QStringList{"twin"}) {
            const QJsonObject secret = QJsonDocument::fromJson(secretOf(key[name]).toUtf8()).object();
            QCOMPARE(secret["password"].toString(), "pw-" + (name == "twin" ? "north" : name));
            QVERIFY(secret["hash"].toString().startsWith("$2b$04$"));
        }

        // A restart authenticates every server from the keyring, and keeps no file of hashes.
        for (const auto& server : ServerManager::instance()->serverList()) {
            server->alarmsTimer.disconnect();
            server->alarmsTimer.stop();
        }
        sim.clearRequests();
        QProcess restart;
        restart.start(qEnvironmentVariable("QUELVANE_MONITOR"), {"--hidden"});
        for (const QString& login : logins)
            QVERIFY(waitForRequests(sim, login, "health", 2, 30000));
        QVERIFY(sim.requests().last().status == 200 && !QFile::exists(hashes));
        restart.kill();
        QVERIFY(restart.waitForFinished());

        // No keyring: the server tells why and recovers by itself once the keyring is back, with the hash
        // kept there (the hashes in memory forgotten first).
        auto server = ServerManager::instance()->serverList().first();
        auto hashed = std::make_shared<std::atomic<int>>(0);
        MonitorSettings settings = shortSettings();
        settings.hashFunction = [hashed](const QByteArray& password, const QByteArray& setting) {
            ++*hashed;
            return BcryptCache::compute(password, setting);
        };
        ServerManager::instance()->setSettings(settings);
        ServerManager::instance()->setHashStore(dir.filePath("none.json"));
        // Locked, with nobody on the bus to ask for its password.
        QDBusInterface service("org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service");
        const QList<QDBusObjectPath> login{QDBusObjectPath("/org/freedesktop/secrets/collection/login")};
        QCOMPARE(service.call("Lock", QVariant::fromValue(login)).type(), QDBusMessage::ReplyMessage);
        server->password.clear();
        server->passwordElsewhere = true;
        ServerManager::instance()->initServer(server);
        QTRY_VERIFY_WITH_TIMEOUT(server->alarmsError.startsWith("The password of this server is in the desktop "
                                                                "keyring, which could not be read: "),
                                 20000);
        QVERIFY(!server->unreachable.isEmpty());
        // Then absent, then back unlocked, as after the user logs in again.
        keyring.kill();
        QVERIFY(keyring.waitForFinished());
        startKeyring();
        QTRY_VERIFY_WITH_TIMEOUT(server->alarmsError.isEmpty() && server->password == "pw-north", 20000);
        QVERIFY(waitForRequests(sim, "north", "health", countOf(sim, "north", "health") + 1));
        QCOMPARE(hashed->load(), 0);

        // A server removed leaves no secret behind, and takes none of another's.
        ServerManager::instance()->removeServer(ServerManager::instance()->serverList().last());
        QTRY_COMPARE(secretOf(key["twin"]), QString());
        QVERIFY(!secretOf(key["north"]).isEmpty());

        // Unticked: every password back in the file, then out of the keyring.
        action->trigger();
        QTRY_COMPARE(inFile(), logins);
        QTRY_COMPARE(secretOf(key["north"]) + secretOf(key["south"]) + secretOf(key["east"]), QString());
        QVERIFY(!action->isChecked());

        // With no keyring the entry says why it cannot be ticked.
        keyring.kill();
        QVERIFY(keyring.waitForFinished());
        // Asked when a menu shows the entry.
        emit window.menuBar()->actions().first()->menu()->aboutToShow();
        QTRY_VERIFY_WITH_TIMEOUT(!action->isEnabled() && action->toolTip().startsWith("No desktop keyring answers"),
                                 20000);
    }
};

QTEST_MAIN(TestKeyring)
#include "TestKeyring.moc"
