// Faults around the configuration file that only another process can produce: a full disk that
// kills or refuses the writer, a writer killed mid-save, two copies of the program saving at once, and a
// writer that may write the file but not its folder.
// The test executable is its own child: "--child MODE ..." runs one of the writers below.
#include "app/config/ConfigManager.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <memory>

namespace {

constexpr int serversPerVersion = 200;

// The servers of one version of the list: every password names the writer and the version, and
// is long enough that a save takes a while.
QList<QStringList> versionServers(const QString& tag, int version)
{
    QList<QStringList> servers;
    const QString password = QStringLiteral("%1-%2-").arg(tag).arg(version) + QString(1000, QLatin1Char('p'));
    for (int i = 0; i < serversPerVersion; ++i)
        servers.append(
            {QStringLiteral("Server %1").arg(i), QStringLiteral("127.0.0.1"), QStringLiteral("admin"), password});
    return servers;
}

// The file a save of that version writes, built independently of the code under test.
QByteArray versionFile(const QString& tag, int version)
{
    QJsonArray servers;
    for (const QStringList& s : versionServers(tag, version))
        servers.append(QJsonObject{
            {"name", s.at(0)}, {"host", s.at(1)}, {"port", 8080}, {"login", s.at(2)}, {"password", s.at(3)}});
    return QJsonDocument(QJsonObject{{"version", "1.0.0"}, {"servers", servers}, {"extActions", QJsonArray()}})
        .toJson();
}

void applyVersion(const QString& tag, int version)
{
    ServerManager* manager = ServerManager::instance();
    const auto old = manager->serverList();
    for (const auto& server : old)
        manager->removeServer(server);
    for (const QStringList& s : versionServers(tag, version))
        manager->addServer(s.at(0), s.at(1), 8080, s.at(2), s.at(3));
}

// Saves version after version; prints each one once it is on disk.
int childSaveLoop(const QString& tag, int count)
{
    for (int version = 0; count <= 0 || version < count; ++version) {
        applyVersion(tag, version);
        ConfigManager::instance()->save();
        std::printf("saved %d\n", version);
        std::fflush(stdout);
    }
    return 0;
}

// Saves once under a file size limit far below the file's size, as on a full disk.
int childSaveUnderLimit(bool ignoreSignal)
{
#ifdef Q_OS_UNIX
    if (ignoreSignal)
        std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 3;
    applyVersion(QStringLiteral("full"), 1);
    return ConfigManager::instance()->writeConfigFile(versionFile(QStringLiteral("full"), 1)) ? 1 : 0;
#else
    Q_UNUSED(ignoreSignal)
    return 3;
#endif
}

// Saves as a user who may write config.json but not its folder; root becomes "nobody" for it.
int childSaveInPlace(const QString& tag)
{
#ifdef Q_OS_UNIX
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 3;
    applyVersion(tag, 1);
    return ConfigManager::instance()->writeConfigFile(versionFile(tag, 1)) ? 0 : 1;
#else
    Q_UNUSED(tag)
    return 3;
#endif
}

int runChild(const QStringList& args)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    const QString mode = args.value(0);
    if (mode == QLatin1String("loop"))
        return childSaveLoop(args.value(1), args.value(2).toInt());
    if (mode == QLatin1String("full"))
        return childSaveUnderLimit(args.value(1) == QLatin1String("ignore"));
    if (mode == QLatin1String("inplace"))
        return childSaveInPlace(args.value(1));
    return 2;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestConfigFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fullDisk_data();
    void fullDisk();
    void killedWhileSaving();
    void twoInstancesSaving();
    void folderNotWritable();

private:
    std::unique_ptr<QProcess> startChild(const QStringList& args);
    QString configFile() const;
    // Which complete version the file holds, or an empty tag when it holds none.
    QPair<QString, int> versionOf(const QByteArray& data) const;

    std::unique_ptr<QTemporaryDir> appData;
};

void TestConfigFaults::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
}

void TestConfigFaults::init()
{
    appData = std::make_unique<QTemporaryDir>();
    QVERIFY(appData->isValid());
    qputenv("APPDATA", QFile::encodeName(appData->path()));
}

void TestConfigFaults::cleanup()
{
    appData.reset();
}

std::unique_ptr<QProcess> TestConfigFaults::startChild(const QStringList& args)
{
    auto child = std::make_unique<QProcess>();
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    return child;
}

QString TestConfigFaults::configFile() const
{
    return ConfigManager::instance()->configDir().absoluteFilePath(QStringLiteral("config.json"));
}

QPair<QString, int> TestConfigFaults::versionOf(const QByteArray& data) const
{
    const QJsonObject root = QJsonDocument::fromJson(data).object();
    const QString password =
        root.value(QStringLiteral("servers")).toArray().at(0).toObject().value(QStringLiteral("password")).toString();
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^(\\w+)-(\\d+)-")).match(password);
    if (!match.hasMatch())
        return {};
    const QString tag = match.captured(1);
    const int version = match.captured(2).toInt();
    return data == versionFile(tag, version) ? qMakePair(tag, version) : QPair<QString, int>();
}

