#include "app/config/ConfigManager.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <memory>

namespace {

const QByteArray emptyForm = R"({
    "extActions": [
    ],
    "servers": [
    ],
    "version": "1.0.0"
}
)";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// One server as "name|host|port|login|password", to compare whole lists at once.
QStringList loadedServers()
{
    QStringList list;
    for (const auto& server : ServerManager::instance()->serverList()) {
        list << QStringList{server->name, server->host, QString::number(server->port), server->login, server->password}
                    .join(QLatin1Char('|'));
    }
    return list;
}

QStringList loadedScripts()
{
    QStringList list;
    for (const auto& action : ExtActionManager::instance()->actionList()) {
        list << action->path;
    }
    return list;
}

} // namespace

class TestConfigManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void configDir();
    void configDirWithoutAppData();
    void loadAndRewrite_data();
    void loadAndRewrite();
    void loadWithoutScriptsWritesNothing();
    void firstSaveCreatesDirectories();
    void configPathIsDirectory();
    void directoryCannotBeCreated();
    void failedWriteKeepsOldFile();
    void ownerOnlyPermissions();

private:
    QString configFile() const { return ConfigManager::instance()->configDir().absoluteFilePath("config.json"); }
    void putFile(const QByteArray& data);

    std::unique_ptr<QTemporaryDir> appData;
};

void TestConfigManager::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    ServerManager::instance()->setSaveHandler([] { ConfigManager::instance()->save(); });
}

void TestConfigManager::init()
{
    appData = std::make_unique<QTemporaryDir>();
    QVERIFY(appData->isValid());
    qputenv("APPDATA", QFile::encodeName(appData->path()));
}

void TestConfigManager::cleanup()
{
    const auto servers = ServerManager::instance()->serverList();
    for (const auto& server : servers) {
        ServerManager::instance()->removeServer(server);
    }
    const auto actions = ExtActionManager::instance()->actionList();
    for (const auto& action : actions) {
        ExtActionManager::instance()->removeAction(action);
    }
    appData.reset();
}

void TestConfigManager::putFile(const QByteArray& data)
{
    QVERIFY(QDir().mkpath(ConfigManager::instance()->configDir().path()));
    QVERIFY(writeFile(configFile(), data));
}

void TestConfigManager::configDir()
{
    QCOMPARE(ConfigManager::instance(), ConfigManager::instance());
    QCOMPARE(ConfigManager::instance()->configDir().path(), appData->path() + "/Quelvane SAS/Quelvane Monitor");
    QCOMPARE(configFile(), appData->path() + "/Quelvane SAS/Quelvane Monitor/config.json");
}

void TestConfigManager::configDirWithoutAppData()
{
    const QByteArray xdgConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(appData->filePath(QStringLiteral("xdg"))));
    for (bool setButEmpty : {false, true}) {
        if (setButEmpty) {
            qputenv("APPDATA", QByteArray());
        } else {
            qunsetenv("APPDATA");
        }
#ifdef Q_OS_WIN
        QCOMPARE(ConfigManager::instance()->configDir().path(), QStringLiteral("/Quelvane SAS/Quelvane Monitor"));
#else
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                 QStringLiteral("/Quelvane SAS/Quelvane Monitor");
        QCOMPARE(ConfigManager::instance()->configDir().path(), expected);
        QCOMPARE(expected, appData->filePath(QStringLiteral("xdg/Quelvane SAS/Quelvane Monitor")));
        ConfigManager::instance()->save();
        QCOMPARE(readFile(expected + QStringLiteral("/config.json")), emptyForm);
#endif
    }
    qputenv("XDG_CONFIG_HOME", xdgConfig);
}

