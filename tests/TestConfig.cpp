// The configuration file: case files read and rewritten, the file's mode and place, and the faults only
// another process can produce (a full disk, a writer killed mid-save, a folder the writer may not write).
// The executable is its own child: "--child MODE ..." runs one of the writers below.
#include "app/config/ConfigManager.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every password names the writer and the version, and is long enough that a save takes a while.
QJsonObject versionServer(const QString& tag, int version, int i)
{
    return {{"name", QStringLiteral("Server %1").arg(i)}, {"host", "127.0.0.1"}, {"port", 8080}, {"login", "admin"},
            {"password", QStringLiteral("%1-%2-").arg(tag).arg(version) + QString(1000, QLatin1Char('p'))}};
}

QByteArray versionFile(const QString& tag, int version)
{
    QJsonArray servers;
    for (int i = 0; i < 200; ++i)
        servers.append(versionServer(tag, version, i));
    return QJsonDocument(QJsonObject{{"version", "1.0.0"}, {"servers", servers}, {"extActions", QJsonArray()}})
        .toJson();
}

void applyVersion(const QString& tag, int version)
{
    const auto old = ServerManager::instance()->serverList();
    for (const auto& server : old)
        ServerManager::instance()->removeServer(server);
    for (int i = 0; i < 200; ++i) {
        const QJsonObject s = versionServer(tag, version, i);
        ServerManager::instance()->addServer(s["name"].toString(), s["host"].toString(), 8080, s["login"].toString(),
                                             s["password"].toString());
    }
}