void TestConfigFaults::fullDisk_data()
{
    QTest::addColumn<bool>("ignoreSignal");
    // By default the kernel kills a process that writes past the limit, in the middle of the write.
    QTest::newRow("writer killed by SIGXFSZ") << false;
    QTest::newRow("write refused") << true;
}

void TestConfigFaults::fullDisk()
{
#ifndef Q_OS_UNIX
    QSKIP("The full disk is produced with a POSIX file size limit");
#else
    QFETCH(bool, ignoreSignal);
    const QByteArray old = versionFile(QStringLiteral("old"), 7);
    QVERIFY(ConfigManager::instance()->writeConfigFile(old));

    auto child = startChild({QStringLiteral("full"), ignoreSignal ? QStringLiteral("ignore") : QString()});
    QVERIFY(child->waitForFinished(60000));
    if (ignoreSignal) {
        QCOMPARE(child->exitStatus(), QProcess::NormalExit);
        QCOMPARE(child->exitCode(), 0);
    } else {
        QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    }
    QCOMPARE(readFile(configFile()), old);
    const QStringList left = ConfigManager::instance()->configDir().entryList(QDir::Files | QDir::Hidden);
    if (ignoreSignal)
        QCOMPARE(left, QStringList{QStringLiteral("config.json")});
#endif
}

void TestConfigFaults::killedWhileSaving()
{
    QList<int> killedAfter;
    for (int round = 0; round < 8; ++round) {
        auto child = startChild({QStringLiteral("loop"), QStringLiteral("crash"), QStringLiteral("0")});
        QVERIFY(child->waitForStarted(10000));
        // Once one complete version is on disk, kill at a random moment of the saves that follow.
        QTRY_VERIFY_WITH_TIMEOUT(child->canReadLine(), 30000);
        QTest::qWait(int(QRandomGenerator::global()->bounded(20, 400)));
        child->kill();
        QVERIFY(child->waitForFinished(30000));
        const QList<QByteArray> lines = child->readAllStandardOutput().trimmed().split('\n');
        killedAfter.append(lines.size());

        const QByteArray data = readFile(configFile());
        const QPair<QString, int> version = versionOf(data);
        QVERIFY2(version.first == QLatin1String("crash"),
                 qPrintable(QStringLiteral("round %1: %2 bytes, not a complete version").arg(round).arg(data.size())));
        // The file holds the last version reported saved, or the one being saved when the kill came.
        const int lastSaved = lines.last().split(' ').value(1).toInt();
        QVERIFY2(version.second == lastSaved || version.second == lastSaved + 1,
                 qPrintable(QStringLiteral("version %1, last saved %2").arg(version.second).arg(lastSaved)));
    }
    QStringList counts;
    for (int n : killedAfter)
        counts << QString::number(n);
    qInfo("saves completed before each kill: %s", qPrintable(counts.join(QLatin1Char(' '))));
}

void TestConfigFaults::twoInstancesSaving()
{
    constexpr int saves = 60;
    auto first = startChild({QStringLiteral("loop"), QStringLiteral("first"), QString::number(saves)});
    auto second = startChild({QStringLiteral("loop"), QStringLiteral("second"), QString::number(saves)});
    QVERIFY(first->waitForFinished(120000));
    QVERIFY(second->waitForFinished(120000));
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->readAllStandardOutput().count('\n'), saves);
    QCOMPARE(second->readAllStandardOutput().count('\n'), saves);

    // The last rename wins: one writer's last version, whole.
    const QPair<QString, int> version = versionOf(readFile(configFile()));
    QVERIFY2(version.first == QLatin1String("first") || version.first == QLatin1String("second"),
             "config.json is not a complete version");
    QCOMPARE(version.second, saves - 1);
}

void TestConfigFaults::folderNotWritable()
{
#ifndef Q_OS_UNIX
    QSKIP("Produced with POSIX owners and modes");
#else
    QVERIFY(ConfigManager::instance()->writeConfigFile(versionFile(QStringLiteral("old"), 1)));
    const QString dir = ConfigManager::instance()->configDir().path();
    const auto open = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
    if (geteuid() == 0) {
        // The folders stay root's; the file becomes the child's.
        for (QString path = dir; path.startsWith(appData->path()); path = QFileInfo(path).path())
            QVERIFY(QFile::setPermissions(path, open | QFileDevice::WriteOwner));
        QCOMPARE(::chown(QFile::encodeName(configFile()).constData(), 65534, 65534), 0);
    } else {
        QVERIFY(QFile::setPermissions(dir, open));
    }
    auto child = startChild({QStringLiteral("inplace"), QStringLiteral("new")});
    QVERIFY(child->waitForFinished(60000));
    QFile::setPermissions(dir, open | QFileDevice::WriteOwner);
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(readFile(configFile()), versionFile(QStringLiteral("new"), 1));
    QCOMPARE(QFile::permissions(configFile()) & 0x0077, QFileDevice::Permissions());
#endif
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        return runChild(app.arguments().mid(2));
    }
    QCoreApplication app(argc, argv);
    TestConfigFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestConfigFaults.moc"