void TestConfigManager::loadAndRewrite_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<QStringList>("scripts");
    QTest::addColumn<QByteArray>("rewritten");

    const QByteArray oneServer = R"({
    "extActions": [
    ],
    "servers": [
        {
            "host": "127.0.0.1",
            "login": "admin",
            "name": "Hall",
            "password": "secret",
            "port": 9
        }
    ],
    "version": "1.0.0"
}
)";
    const QString hall = QStringLiteral("Hall|127.0.0.1|9|admin|secret");

    QTest::newRow("no file") << QByteArray() << QStringList() << QStringList() << emptyForm;
    QTest::newRow("empty file") << QByteArray("") << QStringList() << QStringList() << emptyForm;
    QTest::newRow("not json") << QByteArray("servers = [Hall]\n") << QStringList() << QStringList() << emptyForm;
    QTest::newRow("truncated json") << QByteArray(R"({"servers": [{"name": "Hall", "host": )") << QStringList()
                                    << QStringList() << emptyForm;
    QTest::newRow("array root")
        << QByteArray(R"([{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}])")
        << QStringList() << QStringList() << emptyForm;
    QTest::newRow("only {}") << QByteArray("{}") << QStringList() << QStringList() << emptyForm;
    QTest::newRow("one server")
        << QByteArray(
               R"({"version": "1.0.0", "servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})")
        << QStringList{hall} << QStringList() << oneServer;
    QTest::newRow("other version")
        << QByteArray(
               R"({"version": "0.3", "servers": [{"password": "secret", "login": "admin", "port": 9, "host": "127.0.0.1", "name": "Hall"}]})")
        << QStringList{hall} << QStringList() << oneServer;
    QTest::newRow("no version")
        << QByteArray(
               R"({"servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})")
        << QStringList{hall} << QStringList() << oneServer;
    QTest::newRow("version of another type")
        << QByteArray(
               R"({"version": 2, "servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})")
        << QStringList{hall} << QStringList() << oneServer;
    QTest::newRow("string port")
        << QByteArray(
               R"({"servers": [{"name": "Gate", "host": "127.0.0.1", "port": "8080", "login": "op", "password": "pw"}]})")
        << QStringList{QStringLiteral("Gate|127.0.0.1|0|op|pw")} << QStringList() << QByteArray(R"({
    "extActions": [
    ],
    "servers": [
        {
            "host": "127.0.0.1",
            "login": "op",
            "name": "Gate",
            "password": "pw",
            "port": 0
        }
    ],
    "version": "1.0.0"
}
)");
    QTest::newRow("entry without password dropped") << QByteArray(R"({"servers": [
        {"name": "Gate", "host": "127.0.0.1", "port": 10, "login": "op"},
        {"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})")
                                                    << QStringList{hall} << QStringList() << oneServer;
    QTest::newRow("each key missing once") << QByteArray(R"({"servers": [
        {"host": "h", "port": 1, "login": "l", "password": "p"},
        {"name": "n", "port": 1, "login": "l", "password": "p"},
        {"name": "n", "host": "h", "login": "l", "password": "p"},
        {"name": "n", "host": "h", "port": 1, "password": "p"},
        {"name": "n", "host": "h", "port": 1, "login": "l"}]})")
                                           << QStringList() << QStringList() << emptyForm;
    QTest::newRow("members of other types")
        << QByteArray(R"({
        "servers": [{"name": 5, "host": true, "port": [9], "login": null, "password": {}}, 7, "Hall", null],
        "extActions": [{"path": 3}, "/opt/a.sh", ["/opt/b.sh"], {"file": "/opt/c.sh"}]})")
        << QStringList{QStringLiteral("||0||")} << QStringList{QString()} << QByteArray(R"({
    "extActions": [
        {
            "path": ""
        }
    ],
    "servers": [
        {
            "host": "",
            "login": "",
            "name": "",
            "password": "",
            "port": 0
        }
    ],
    "version": "1.0.0"
}
)");
    QTest::newRow("lists of other types")
        << QByteArray(
               R"({"servers": {"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}, "extActions": "/opt/a.sh"})")
        << QStringList() << QStringList() << emptyForm;
    QTest::newRow("two scripts and one server")
        << QByteArray(R"({
        "extActions": [{"path": "/opt/scripts/siren.sh"}, {"path": "/opt/my scripts/mail.sh"}],
        "servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})")
        << QStringList{hall}
        << QStringList{QStringLiteral("/opt/scripts/siren.sh"), QStringLiteral("/opt/my scripts/mail.sh")}
        << QByteArray(R"({
    "extActions": [
        {
            "path": "/opt/scripts/siren.sh"
        },
        {
            "path": "/opt/my scripts/mail.sh"
        }
    ],
    "servers": [
        {
            "host": "127.0.0.1",
            "login": "admin",
            "name": "Hall",
            "password": "secret",
            "port": 9
        }
    ],
    "version": "1.0.0"
}
)");
    QTest::newRow("duplicates kept, order kept, non-ASCII")
        << QByteArray(R"({"servers": [
        {"name": "Entrée", "host": "127.0.0.1", "port": 9, "login": "l", "password": "mot de passe"},
        {"name": "Entrée", "host": "127.0.0.1", "port": 9, "login": "l", "password": "mot de passe"},
        {"name": "Annexe", "host": "127.0.0.2", "port": 65535, "login": "m", "password": "\"q\""}]})")
        << QStringList{QStringLiteral("Entrée|127.0.0.1|9|l|mot de passe"),
                       QStringLiteral("Entrée|127.0.0.1|9|l|mot de passe"),
                       QStringLiteral("Annexe|127.0.0.2|65535|m|\"q\"")}
        << QStringList() << QByteArray(R"({
    "extActions": [
    ],
    "servers": [
        {
            "host": "127.0.0.1",
            "login": "l",
            "name": "Entrée",
            "password": "mot de passe",
            "port": 9
        },
        {
            "host": "127.0.0.1",
            "login": "l",
            "name": "Entrée",
            "password": "mot de passe",
            "port": 9
        },
        {
            "host": "127.0.0.2",
            "login": "m",
            "name": "Annexe",
            "password": "\"q\"",
            "port": 65535
        }
    ],
    "version": "1.0.0"
}
)");
}

