// A fleet of simulated recorders against the real server manager and both tab pages.
//
// Without --case the program is the driver: it runs every case in a fresh process of its own (so
// peak RSS and the bcrypt cache belong to one case) and prints the tables. With --case it is one
// case: it starts quelvane-recorder-sim as a separate process, so all CPU time of this process is
// the monitor's, and prints one RESULT line of JSON.

#include "app/config/ConfigManager.h"
#include "app/config/Keyring.h"
#include "history/AlarmHistory.h"
#include "monitor/BcryptCache.h"
#include "monitor/ServerManager.h"
#include "notify/SysTray.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoWidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <crypt.h>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <psapi.h>
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

// One measured configuration.
struct Case
{
    int servers = 10;
    int cost = 4;
    bool baseline = false; // MonitorSettings::cacheBcrypt off
    bool x11 = false;      // the xcb platform on the X server in DISPLAY instead of offscreen
    bool tray = false;     // a SysTray fed by the Alarms page, as the main window does
    int rounds = 3;
    int pollMs = 2000;
    int traceStallsMs = 0; // print every gap longer than this to stderr
    bool hidden = false;   // the window is never shown, as when the program lives in the tray
    // The file of hashes: none, written by this case from nothing, or read as a previous case left it.
    enum Store
    {
        NoStore,
        ColdStore,
        WarmStore,
        // Warm again, the passwords and hashes read from the desktop's keyring instead.
        KeyringStore
    } store = NoStore;
    // A site-wide outage: every server in alarm at once, a burst of events for the history.
    bool allInAlarm = false;
    bool history = false; // the alarm history kept in a file of the case's own

    QString mode() const
    {
        if (baseline)
            return QStringLiteral("baseline (no cache)");
        if (store == KeyringStore)
            return QStringLiteral("warm start, keyring");
        if (store != NoStore)
            return store == ColdStore ? QStringLiteral("cold start, hashes kept") : QStringLiteral("warm start");
        if (allInAlarm)
            return history ? QStringLiteral("all in alarm, history") : QStringLiteral("all in alarm");
        const QString where = tray ? QStringLiteral("X11 + tray")
                                   : (x11 ? QStringLiteral("X11, no tray") : QStringLiteral("cache + worker"));
        return hidden ? where + QStringLiteral(", hidden") : where;
    }

    QStringList arguments() const
    {
        QStringList args{QStringLiteral("--case"), QStringLiteral("--servers"), QString::number(servers),
                         QStringLiteral("--cost"), QString::number(cost),       QStringLiteral("--rounds"),
                         QString::number(rounds),  QStringLiteral("--poll-ms"), QString::number(pollMs)};
        if (baseline)
            args << QStringLiteral("--baseline");
        if (x11)
            args << QStringLiteral("--x11");
        if (tray)
            args << QStringLiteral("--tray");
        if (hidden)
            args << QStringLiteral("--hidden");
        if (allInAlarm)
            args << QStringLiteral("--all-in-alarm");
        if (history)
            args << QStringLiteral("--history");
        if (store == KeyringStore)
            args << QStringLiteral("--keyring");
        else if (store != NoStore)
            args << (store == WarmStore ? QStringLiteral("--warm") : QStringLiteral("--store"));
        return args;
    }
};

double seconds(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e9;
}

