// The configuration file: case files read and rewritten, the file's mode and place, and the faults only
// another process can produce. The executable is its own child: "--child MODE" runs one of the writers.
#include "TestSupport.h"
#include "app/config/ConfigManager.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QtTest>
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace TestSupport;

namespace {

// Large enough that a write takes a while and passes any small file size limit.
QByteArray version(const char* tag, int number)
{
    return QByteArray(tag).append('-').append(QByteArray::number(number)).append('\n').repeated(40000);
}

#ifdef Q_OS_UNIX
// Exits 0 when the write succeeded, 1 when it was refused, 3 when the child could not be set up.
int runChild(const QString& mode)
{
    // A disk that fills up: writes past 4 KiB fail (the kernel's signal for it would kill the writer).
    if (mode.contains(QLatin1String("full"))) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
    }
    // Root would pass the folder's mode; "nobody" does not.
    if (mode.startsWith(QLatin1String("inplace")) && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 3;
    const QByteArray document = mode.endsWith(QLatin1String("short")) ? QByteArray("short\n") : version("newer", 1);
    return ConfigManager::instance()->writeConfigFile(document) ? 0 : 1;
}

#endif

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> appData;
    QString configFile() const
    {
        return appData->filePath(QStringLiteral("Quelvane SAS/Quelvane Monitor/config.json"));
    }
    std::unique_ptr<QProcess> startChild(const QString& mode)
    {
        auto child = std::make_unique<QProcess>();
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
        return child;
    }

private slots:
    void init()
    {
        appData = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", QFile::encodeName(appData->path()));
    }

    void cleanup()
    {
        for (const auto& server : QList<std::shared_ptr<Server>>(ServerManager::instance()->serverList()))
            ServerManager::instance()->removeServer(server);
        for (const auto& action : QList<std::shared_ptr<ExtAction>>(ExtActionManager::instance()->actionList()))
            ExtActionManager::instance()->removeAction(action);
    }

    // NAME.in is put in place (none: no file), loaded and saved again; NAME.out is the exact result.
    void rewrite_data() { caseFiles("config", "*.out"); }

    void rewrite()
    {
        QFETCH(QString, file);
        const QString base = file.chopped(4);
        QVERIFY(QDir().mkpath(QFileInfo(configFile()).path()));
        QVERIFY(!QFile::exists(base + ".in") || QFile::copy(base + ".in", configFile()));
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
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(appData->filePath(QStringLiteral("xdg"))));
        const QString file = appData->filePath(QStringLiteral("xdg/Quelvane SAS/Quelvane Monitor/config.json"));
        for (bool empty : {false, true}) {
            empty ? qputenv("APPDATA", QByteArray()) : qunsetenv("APPDATA");
            QFile::remove(file);
            ConfigManager::instance()->save();
            QVERIFY(QFile::exists(file));
        }
        qunsetenv("XDG_CONFIG_HOME");
    }

#ifdef Q_OS_UNIX
    // A disk that fills up midway: the failure is reported, the old file stays whole, nothing is left beside it.
    void fullDisk()
    {
        QVERIFY(ConfigManager::instance()->writeConfigFile(version("old", 7)));
        auto child = startChild(QStringLiteral("full"));
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(child->exitCode(), 1);
        QCOMPARE(readFile(configFile()), version("old", 7));
        QCOMPARE(QFileInfo(configFile()).dir().entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});
    }

    void folderNotWritable()
    {
        QVERIFY(ConfigManager::instance()->writeConfigFile(version("old", 1)));
        const QString dir = QFileInfo(configFile()).path();
        const auto open =
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
        if (geteuid() == 0) {
            // The folders stay root's; the file becomes the child's.
            for (QString path = dir; path.startsWith(appData->path()); path = QFileInfo(path).path())
                QVERIFY(QFile::setPermissions(path, open | QFileDevice::WriteOwner));
            QCOMPARE(::chown(QFile::encodeName(configFile()).constData(), 65534, 65534), 0);
        } else {
            QVERIFY(QFile::setPermissions(dir, open));
        }
        // Written in place, the one way left: a disk that fills up midway leaves the old file whole, and a
        // shorter document leaves nothing of the longer one behind it.
        const QList<QPair<QString, QByteArray>> writes{
            {"inplace-full", version("old", 1)}, {"inplace", version("newer", 1)}, {"inplace-short", "short\n"}};
        for (const auto& write : writes) {
            auto child = startChild(write.first);
            QVERIFY(child->waitForFinished(60000));
            QCOMPARE(child->exitCode(), write.first == "inplace-full" ? 1 : 0);
            QCOMPARE(readFile(configFile()), write.second);
        }
        QFile::setPermissions(dir, open | QFileDevice::WriteOwner);
        QCOMPARE(QFile::permissions(configFile()) & 0x0077, QFileDevice::Permissions());
    }
#endif
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
#ifdef Q_OS_UNIX
    if (argc > 2 && qstrcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLatin1(argv[2]));
#endif
    TestConfig test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestConfig.moc"