int runChild(const QStringList& args)
{
    const QString mode = args.value(0);
    if (mode == QLatin1String("loop")) {
        for (int version = 0;; ++version) {
            applyVersion(QStringLiteral("crash"), version);
            ConfigManager::instance()->save();
            std::printf("saved %d\n", version);
            std::fflush(stdout);
        }
    }
    if (mode == QLatin1String("full")) {
        if (args.value(1) == QLatin1String("ignore"))
            std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        return ConfigManager::instance()->writeConfigFile(versionFile(QStringLiteral("full"), 1)) ? 1 : 0;
    }
    if (mode == QLatin1String("inplace")) {
        // Root would pass the folder's mode; "nobody" does not.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 3;
        return ConfigManager::instance()->writeConfigFile(versionFile(QStringLiteral("new"), 1)) ? 0 : 1;
    }
    return 2;
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> appData;
    QString configFile() const { return appData->filePath(QStringLiteral("Quelvane SAS/Quelvane Monitor/config.json")); }

    std::unique_ptr<QProcess> startChild(const QStringList& args)
    {
        auto child = std::make_unique<QProcess>();
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
        return child;
    }

private slots:
    void init()
    {
        appData = std::make_unique<QTemporaryDir>();
        QVERIFY(appData->isValid());
        qputenv("APPDATA", QFile::encodeName(appData->path()));
    }

    void cleanup()
    {
        const auto servers = ServerManager::instance()->serverList();
        for (const auto& server : servers)
            ServerManager::instance()->removeServer(server);
        const auto actions = ExtActionManager::instance()->actionList();
        for (const auto& action : actions)
            ExtActionManager::instance()->removeAction(action);
    }

    // NAME.in is put in place (none: no file), loaded and saved again; NAME.out is the exact result.
    void rewrite_data()
    {
        QTest::addColumn<QString>("base");
        const QDir dir(QFINDTESTDATA("data/config"));
        for (const QString& out : dir.entryList({QStringLiteral("*.out")}))
            QTest::newRow(qPrintable(out.chopped(4))) << dir.filePath(out.chopped(4));
    }

    void rewrite()
    {
        QFETCH(QString, base);
        QVERIFY(QFile::exists(base + ".out"));
        if (QFile::exists(base + ".in")) {
            QVERIFY(QDir().mkpath(QFileInfo(configFile()).path()));
            QVERIFY(QFile::copy(base + ".in", configFile()));
        }
        ConfigManager::instance()->load();
        ConfigManager::instance()->save();
        QCOMPARE(QString::fromUtf8(readFile(configFile())), QString::fromUtf8(readFile(base + ".out")));
    }

    // The passwords are in clear: a new file and one left readable by others both end up 0600.
    void ownerOnly()
    {
        for (int round = 0; round < 2; ++round) {
            ConfigManager::instance()->save();
            QCOMPARE(QFile::permissions(configFile()) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(QFile::setPermissions(configFile(), QFileDevice::Permissions(0x6644)));
        }
    }

    void withoutAppData()
    {
        const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(appData->filePath(QStringLiteral("xdg"))));
        for (bool empty : {false, true}) {
            empty ? qputenv("APPDATA", QByteArray()) : qunsetenv("APPDATA");
            const QString file = appData->filePath(QStringLiteral("xdg/Quelvane SAS/Quelvane Monitor/config.json"));
            QFile::remove(file);
            ConfigManager::instance()->save();
            QVERIFY(QFile::exists(file));
        }
        qputenv("XDG_CONFIG_HOME", xdg);
    }

    void fullDisk_data()
    {
        QTest::addColumn<bool>("ignoreSignal");
        // By default the kernel kills a writer that passes the limit, in the middle of its write.
        QTest::newRow("writer killed") << false;
        QTest::newRow("write refused") << true;
    }

    void fullDisk()
    {
        QFETCH(bool, ignoreSignal);
        const QByteArray old = versionFile(QStringLiteral("old"), 7);
        QVERIFY(ConfigManager::instance()->writeConfigFile(old));
        auto child = startChild({QStringLiteral("full"), ignoreSignal ? QStringLiteral("ignore") : QString()});
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(child->exitStatus(), ignoreSignal ? QProcess::NormalExit : QProcess::CrashExit);
        QCOMPARE(readFile(configFile()), old);
        if (ignoreSignal) {
            QCOMPARE(child->exitCode(), 0);
            QCOMPARE(QFileInfo(configFile()).dir().entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});
        }
    }

    void killedWhileSaving()
    {
        for (int round = 0; round < 4; ++round) {
            auto child = startChild({QStringLiteral("loop")});
            QTRY_VERIFY_WITH_TIMEOUT(child->canReadLine(), 60000);
            QTest::qWait(int(QRandomGenerator::global()->bounded(20, 400)));
            child->kill();
            QVERIFY(child->waitForFinished(30000));
            const int lastSaved = child->readAllStandardOutput().trimmed().split('\n').last().split(' ').value(1).toInt();
            // The last version reported saved, or the one being saved when the kill came; whole either way.
            const QByteArray data = readFile(configFile());
            QVERIFY2(data == versionFile(QStringLiteral("crash"), lastSaved) ||
                         data == versionFile(QStringLiteral("crash"), lastSaved + 1),
                     qPrintable(QStringLiteral("round %1: not a whole version").arg(round)));
        }
    }

    void folderNotWritable()
    {
        QVERIFY(ConfigManager::instance()->writeConfigFile(versionFile(QStringLiteral("old"), 1)));
        const QString dir = QFileInfo(configFile()).path();
        const auto open = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
        if (geteuid() == 0) {
            // The folders stay root's; the file becomes the child's.
            for (QString path = dir; path.startsWith(appData->path()); path = QFileInfo(path).path())
                QVERIFY(QFile::setPermissions(path, open | QFileDevice::WriteOwner));
            QCOMPARE(::chown(QFile::encodeName(configFile()).constData(), 65534, 65534), 0);
        } else {
            QVERIFY(QFile::setPermissions(dir, open));
        }
        auto child = startChild({QStringLiteral("inplace")});
        QVERIFY(child->waitForFinished(60000));
        QFile::setPermissions(dir, open | QFileDevice::WriteOwner);
        QCOMPARE(child->exitCode(), 0);
        QCOMPARE(readFile(configFile()), versionFile(QStringLiteral("new"), 1));
        QCOMPARE(QFile::permissions(configFile()) & 0x0077, QFileDevice::Permissions());
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return runChild(app.arguments().mid(2));
    TestConfig test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestConfig.moc"