#ifdef Q_OS_WIN
double fileTimeSeconds(const FILETIME& time)
{
    return double((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}
#endif

double processCpuSeconds()
{
#ifdef Q_OS_WIN
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
#else
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

// CPU time of the calling thread.
double threadCpuSeconds()
{
#ifdef Q_OS_WIN
    FILETIME creation, exit, kernel, user;
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

struct Memory
{
    double peakMiB = 0;
    double currentMiB = 0;
};

Memory memory()
{
    Memory result;
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        result.peakMiB = double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
        result.currentMiB = double(counters.WorkingSetSize) / (1024.0 * 1024.0);
    }
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields.first() == "VmHWM:")
            result.peakMiB = fields.at(1).toDouble() / 1024.0;
        else if (fields.first() == "VmRSS:")
            result.currentMiB = fields.at(1).toDouble() / 1024.0;
    }
#endif
    return result;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("n/a");
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

constexpr int probeCalibrationMs = 1000;
// Rounds of the stack's floor, each time it is measured: it takes a second or two at 500 servers.
constexpr int floorRounds = 6;
// Periods of the floor at the monitor's poll times: 20 s at 500 servers.
constexpr int scheduleRounds = 2;

// A bcrypt setting string of the given cost; the seed makes every recorder's salt its own and the run repeatable.
QString bcryptSetting(int cost, quint32 seed)
{
    QRandomGenerator generator(seed);
    char random[16];
    for (char& byte : random)
        byte = char(generator.bounded(256));
    char output[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$2b$", cost, random, int(sizeof(random)), output, int(sizeof(output))))
        return QString();
    return QString::fromLatin1(output);
}

QString login(int index)
{
    return QStringLiteral("site-%1").arg(index, 3, 10, QLatin1Char('0'));
}

QString password(int index)
{
    return QStringLiteral("pw-%1-%2").arg(index).arg(QRandomGenerator(quint32(index)).generate(), 0, 16);
}

// Every odd recorder is in alarm, or every one: one camera line and one hardware line.
QJsonObject recorder(int index, int cost, bool allInAlarm)
{
    QJsonObject entry{{QStringLiteral("login"), login(index)},
                      {QStringLiteral("password"), password(index)},
                      {QStringLiteral("salt"), bcryptSetting(cost, quint32(1000 + index))},
                      {QStringLiteral("dateSkewSeconds"), 0}};
    if (allInAlarm || index % 2 == 1) {
        const QJsonObject camera{{QStringLiteral("name"), QStringLiteral("Camera %1").arg(index)},
                                 {QStringLiteral("streamName"), QStringLiteral("main")},
                                 {QStringLiteral("error"), QStringLiteral("no signal")}};
        const QJsonObject report{{QStringLiteral("health"), QJsonObject{{QStringLiteral("recorder"), true},
                                                                        {QStringLiteral("cameras"), false},
                                                                        {QStringLiteral("hardware"), false}}},
                                 {QStringLiteral("errorDetails"),
                                  QJsonObject{{QStringLiteral("cameras"), QJsonArray{camera}},
                                              {QStringLiteral("hardware"),
                                               QJsonObject{{QStringLiteral("arecaErrors"),
                                                            QJsonArray{QStringLiteral("Volume 1 degraded")}}}}}}};
        entry.insert(QStringLiteral("endpoints"),
                     QJsonObject{{QStringLiteral("health"), QJsonObject{{QStringLiteral("json"), report}}}});
    }
    return entry;
}

// Starts the simulator with one recorder per server and returns the port it listens on, 0 on failure.
// The simulator hashes every password before it listens (taking the hashes of earlier cases from hashCache),
// so that no hashing of its own runs while the monitor is measured.
quint16 startSimulator(QProcess* simulator, const QString& program, const QString& scenarioPath,
                       const QString& hashCache, int servers, int cost, bool allInAlarm)
{
    QJsonArray recorders;
    for (int i = 0; i < servers; ++i)
        recorders.append(recorder(i, cost, allInAlarm));
    QFile scenario(scenarioPath);
    if (!scenario.open(QIODevice::WriteOnly))
        return 0;
    scenario.write(QJsonDocument(QJsonObject{{QStringLiteral("recorders"), recorders}}).toJson());
    scenario.close();

    simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--until-stdin-closes"), QStringLiteral("--hash-first")};
    if (!hashCache.isEmpty())
        arguments << QStringLiteral("--hash-cache") << hashCache;
    simulator->start(program, arguments << scenarioPath);
    if (!simulator->waitForStarted(10000))
        return 0;
    const QByteArray prefix = "listening on 127.0.0.1:";
    QByteArray output;
    while (!output.contains('\n')) {
        // 500 hashes at cost 12 take about a minute on two cores.
        if (!simulator->waitForReadyRead(15 * 60 * 1000))
            return 0;
        output += simulator->readAllStandardOutput();
    }
    const int at = output.indexOf(prefix);
    return at < 0 ? 0 : quint16(output.mid(at + prefix.size()).trimmed().toUInt());
}

// A server record kept outside the monitor's list, and its bcrypt hash: the monitor's own header code then
// makes the requests of the stack's floor.
struct Credentials
{
    std::shared_ptr<Server> server;
    QByteArray hash;
};

struct StackFloor
{
    double cpuPerRequestS = 0;
    QList<double> roundsPerRequestS; // each counted round alone
    double guiCpuPerRequestS = 0;
    int failures = 0;
};

// The bare client of the floors: the monitor's health GET with the same headers to the same simulator, the
// body read to its end, nothing parsed and nothing shown.
class FloorClient
{
public:
    explicit FloorClient(quint16 port)
        : language(QLocale::system().name().split(QLatin1Char('_'), Qt::KeepEmptyParts).first().toLatin1())
    {
        url.setScheme(QStringLiteral("http"));
        url.setHost(QStringLiteral("127.0.0.1"));
        url.setPort(port);
        url.setPath(QStringLiteral("/api/v1.1/health"));
    }

    // done(failed) runs once the reply has finished.
    void get(const Credentials& user, QObject* context, std::function<void(bool)> done)
    {
        QNetworkRequest request(url);
        ServerManager::instance()->_addWsseHeaders(request, *user.server, user.hash);
        request.setRawHeader("Accept-Language", language);
        QNetworkReply* reply = network.get(request);
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->readAll(); });
        QObject::connect(reply, &QNetworkReply::finished, context, [reply, done = std::move(done)] {
            reply->readAll();
            reply->deleteLater();
            done(reply->error() != QNetworkReply::NoError);
        });
    }

private:
    QNetworkAccessManager network;
    const QByteArray language;
    QUrl url;
};

// What the polls cost with nothing but Qt's network stack, the cheapest way it does them: each round sends
// one request per server at once; the first round opens the connections and is not counted. Servers take
// turns among the credentials given, so that the bodies are the fleet's.
StackFloor measureStackFloor(quint16 port, const QList<Credentials>& credentials, int servers, int rounds)
{
    FloorClient client(port);
    StackFloor floor;
    double cpu = 0;
    double guiCpu = 0;
    for (int round = 0; round <= rounds; ++round) {
        const double cpu0 = processCpuSeconds();
        const double guiCpu0 = threadCpuSeconds();
        QEventLoop loop;
        int pending = servers;
        for (int i = 0; i < servers; ++i) {
            client.get(credentials.at(i % credentials.size()), &loop, [&](bool failed) {
                floor.failures += failed;
                if (--pending == 0)
                    loop.quit();
            });
        }
        loop.exec();
        if (round > 0) {
            const double roundCpu = processCpuSeconds() - cpu0;
            floor.roundsPerRequestS << roundCpu / servers;
            cpu += roundCpu;
            guiCpu += threadCpuSeconds() - guiCpu0;
        }
    }
    floor.cpuPerRequestS = cpu / (double(servers) * rounds);
    floor.guiCpuPerRequestS = guiCpu / (double(servers) * rounds);
    return floor;
}

// The same requests at the monitor's own times: each server's request goes out when its poll timer would
// have fired, then once a period, for the given rounds. The timers are of the monitor's kind, so that Qt
// gathers their firings into the same bursts. Its CPU runs from the start to the last reply, the idle
// waits between bursts included, as in the monitor's steady rounds.
StackFloor measureScheduleFloor(quint16 port, const QList<Credentials>& credentials, const QList<int>& dueInMs,
                                int periodMs, int rounds)
{
    FloorClient client(port);
    StackFloor floor;
    QEventLoop loop;
    const int servers = int(dueInMs.size());
    int pending = servers * rounds;
    std::vector<std::unique_ptr<QTimer>> timers;
    const double cpu0 = processCpuSeconds();
    const double guiCpu0 = threadCpuSeconds();
    for (int i = 0; i < servers; ++i) {
        timers.push_back(std::make_unique<QTimer>());
        QTimer* timer = timers.back().get();
        int left = rounds;
        QObject::connect(timer, &QTimer::timeout, &loop, [&, timer, i, left]() mutable {
            if (--left == 0)
                timer->stop();
            else
                timer->start(periodMs);
            client.get(credentials.at(i % credentials.size()), &loop, [&](bool failed) {
                floor.failures += failed;
                if (--pending == 0)
                    loop.quit();
            });
        });
        timer->start(dueInMs.at(i));
    }
    if (pending > 0)
        loop.exec();
    floor.cpuPerRequestS = (processCpuSeconds() - cpu0) / (double(servers) * rounds);
    floor.guiCpuPerRequestS = (threadCpuSeconds() - guiCpu0) / (double(servers) * rounds);
    return floor;
}

// Writes every server's secret as the configuration does, with the hash the file of a cold case holds.
bool fillKeyring(const QString& hashStore, const Case& config, quint16 port)
{
    QHash<QString, QString> stored;
    QFile file(hashStore);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll())[QStringLiteral("entries")].toArray())
        stored.insert(entry[QStringLiteral("key")].toString(), entry[QStringLiteral("hash")].toString());
    int pending = config.servers;
    bool failed = false;
    QEventLoop loop;
    for (int i = 0; i < config.servers; ++i) {
        const QByteArray setting = bcryptSetting(config.cost, quint32(1000 + i)).toUtf8();
        const QString hash = stored.value(QString::fromLatin1(BcryptCache::storeKey(password(i).toUtf8(), setting)));
        const Server server(login(i), QStringLiteral("127.0.0.1"), port, login(i), password(i));
        const QJsonObject secret{{QStringLiteral("password"), password(i)}, {QStringLiteral("hash"), hash}};
        Keyring::instance()->write(server.account(),
                                   QString::fromUtf8(QJsonDocument(secret).toJson(QJsonDocument::Compact)),
                                   [&](const QString& error) {
                                       failed = failed || !error.isEmpty() || hash.isEmpty();
                                       if (--pending == 0)
                                           loop.quit();
                                   });
    }
    loop.exec();
    if (failed)
        std::fprintf(stderr, "quelvane-fleet-bench: the keyring did not take every secret with its hash\n");
    return !failed;
}