void TestConfigManager::loadAndRewrite()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, servers);
    QFETCH(QStringList, scripts);
    QFETCH(QByteArray, rewritten);

    if (!file.isNull()) {
        putFile(file);
    }

    // What the scripts dialog does for every added script: save, which rewrites the file at start-up.
    QList<QByteArray> startupWrites;
    QObject context;
    connect(ExtActionManager::instance(), &ExtActionManager::actionAdded, &context, [&] {
        ConfigManager::instance()->save();
        startupWrites << readFile(configFile());
    });

    ConfigManager::instance()->load();

    QCOMPARE(loadedServers(), servers);
    QCOMPARE(loadedScripts(), scripts);
    QCOMPARE(startupWrites.size(), scripts.size());
    for (int i = 0; i < startupWrites.size(); ++i) {
        // Servers come first, so every rewrite already holds all of them, and the scripts read so far.
        const QJsonObject written = QJsonDocument::fromJson(startupWrites.at(i)).object();
        QCOMPARE(written.value(QStringLiteral("servers")).toArray().size(), servers.size());
        QCOMPARE(written.value(QStringLiteral("extActions")).toArray().size(), i + 1);
    }
    if (!startupWrites.isEmpty()) {
        QCOMPARE(startupWrites.last(), rewritten);
    }

    ConfigManager::instance()->save();
    QCOMPARE(readFile(configFile()), rewritten);
}

void TestConfigManager::loadWithoutScriptsWritesNothing()
{
    const QByteArray original =
        R"({"servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "secret"}]})";
    putFile(original);
    ConfigManager::instance()->load();
    QCOMPARE(ServerManager::instance()->serverList().size(), 1);
    QCOMPARE(readFile(configFile()), original);
}

void TestConfigManager::firstSaveCreatesDirectories()
{
    const QString dir = ConfigManager::instance()->configDir().path();
    QVERIFY(!QFileInfo::exists(appData->filePath(QStringLiteral("Quelvane SAS"))));
    ConfigManager::instance()->load();
    QVERIFY(ServerManager::instance()->serverList().isEmpty());
    QVERIFY(!QFileInfo::exists(dir));

    ServerManager::instance()->addServer(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 9,
                                         QStringLiteral("admin"), QStringLiteral("secret"));
    ExtActionManager::instance()->addAction(QStringLiteral("/opt/scripts/siren.sh"));
    ConfigManager::instance()->save();
    const QJsonObject root = QJsonDocument::fromJson(readFile(configFile())).object();
    QCOMPARE(root.value(QStringLiteral("servers")).toArray().size(), 1);
    QCOMPARE(root.value(QStringLiteral("extActions")).toArray().at(0).toObject().value(QStringLiteral("path")),
             QJsonValue(QStringLiteral("/opt/scripts/siren.sh")));
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("config.json")});
}

void TestConfigManager::configPathIsDirectory()
{
    const QString path = configFile();
    QVERIFY(QDir().mkpath(path));
    QVERIFY(writeFile(path + QStringLiteral("/inside"), "kept"));

    ConfigManager::instance()->load();
    QVERIFY(ServerManager::instance()->serverList().isEmpty());
    QVERIFY(!ConfigManager::instance()->writeConfigFile(emptyForm));
    ConfigManager::instance()->save();

    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(readFile(path + QStringLiteral("/inside")), QByteArray("kept"));
}

void TestConfigManager::directoryCannotBeCreated()
{
    // A plain file where the organisation's directory belongs: the chain cannot be made, at any privilege.
    const QString blocker = appData->filePath(QStringLiteral("Quelvane SAS"));
    QVERIFY(writeFile(blocker, "not a directory"));

    QVERIFY(!ConfigManager::instance()->writeConfigFile(emptyForm));
    ConfigManager::instance()->save();
    QVERIFY(QFileInfo(blocker).isFile());
    QCOMPARE(readFile(blocker), QByteArray("not a directory"));
}

void TestConfigManager::failedWriteKeepsOldFile()
{
#ifndef Q_OS_UNIX
    QSKIP("The write failure is produced with a POSIX file size limit");
#else
    putFile(emptyForm);
    // A file size limit binds root too: the write fails as on a full disk.
    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 16;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ConfigManager::instance()->writeConfigFile(QByteArray(4096, ' ') + emptyForm);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!written);
    QCOMPARE(readFile(configFile()), emptyForm);
    QCOMPARE(ConfigManager::instance()->configDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("config.json")});
#endif
}

void TestConfigManager::ownerOnlyPermissions()
{
#ifdef Q_OS_WIN
    QSKIP("POSIX file modes only");
#else
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

    ConfigManager::instance()->save();
    QCOMPARE(QFileInfo(configFile()).permissions() & (owner | others),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // A file left readable by an older version is tightened at the next save.
    QVERIFY(QFile::setPermissions(configFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ConfigManager::instance()->save();
    QCOMPARE(QFileInfo(configFile()).permissions() & (owner | others),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

QTEST_GUILESS_MAIN(TestConfigManager)
#include "TestConfigManager.moc"