// One case in this process. Phases: setup (the pages and the servers are created), start-up (until
// every server row has its category rows), warm-up (one more round), steady (the measured rounds).
int runCase(const Case& config, const QString& simulatorProgram, const QString& hashCache, const QString& hashStore)
{
    QTemporaryDir workDir;
    QProcess simulator;
    const quint16 port = startSimulator(&simulator, simulatorProgram, workDir.filePath(QStringLiteral("scenario.json")),
                                        hashCache, config.servers, config.cost, config.allInAlarm);
    if (port == 0) {
        std::fprintf(stderr, "quelvane-fleet-bench: the simulator did not start\n");
        return 1;
    }

    // The floors, measured on the spot before the monitor starts: one hash at the case's cost (one server in
    // order and one in alarm, whose hashes the stack's floor then uses), and the bare stack's polls, measured
    // again once the monitor has stopped polling, since this machine's speed drifts within minutes.
    QList<Credentials> credentials;
    double hashSeconds = 0;
    for (int i = 0; i < std::min(2, config.servers); ++i) {
        QElapsedTimer hashClock;
        hashClock.start();
        const QByteArray hash =
            BcryptCache::compute(password(i).toUtf8(), bcryptSetting(config.cost, quint32(1000 + i)).toUtf8());
        hashSeconds += seconds(hashClock.nsecsElapsed());
        credentials.append(
            {std::make_shared<Server>(login(i), QStringLiteral("127.0.0.1"), port, login(i), password(i)), hash});
    }
    hashSeconds /= credentials.size();
    const StackFloor floorBefore = measureStackFloor(port, credentials, config.servers, floorRounds);

    MonitorSettings settings;
    settings.pollInterval = config.pollMs;
    settings.cacheBcrypt = !config.baseline;
    // Without the cache the GUI thread hashes for seconds at a time, longer than the requests' time limit
    // (at 100 servers 42 of them never got their first alarms); the baseline runs without the limit.
    if (config.baseline)
        settings.requestTimeout = 0;
    ServerManager* manager = ServerManager::instance();
    manager->setSettings(settings);
    if (config.store == Case::KeyringStore) {
        // The keyring as a warm start finds it: each server's password and the hash the cold case made.
        if (!fillKeyring(hashStore, config, port))
            return 1;
        // Its password source is the configuration's.
        ConfigManager::instance();
        manager->keepHashStore(false);
    } else if (config.store != Case::NoStore) {
        if (config.store == Case::ColdStore)
            QFile::remove(hashStore);
        manager->setHashStore(hashStore);
    }
    const int hashThreads = settings.hashWorkers > 0 ? settings.hashWorkers : QThread::idealThreadCount();
    const double bcryptFloorS = hashSeconds * config.servers / hashThreads;

    enum Phase
    {
        Setup,
        StartUp,
        WarmUp,
        Steady,
        StallRound,
        Done
    };
    static const char* const phaseNames[] = {"setup", "start-up", "warm-up", "steady", "steady", "done"};
    Phase phase = Setup;
    std::vector<bool> shown(size_t(config.servers), false);
    int shownCount = 0;
    // Servers whose Information row has its licence: the one-off requests after authentication are over.
    std::vector<bool> informed(size_t(config.servers), false);
    int informedCount = 0;
    int infoErrors = 0;

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    // A gap belongs to the phase its last tick was in: the set-up block is a gap that ends in start-up.
    Phase tickPhase = Setup;
    qint64 longestGap[Done + 1] = {};
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap[tickPhase] = std::max(longestGap[tickPhase], now - lastTick);
        if (config.traceStallsMs > 0 && now - lastTick > qint64(config.traceStallsMs) * 1000000)
            std::fprintf(stderr, "stall %.1f ms at %.3f s, %s, %d rows shown\n", double(now - lastTick) / 1e6,
                         seconds(lastTick), phaseNames[tickPhase], shownCount);
        lastTick = now;
        tickPhase = phase;
    });
    if (config.store == Case::NoStore)
        probe.start();
    // The probe costs CPU of its own (a thousand wake-ups a second, about 25 ms of CPU a second here), as
    // much as 50 servers: it is paused while the CPU of the steady rounds is measured, and measures the
    // stalls of one more round after them.
    const double idleCpu0 = processCpuSeconds();
    double probeCpuRate = 0;

    QTabWidget window;
    ServerAlarmsWidget* alarms = nullptr;
    QStandardItemModel* alarmsModel = nullptr;
    SysTray* tray = nullptr;
    qint64 replies = 0;
    qint64 errorReplies = 0;
    qint64 errorStateEmissions = 0;
    qint64 phaseTarget = 0;
    qint64 steadyReplies0 = 0;
    qint64 steadyEmissions0 = 0;
    double firstAlarmsSeconds = 0;
    // The start-up's whole cost: the process CPU of the first minute after the servers are added.
    double firstMinuteCpu = -1;
    double startUpCpu = 0;
    double steadyCpu0 = 0;
    double steadyThread0 = 0;
    double steadyCpu = 0;
    double steadyThread = 0;
    double steadySeconds = 0;
    bool steadyDone = false;
    double steadyRounds = 0;
    qint64 steadyEmissions = 0;
    qint64 setUpStart = 0;
    double setUpCpu0 = 0;
    qint64 steadyStart = 0;
    Memory before;
    QEventLoop loop;

    auto finish = [&] {
        phase = Done;
        probe.stop();
        if (config.store == Case::NoStore || firstMinuteCpu >= 0)
            loop.quit();
    };

    auto onAlarmsUpdated = [&](int index) {
        const std::shared_ptr<Server>& server = manager->serverList().at(index);
        if (phase == StartUp) {
            QStandardItem* row = alarmsModel->item(index);
            if (!shown[size_t(index)] && row && row->rowCount() == 3) {
                shown[size_t(index)] = true;
                if (++shownCount == config.servers) {
                    firstAlarmsSeconds = seconds(clock.nsecsElapsed() - setUpStart);
                    startUpCpu = processCpuSeconds() - setUpCpu0;
                    phase = WarmUp;
                    phaseTarget = replies + config.servers;
                }
            }
            return;
        }
        ++replies;
        if (!server->alarmsError.isEmpty())
            ++errorReplies;
        if (phase == WarmUp && replies >= phaseTarget && informedCount == config.servers) {
            phase = Steady;
            steadyCpu0 = processCpuSeconds();
            steadyThread0 = threadCpuSeconds();
            steadyReplies0 = replies;
            steadyEmissions0 = errorStateEmissions;
            steadyStart = clock.nsecsElapsed();
            probe.stop();
            phaseTarget = replies + qint64(config.rounds) * config.servers;
        } else if (phase == Steady && replies >= phaseTarget) {
            steadySeconds = seconds(clock.nsecsElapsed() - steadyStart);
            steadyCpu = processCpuSeconds() - steadyCpu0;
            steadyThread = threadCpuSeconds() - steadyThread0;
            steadyRounds = double(replies - steadyReplies0) / config.servers;
            steadyEmissions = errorStateEmissions - steadyEmissions0;
            steadyDone = true;
            phase = StallRound;
            phaseTarget = replies + config.servers;
            lastTick = clock.nsecsElapsed();
            tickPhase = StallRound;
            if (config.store == Case::NoStore)
                probe.start();
        } else if (phase == StallRound && replies >= phaseTarget) {
            finish();
        }
    };

    // Created from the event loop, so the probe sees the synchronous set-up as a stall too, as at start-up.
    QTimer::singleShot(probeCalibrationMs, &window, [&] {
        probeCpuRate = (processCpuSeconds() - idleCpu0) / seconds(clock.nsecsElapsed());
        setUpStart = clock.nsecsElapsed();
        setUpCpu0 = processCpuSeconds();
        if (config.store != Case::NoStore) {
            QTimer::singleShot(60000, &window, [&] {
                firstMinuteCpu = processCpuSeconds() - setUpCpu0;
                if (phase == Done)
                    loop.quit();
            });
        }
        alarms = new ServerAlarmsWidget(&window);
        alarmsModel = qobject_cast<QStandardItemModel*>(alarms->findChild<QTreeView*>()->model());
        window.addTab(alarms, QStringLiteral("Alarms"));
        window.addTab(new ServerInfoWidget(&window), QStringLiteral("Information"));
        window.setTabPosition(QTabWidget::South);
        window.resize(480, 640);
        if (!config.hidden)
            window.show();
        QObject::connect(alarms, &ServerAlarmsWidget::errorStateChanged, &window, [&] { ++errorStateEmissions; });
        if (config.tray) {
            tray = new SysTray(&window);
            QObject::connect(alarms, &ServerAlarmsWidget::errorStateChanged, tray, &SysTray::setError);
        }
        if (config.history) {
            auto* history = new AlarmHistory(&window);
            history->open(workDir.filePath(QStringLiteral("history.sqlite")));
            history->follow(manager);
        }
        before = memory();
        for (int i = 0; i < config.servers; ++i) {
            const bool inKeyring = config.store == Case::KeyringStore;
            const auto server = manager->addServer(QStringLiteral("Site %1").arg(i), QStringLiteral("127.0.0.1"), port,
                                                   login(i), inKeyring ? QString() : password(i));
            server->passwordElsewhere = inKeyring;
            QObject::connect(server.get(), &Server::alarmsUpdated, &window,
                             [&onAlarmsUpdated, i] { onAlarmsUpdated(i); });
            QObject::connect(server.get(), &Server::infoUpdated, &window, [&, i] {
                const std::shared_ptr<Server>& s = manager->serverList().at(i);
                // Answered or failed: the Information requests are made once per authentication.
                if (!informed[size_t(i)] && s->initialized && (!s->license.isEmpty() || !s->infoError.isEmpty())) {
                    informed[size_t(i)] = true;
                    ++informedCount;
                    if (!s->infoError.isEmpty())
                        ++infoErrors;
                }
            });
        }
        phase = StartUp;
    });
    // A case that never gets there still reports what it has.
    QTimer::singleShot(600 * 1000, &window, finish);
    loop.exec();

    const Memory after = memory();
    const double rounds = steadyRounds;
    const bool complete = steadyDone;
    // Where each server stood in its period, for the floor at the monitor's own poll times.
    QList<int> dueInMs;
    QElapsedTimer stopped;
    stopped.start();
    for (const std::shared_ptr<Server>& server : manager->serverList()) {
        dueInMs << server->alarmsTimer.remainingTime();
        server->alarmsTimer.stop();
    }
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const StackFloor floorAfter = measureStackFloor(port, credentials, config.servers, floorRounds);
    StackFloor scheduleFloor;
    if (!config.baseline && complete) {
        const int late = int(stopped.elapsed());
        for (int& due : dueInMs)
            due = ((due - late) % config.pollMs + config.pollMs) % config.pollMs;
        scheduleFloor = measureScheduleFloor(port, credentials, dueInMs, config.pollMs, scheduleRounds);
    }
    // The median round: a burst of requests all at once costs more or less by how the threads of both
    // processes happen to be scheduled, and a single unlucky round should not move the floor.
    QList<double> floorSamples = floorBefore.roundsPerRequestS + floorAfter.roundsPerRequestS;
    std::sort(floorSamples.begin(), floorSamples.end());
    const double floorPerRequestS =
        (floorSamples.at((floorSamples.size() - 1) / 2) + floorSamples.at(floorSamples.size() / 2)) / 2;
    const auto stallMs = [](qint64 gap) { return std::max(0.0, double(gap) / 1e6 - 1.0); };
    const auto longest = std::max_element(std::begin(longestGap), std::end(longestGap));
    const Phase longestPhase = Phase(longest - std::begin(longestGap));
    const QJsonObject result{
        {QStringLiteral("servers"), config.servers},
        {QStringLiteral("cost"), config.cost},
        {QStringLiteral("mode"), config.mode()},
        {QStringLiteral("baseline"), config.baseline},
        {QStringLiteral("tray"), config.tray},
        {QStringLiteral("hidden"), config.hidden},
        {QStringLiteral("trayAvailable"), config.tray && QSystemTrayIcon::isSystemTrayAvailable()},
        {QStringLiteral("pollMs"), config.pollMs},
        {QStringLiteral("complete"), complete},
        {QStringLiteral("shown"), shownCount},
        {QStringLiteral("firstAlarmsS"), firstAlarmsSeconds},
        {QStringLiteral("hashMs"), 1000.0 * hashSeconds},
        {QStringLiteral("hashThreads"), hashThreads},
        {QStringLiteral("bcryptFloorS"), bcryptFloorS},
        {QStringLiteral("floorPerRequestMs"), 1000.0 * floorPerRequestS},
        {QStringLiteral("floorBeforeMs"), 1000.0 * floorBefore.cpuPerRequestS},
        {QStringLiteral("floorAfterMs"), 1000.0 * floorAfter.cpuPerRequestS},
        {QStringLiteral("floorGuiPerRequestMs"),
         500.0 * (floorBefore.guiCpuPerRequestS + floorAfter.guiCpuPerRequestS)},
        {QStringLiteral("scheduleFloorPerRequestMs"), 1000.0 * scheduleFloor.cpuPerRequestS},
        {QStringLiteral("scheduleFloorGuiPerRequestMs"), 1000.0 * scheduleFloor.guiCpuPerRequestS},
        {QStringLiteral("floorFailures"), floorBefore.failures + floorAfter.failures + scheduleFloor.failures},
        {QStringLiteral("startUpCpuS"), startUpCpu},
        {QStringLiteral("store"), int(config.store)},
        {QStringLiteral("firstMinuteCpuS"), firstMinuteCpu},
        {QStringLiteral("rounds"), rounds},
        {QStringLiteral("steadyS"), steadySeconds},
        {QStringLiteral("cpuPerRoundMs"), complete ? 1000.0 * steadyCpu / rounds : 0.0},
        {QStringLiteral("guiCpuPerRoundMs"), complete ? 1000.0 * steadyThread / rounds : 0.0},
        {QStringLiteral("errorStatePerRound"), complete ? double(steadyEmissions) / rounds : 0.0},
        {QStringLiteral("errorReplies"), errorReplies},
        {QStringLiteral("infoErrors"), infoErrors},
        {QStringLiteral("longestStallMs"), stallMs(*longest)},
        {QStringLiteral("longestStallPhase"), QString::fromLatin1(phaseNames[longestPhase])},
        {QStringLiteral("setUpMs"), stallMs(longestGap[Setup])},
        {QStringLiteral("longestStallAfterSetUpMs"),
         stallMs(std::max({longestGap[StartUp], longestGap[WarmUp], longestGap[StallRound]}))},
        {QStringLiteral("longestSteadyStallMs"), stallMs(std::max(longestGap[WarmUp], longestGap[StallRound]))},
        {QStringLiteral("peakRssMiB"), after.peakMiB},
        {QStringLiteral("rssPerServerKiB"), 1024.0 * (after.currentMiB - before.currentMiB) / config.servers},
        {QStringLiteral("totalCpuS"), processCpuSeconds()},
        {QStringLiteral("probeCpuMsPerS"), 1000.0 * probeCpuRate},
    };
    std::printf("RESULT %s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);

    simulator.closeWriteChannel();
    if (!simulator.waitForFinished(5000))
        simulator.kill();
    return complete ? 0 : 3;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString formatRow(const QJsonObject& r)
{
    const int servers = r.value(QStringLiteral("servers")).toInt();
    const QString cost = QStringLiteral("%1").arg(r.value(QStringLiteral("cost")).toInt(), 2, 10, QLatin1Char('0'));
    if (!r.value(QStringLiteral("complete")).toBool())
        return QStringLiteral("| %1 | %2 | %3 | did not finish (%4 of %1 shown) | | | | | | | | | | | | | |")
            .arg(servers)
            .arg(cost, r.value(QStringLiteral("mode")).toString())
            .arg(r.value(QStringLiteral("shown")).toInt());
    QString mode = r.value(QStringLiteral("mode")).toString();
    if (r.value(QStringLiteral("tray")).toBool() && !r.value(QStringLiteral("trayAvailable")).toBool())
        mode += QStringLiteral(" (no tray found!)");
    if (const int errors = r.value(QStringLiteral("errorReplies")).toInt())
        mode += QStringLiteral(" (%1 failed polls)").arg(errors);
    if (const int errors = r.value(QStringLiteral("infoErrors")).toInt())
        mode += QStringLiteral(" (%1 failed information requests)").arg(errors);
    if (const int errors = r.value(QStringLiteral("floorFailures")).toInt())
        mode += QStringLiteral(" (%1 failed floor requests)").arg(errors);
    const auto value = [&r](const char* key) { return r.value(QLatin1String(key)).toDouble(); };
    const auto field = [&value](const char* key, int decimals) { return number(value(key), decimals); };
    const double perPoll = value("cpuPerRoundMs") / servers;
    const double scheduleFloor = value("scheduleFloorPerRequestMs");
    return QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | ")
               .arg(servers)
               .arg(cost, mode, field("firstAlarmsS", 2), field("bcryptFloorS", 2),
                    number(value("firstAlarmsS") / value("bcryptFloorS"), 2), field("cpuPerRoundMs", 1),
                    number(perPoll, 3)) +
           QStringLiteral("%1 | %2 | %3 | %4 | ")
               .arg(field("floorPerRequestMs", 3), number(perPoll / value("floorPerRequestMs"), 2),
                    scheduleFloor > 0 ? number(scheduleFloor, 3) : QStringLiteral("-"),
                    scheduleFloor > 0 ? number(perPoll / scheduleFloor, 2) : QStringLiteral("-")) +
           QStringLiteral("%1 | %2 | %3 | %4 | %5 |")
               .arg(field("guiCpuPerRoundMs", 1), field("setUpMs", 1), field("longestStallAfterSetUpMs", 1),
                    field("longestSteadyStallMs", 1), field("peakRssMiB", 1));
}

const QJsonObject* findResult(const QList<QJsonObject>& results, int servers, int cost, const QString& mode)
{
    for (const QJsonObject& r : results) {
        if (r.value(QStringLiteral("servers")).toInt() == servers && r.value(QStringLiteral("cost")).toInt() == cost &&
            r.value(QStringLiteral("mode")).toString() == mode && r.value(QStringLiteral("complete")).toBool())
            return &r;
    }
    return nullptr;
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

QStringList targets(const QList<QJsonObject>& results)
{
    const auto value = [](const QJsonObject& r, const char* key) { return r.value(QLatin1String(key)).toDouble(); };
    QStringList lines;
    const QJsonObject* tray = findResult(results, 500, 12, QStringLiteral("X11 + tray"));
    const QJsonObject* noTray = findResult(results, 500, 12, QStringLiteral("X11, no tray"));
    if (tray) {
        const double stall = value(*tray, "longestStallAfterSetUpMs");
        lines << QStringLiteral("- 500 servers, cost 12, tray, window shown: longest stall after set-up under 50 ms: "
                                "%1 ms, %2")
                     .arg(number(stall, 1), verdict(stall < 50));
    }
    if (tray && noTray) {
        const double ratio = value(*tray, "cpuPerRoundMs") / value(*noTray, "cpuPerRoundMs");
        lines << QStringLiteral("- the same: CPU per round at most 1.1 x the case without the tray: %1 ms against "
                                "%2 ms, %3 x, %4")
                     .arg(number(value(*tray, "cpuPerRoundMs"), 1), number(value(*noTray, "cpuPerRoundMs"), 1),
                          number(ratio, 2), verdict(ratio <= 1.1));
    }
    // The burst of a site-wide outage (four events a server in its first round) written to the history.
    for (int servers : {100, 500}) {
        const QJsonObject* with = findResult(results, servers, 4, QStringLiteral("all in alarm, history"));
        const QJsonObject* without = findResult(results, servers, 4, QStringLiteral("all in alarm"));
        if (!with || !without)
            continue;
        const double stall = value(*with, "longestStallAfterSetUpMs");
        const double ratio = value(*with, "cpuPerRoundMs") / value(*without, "cpuPerRoundMs");
        lines << QStringLiteral("- %1 servers all in alarm, history kept: longest stall after set-up under 50 ms: %2 ms "
                                "(%3 ms without the history), %4; CPU per round %5 ms against %6 ms, %7 x")
                     .arg(servers)
                     .arg(number(stall, 1), number(value(*without, "longestStallAfterSetUpMs"), 1),
                          verdict(stall < 50), number(value(*with, "cpuPerRoundMs"), 1),
                          number(value(*without, "cpuPerRoundMs"), 1), number(ratio, 2));
    }
    for (int servers : {100, 500}) {
        const QJsonObject* cold = findResult(results, servers, 12, QStringLiteral("cold start, hashes kept"));
        const QJsonObject* warm = findResult(results, servers, 12, QStringLiteral("warm start"));
        if (!cold || !warm)
            continue;
        const double first = value(*warm, "firstAlarmsS") / value(*cold, "firstAlarmsS");
        const double cpu = value(*warm, "firstMinuteCpuS") / value(*cold, "firstMinuteCpuS");
        lines << QStringLiteral("- %1 servers, cost 12, warm start: first alarms at most 0.1 x the cold start's: %2 s "
                                "against %3 s, %4 x, %5")
                     .arg(servers)
                     .arg(number(value(*warm, "firstAlarmsS"), 2), number(value(*cold, "firstAlarmsS"), 1),
                          number(first, 3), verdict(first <= 0.1));
        lines << QStringLiteral(
                     "- the same: CPU of the first minute at most 0.1 x the cold start's: %1 s against %2 s, "
                     "%3 x, %4")
                     .arg(number(value(*warm, "firstMinuteCpuS"), 2), number(value(*cold, "firstMinuteCpuS"), 1),
                          number(cpu, 3), verdict(cpu <= 0.1));
        // Kept with the passwords in the keyring, the hashes must save the warm start as much as the file.
        const QJsonObject* keyring = findResult(results, servers, 12, QStringLiteral("warm start, keyring"));
        if (!keyring)
            continue;
        const double keyringFirst = value(*keyring, "firstAlarmsS") / value(*cold, "firstAlarmsS");
        lines << QStringLiteral("- %1 servers, cost 12, warm start from the keyring: first alarms at most 0.1 x the "
                                "cold start's: %2 s (the file's: %3 s) against %4 s, %5 x, %6; CPU of the first "
                                "minute %7 s (the file's: %8 s)")
                     .arg(servers)
                     .arg(number(value(*keyring, "firstAlarmsS"), 2), number(value(*warm, "firstAlarmsS"), 2),
                          number(value(*cold, "firstAlarmsS"), 1), number(keyringFirst, 3),
                          verdict(keyringFirst <= 0.1), number(value(*keyring, "firstMinuteCpuS"), 2),
                          number(value(*warm, "firstMinuteCpuS"), 2));
    }
    for (const QJsonObject& r : results) {
        if (r.value(QStringLiteral("servers")).toInt() != 500 || !r.value(QStringLiteral("complete")).toBool() ||
            r.value(QStringLiteral("baseline")).toBool())
            continue;
        const QString which = QStringLiteral("500 servers, cost %1, %2")
                                  .arg(r.value(QStringLiteral("cost")).toInt())
                                  .arg(r.value(QStringLiteral("mode")).toString());
        const double limit = r.value(QStringLiteral("hidden")).toBool() ? 1.2 : 1.5;
        const double perPoll = value(r, "cpuPerRoundMs") / 500;
        const double ratio = perPoll / value(r, "floorPerRequestMs");
        lines << QStringLiteral("- %1: CPU per poll at most %2 x the stack's floor: %3 ms against %4 ms, %5 x, %6")
                     .arg(which, number(limit, 1), number(perPoll, 3), number(value(r, "floorPerRequestMs"), 3),
                          number(ratio, 2), verdict(ratio <= limit));
        if (const double scheduleFloor = value(r, "scheduleFloorPerRequestMs"); scheduleFloor > 0)
            lines << QStringLiteral("  (against the same requests at the monitor's poll times: %1 ms, %2 x; those "
                                    "cost the bare stack %3 x its floor)")
                         .arg(number(scheduleFloor, 3), number(perPoll / scheduleFloor, 2),
                              number(scheduleFloor / value(r, "floorPerRequestMs"), 2));
        if (r.value(QStringLiteral("cost")).toInt() == 12) {
            const double first = value(r, "firstAlarmsS") / value(r, "bcryptFloorS");
            lines << QStringLiteral("- %1: first alarms at most 1.25 x the bcrypt floor: %2 s against %3 s, %4 x, %5")
                         .arg(which, number(value(r, "firstAlarmsS"), 1), number(value(r, "bcryptFloorS"), 1),
                              number(first, 2), verdict(first <= 1.25));
        }
        if (r.value(QStringLiteral("tray")).toBool()) {
            const double megabytes = value(r, "peakRssMiB") * 1.048576;
            lines << QStringLiteral("- %1: peak RSS under 120 MB: %2 MB, %3")
                         .arg(which, number(megabytes, 1), verdict(megabytes < 120));
        }
    }
    return lines;
}

QStringList ratioTable(const QList<QJsonObject>& results)
{
    QStringList lines{
        QStringLiteral("| Servers | Cost | CPU per round, baseline (ms) | optimised (ms) | ratio | Longest stall, "
                       "baseline (ms) | optimised (ms) | ratio |"),
        QStringLiteral("|---:|---:|---:|---:|---:|---:|---:|---:|")};
    for (int servers : {10, 100, 500}) {
        const QJsonObject* base = findResult(results, servers, 10, Case{servers, 10, true}.mode());
        const QJsonObject* opt = findResult(results, servers, 10, Case().mode());
        if (!base || !opt)
            continue;
        const double cpuBase = base->value(QStringLiteral("cpuPerRoundMs")).toDouble();
        const double cpuOpt = opt->value(QStringLiteral("cpuPerRoundMs")).toDouble();
        const double stallBase = base->value(QStringLiteral("longestStallMs")).toDouble();
        const double stallOpt = opt->value(QStringLiteral("longestStallMs")).toDouble();
        lines << QStringLiteral("| %1 | 10 | %2 | %3 | %4 | %5 | %6 | %7 |")
                     .arg(servers)
                     .arg(number(cpuBase, 1), number(cpuOpt, 1), number(cpuBase / cpuOpt, 0), number(stallBase, 1),
                          number(stallOpt, 1), number(stallBase / std::max(stallOpt, 0.1), 0));
    }
    return lines;
}

// All recorders share one host and port, so Qt keeps at most six connections to them: at 500 servers a
// 2 s period asks for 250 requests a second, more than they carry while the simulator hashes each new
// recorder's first requests, and requests time out. From 100 servers up the period grows to the
// product's 10 s at 500 (50 requests a second).
// The baseline hashes on the GUI thread for every request (5.5 s a round at 100 servers): it keeps the
// product's period, or its requests queue behind the hashing past their time limit.
int pollPeriodMs(const Case& c)
{
    return c.baseline ? 10000 : std::max(2000, 20 * c.servers);
}

QList<Case> caseList(bool quick, bool baseline500, bool withX11)
{
    QList<Case> cases;
    const QList<int> sizes = quick ? QList<int>{10, 100} : QList<int>{10, 100, 500};
    for (int servers : sizes) {
        for (int cost : {4, 10, 12})
            cases.append(Case{servers, cost});
    }
    // The largest fleet at the highest cost again with its hashes kept in the file: from nothing, then
    // started again from the file the first left.
    Case store{sizes.last(), 12};
    store.store = Case::ColdStore;
    cases.append(store);
    store.store = Case::WarmStore;
    cases.append(store);
    if (!QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty()) {
        store.store = Case::KeyringStore;
        cases.append(store);
    }
    // A large site with a real tray and half its servers in alarm, the window shown and hidden, and the same
    // without the tray to compare with.
    const int trayServers = quick ? 100 : 500;
    if (withX11) {
        cases.append(Case{trayServers, 12, false, true, false});
        Case tray{trayServers, 12, false, true, true};
        cases.append(tray);
        tray.hidden = true;
        cases.append(tray);
    }
    // A site-wide outage: every server in alarm from the first round, with and without the history.
    Case outage{sizes.last(), 4};
    outage.allInAlarm = true;
    cases.append(outage);
    outage.history = true;
    cases.append(outage);
    // One or two rounds are enough where each one costs seconds of bcrypt.
    cases.append(Case{10, 10, true, false, false, 2});
    cases.append(Case{100, 10, true, false, false, 2});
    if (baseline500)
        cases.append(Case{500, 10, true, false, false, 1});
    return cases;
}

int runAll(const QCommandLineParser& parser, const QString& simulatorProgram)
{
    const bool withX11 = !qEnvironmentVariableIsEmpty("DISPLAY") && !parser.isSet(QStringLiteral("no-x11"));
    QList<Case> cases =
        caseList(parser.isSet(QStringLiteral("quick")), parser.isSet(QStringLiteral("baseline-500")), withX11);
    if (parser.isSet(QStringLiteral("only"))) {
        // "N:C" entries pick cases by size and cost, for a quick look at a few of them.
        const QStringList wanted = parser.value(QStringLiteral("only")).split(QLatin1Char(','));
        cases.erase(std::remove_if(cases.begin(), cases.end(),
                                   [&wanted](const Case& c) {
                                       return !wanted.contains(QStringLiteral("%1:%2").arg(c.servers).arg(c.cost));
                                   }),
                    cases.end());
    }

    // Cases of the same size and cost share their recorders: the simulator hashes each password once a run.
    QTemporaryDir hashDir;
    const QString hashCache = hashDir.filePath(QStringLiteral("simulator-hashes.tsv"));
    const QString hashStore = hashDir.filePath(QStringLiteral("monitor-hashes.json"));
    const QString started = QDateTime::currentDateTime().toString(Qt::ISODate);
    const QString loadBefore = loadAverage();
    QList<QJsonObject> results;
    for (Case& c : cases) {
        c.pollMs = pollPeriodMs(c);
        std::fprintf(stderr, "fleet-bench: N=%d C=%02d %s ...", c.servers, c.cost, qPrintable(c.mode()));
        std::fflush(stderr);
        QElapsedTimer wall;
        wall.start();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), c.x11 ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList arguments = c.arguments() << QStringLiteral("--simulator") << simulatorProgram
                                                    << QStringLiteral("--hash-cache") << hashCache
                                                    << QStringLiteral("--hash-store") << hashStore;
        if (c.store == Case::KeyringStore) {
            // A session bus of its own with a Secret Service, unlocked as a login unlocks it.
            env.insert(QStringLiteral("HOME"), hashDir.filePath(QStringLiteral("keyring-home")));
            child.setProcessEnvironment(env);
            const QString script = QStringLiteral("printf bench | gnome-keyring-daemon --unlock --components=secrets "
                                                  ">/dev/null && exec \"$0\" \"$@\"");
            child.start(QStringLiteral("dbus-run-session"),
                        QStringList{QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                                    QCoreApplication::applicationFilePath()} +
                            arguments);
        } else {
            child.start(QCoreApplication::applicationFilePath(), arguments);
        }
        child.waitForFinished(-1);
        QJsonObject result;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("RESULT "))
                result = QJsonDocument::fromJson(line.mid(7)).object();
        }
        if (result.isEmpty())
            result = QJsonObject{{QStringLiteral("servers"), c.servers},
                                 {QStringLiteral("cost"), c.cost},
                                 {QStringLiteral("mode"), c.mode()},
                                 {QStringLiteral("complete"), false}};
        results.append(result);
        std::fprintf(stderr, " %.0f s, load %s\n", double(wall.elapsed()) / 1000.0, qPrintable(loadAverage()));
    }

    QStringList out;
    out << QStringLiteral("Fleet benchmark, %1, %2, %3 cores; load average before %4, after %5.")
               .arg(started, QSysInfo::prettyProductName())
               .arg(QThread::idealThreadCount())
               .arg(loadBefore, loadAverage());
    out << QStringLiteral("Poll period: %1; figures per round are per round whatever the period, counted from "
                          "the health replies handled. CPU is the process's (GUI thread, bcrypt workers and Qt's "
                          "network thread), measured with the 1 ms stall probe paused (it costs about %2 ms of CPU a "
                          "second); the probe covers set-up, start-up, a warm-up round and one more round after the "
                          "measured ones. Every odd server is in alarm (2 lines). The baseline runs without the 10 s "
                          "request time limit. The simulator runs as a separate process and hashes every password "
                          "before the case starts. Floors, measured in the same case: bcrypt, one hash at the case's "
                          "cost, timed before the monitor starts, times the servers divided by the monitor's hashing "
                          "threads; the stack, the process CPU of one health GET with the same headers made and read "
                          "by a bare QNetworkAccessManager, one request per server at once a round, the median of the "
                          "rounds made before the monitor starts and once it has stopped polling; the same at the poll "
                          "times, the same requests sent when the monitor's own poll timers would have fired, for "
                          "two periods once it has stopped polling.")
               .arg(QStringLiteral("2 s injected up to 100 servers, 10 s (the product's) at 500 and for the baseline"),
                    number(results.isEmpty() ? 0.0 : results.first().value(QStringLiteral("probeCpuMsPerS")).toDouble(),
                           0))
        << QString();
    out << QStringLiteral(
               "| Servers | Cost | Mode | First alarms (s) | bcrypt floor (s) | ratio | CPU per round (ms) | "
               "per poll (ms) | stack floor per request (ms) | ratio | floor at the poll times (ms) | ratio | "
               "GUI thread per round (ms) | Set-up block (ms) | Longest stall after set-up (ms) | Longest "
               "steady stall (ms) | Peak RSS (MiB) |")
        << QStringLiteral("|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|");
    for (const QJsonObject& r : results)
        out << formatRow(r);
    out << QString() << ratioTable(results) << QString() << targets(results);

    const QString text = out.join(QLatin1Char('\n')) + QLatin1Char('\n');
    std::printf("%s", text.toUtf8().constData());
    if (parser.isSet(QStringLiteral("output"))) {
        QFile file(parser.value(QStringLiteral("output")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }
    for (const QJsonObject& r : results) {
        if (!r.value(QStringLiteral("complete")).toBool())
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The driver shows nothing and must run without a display; only a case needs widgets.
    const bool oneCase =
        std::any_of(argv + 1, argv + argc, [](const char* arg) { return qstrcmp(arg, "--case") == 0; });
    std::unique_ptr<QCoreApplication> app(oneCase ? new QApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures the monitor against a fleet of simulated recorders."));
    parser.addHelpOption();
    const QList<QCommandLineOption> options{
        {QStringLiteral("quick"), QStringLiteral("Only 10 and 100 servers.")},
        {QStringLiteral("baseline-500"), QStringLiteral("Also the baseline with 500 servers (minutes).")},
        {QStringLiteral("no-x11"), QStringLiteral("Skip the X11 and tray cases even when DISPLAY is set.")},
        {QStringLiteral("only"), QStringLiteral("Run only the cases N:C[,N:C...]."), QStringLiteral("list")},
        {QStringLiteral("output"), QStringLiteral("Also write the tables to FILE."), QStringLiteral("FILE")},
        {QStringLiteral("simulator"), QStringLiteral("The quelvane-recorder-sim executable."), QStringLiteral("path"),
         QStringLiteral(QUELVANE_RECORDER_SIM)},
        {QStringLiteral("case"), QStringLiteral("Run one case in this process (used by the driver).")},
        {QStringLiteral("servers"), QStringLiteral("Servers of the case."), QStringLiteral("N"), QStringLiteral("10")},
        {QStringLiteral("cost"), QStringLiteral("bcrypt cost of the case."), QStringLiteral("C"), QStringLiteral("4")},
        {QStringLiteral("rounds"), QStringLiteral("Measured poll rounds."), QStringLiteral("R"), QStringLiteral("3")},
        {QStringLiteral("poll-ms"), QStringLiteral("Poll period."), QStringLiteral("ms"), QStringLiteral("2000")},
        {QStringLiteral("baseline"), QStringLiteral("Without the bcrypt cache and worker.")},
        {QStringLiteral("x11"), QStringLiteral("The case runs on an X server.")},
        {QStringLiteral("tray"), QStringLiteral("With the tray icon fed by the Alarms page.")},
        {QStringLiteral("hidden"), QStringLiteral("The window is never shown.")},
        {QStringLiteral("hash-cache"), QStringLiteral("The simulator keeps its hashes in FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("hash-store"), QStringLiteral("The monitor keeps its hashes in FILE (with --store or --warm)."),
         QStringLiteral("FILE")},
        {QStringLiteral("store"), QStringLiteral("The monitor's hashes are kept in the file, written from nothing.")},
        {QStringLiteral("warm"), QStringLiteral("The monitor's hashes are read from the file a --store case left.")},
        {QStringLiteral("keyring"),
         QStringLiteral("The passwords and the hashes a --store case left are read from the desktop's keyring.")},
        {QStringLiteral("all-in-alarm"), QStringLiteral("Every recorder is in alarm.")},
        {QStringLiteral("history"), QStringLiteral("The alarm history is kept in a file of the case's own.")},
        {QStringLiteral("trace-stalls"), QStringLiteral("Print every stall longer than ms."), QStringLiteral("ms"),
         QStringLiteral("0")},
    };
    parser.addOptions(options);
    parser.process(*app);

    const QString simulator = parser.value(QStringLiteral("simulator"));
    if (!parser.isSet(QStringLiteral("case")))
        return runAll(parser, simulator);

    Case config;
    config.servers = std::max(1, parser.value(QStringLiteral("servers")).toInt());
    config.cost = parser.value(QStringLiteral("cost")).toInt();
    config.rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    config.pollMs = std::max(100, parser.value(QStringLiteral("poll-ms")).toInt());
    config.baseline = parser.isSet(QStringLiteral("baseline"));
    config.x11 = parser.isSet(QStringLiteral("x11"));
    config.tray = parser.isSet(QStringLiteral("tray"));
    config.hidden = parser.isSet(QStringLiteral("hidden"));
    config.traceStallsMs = parser.value(QStringLiteral("trace-stalls")).toInt();
    config.allInAlarm = parser.isSet(QStringLiteral("all-in-alarm"));
    config.history = parser.isSet(QStringLiteral("history"));
    if (parser.isSet(QStringLiteral("store")))
        config.store = Case::ColdStore;
    if (parser.isSet(QStringLiteral("warm")))
        config.store = Case::WarmStore;
    if (parser.isSet(QStringLiteral("keyring")))
        config.store = Case::KeyringStore;
    return runCase(config, simulator, parser.value(QStringLiteral("hash-cache")),
                   parser.value(QStringLiteral("hash-store")));
}
