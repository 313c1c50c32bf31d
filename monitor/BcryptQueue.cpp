#include "monitor/BcryptQueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QSaveFile>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

// About a hundred bytes a server: a file larger than this was not written by the program.
constexpr qint64 maxStoreSize = 4 * 1024 * 1024;

// A hash takes up to seconds of CPU and every core has a worker: the GUI and network threads must get a
// core the moment they have work, or the window stalls while the fleet authenticates.
void yieldToInteractiveThreads()
{
#ifdef Q_OS_LINUX
    // Under Linux's default scheduler Qt's thread priorities change nothing; a thread's nice value does.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#else
    QThread::currentThread()->setPriority(QThread::LowestPriority);
#endif
}

QByteArray computeInBackground(const BcryptQueue::Compute& compute, const QByteArray& password,
                               const QByteArray& setting)
{
    yieldToInteractiveThreads();
    return compute(password, setting);
}

} // namespace

// The pool is the queue's own and never joined (the manager that owns the queue is never destroyed):
// quitting never waits for a hash of a high cost.
BcryptQueue::BcryptQueue(QObject* parent) : QObject(parent), pool(new QThreadPool(this)), compute(BcryptCache::compute)
{
    // The lanes decide what runs; the pool only lends threads, also to released hashes still running.
    pool->setMaxThreadCount(1 << 16);
    setLimits(0, highCost, 1);
    storeTimer.setSingleShot(true);
    storeTimer.setInterval(2000);
    connect(&storeTimer, &QTimer::timeout, this, &BcryptQueue::writeStore);
    // A hash finished just before "Quit" is not lost with the program.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            if (storeTimer.isActive()) {
                storeTimer.stop();
                writeStore();
            }
        });
    }
}

void BcryptQueue::setStore(const QString& path, Current servers)
{
    storePath = path;
    current = std::move(servers);
    // A missing, damaged or hostile file is read as none: the hashes are made as without it, and the
    // first one rewrites it.
    QFile file(path);
    const bool readable = file.size() <= maxStoreSize && file.open(QIODevice::ReadOnly);
    cache.loadStore(readable ? file.read(maxStoreSize) : QByteArray());
}

void BcryptQueue::setStoreDelay(int delay)
{
    storeTimer.setInterval(delay);
}

void BcryptQueue::writeStore()
{
    // A write that fails costs the next start its hashes, nothing more: no one is told.
    QSaveFile file(storePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    // Beside the configuration and like it: a hash signs requests as the password does.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QSet<QByteArray> keys;
    QList<QByteArray> withoutSetting;
    for (const auto& server : current()) {
        if (server.second.isEmpty())
            withoutSetting.append(server.first);
        else
            keys.insert(BcryptCache::storeKey(server.first, server.second));
    }
    // A hash begins with its setting: for a server given none yet, that of each hash is tried.
    const QByteArray document = cache.storeDocument([&](const QByteArray& key, const QByteArray& hash) {
        return keys.contains(key) ||
               std::any_of(withoutSetting.begin(), withoutSetting.end(), [&](const QByteArray& password) {
                   return BcryptCache::storeKey(password, BcryptCache::settingOf(hash)) == key;
               });
    });
    if (file.write(document) != document.size() || !file.commit())
        file.cancelWriting();
}

void BcryptQueue::storeSoon()
{
    if (storeKept && !storePath.isEmpty() && !storeTimer.isActive())
        storeTimer.start();
}

void BcryptQueue::keepStore(bool kept)
{
    storeKept = kept;
    if (kept)
        storeSoon();
    else
        storeTimer.stop();
}

void BcryptQueue::refused(const QByteArray& password, const QByteArray& setting)
{
    if (cache.dropStored(password, setting))
        storeSoon();
}

void BcryptQueue::setLimits(int workers, int cost, int highCostWorkers)
{
    lanes[Ordinary].limit = workers > 0 ? workers : qMax(1, QThread::idealThreadCount());
    lanes[HighCost].limit = qMax(1, highCostWorkers);
    highCost = cost;
    startQueued();
}

void BcryptQueue::setCompute(Compute function)
{
    compute = std::move(function);
}

void BcryptQueue::request(const QByteArray& password, const QByteArray& setting, const void* owner, Ready ready)
{
    QByteArray hash;
    if (cache.find(password, setting, &hash)) {
        ready(hash);
        return;
    }
    const Key key(password, setting);
    const bool known = jobs.contains(key);
    Job& job = jobs[key];
    job.waiters.append(Waiter{owner, std::move(ready)});
    if (known)
        return;
    job.lane = BcryptCache::costOf(setting) >= highCost ? HighCost : Ordinary;
    lanes[job.lane].queue.append(key);
    startQueued();
}

void BcryptQueue::release(const void* owner)
{
    for (auto it = jobs.begin(); it != jobs.end();) {
        QList<Waiter>& waiters = it->waiters;
        waiters.erase(std::remove_if(waiters.begin(), waiters.end(),
                                     [owner](const Waiter& waiter) { return waiter.owner == owner; }),
                      waiters.end());
        if (!waiters.isEmpty()) {
            ++it;
        } else if (!it->running) {
            lanes[it->lane].queue.removeOne(it.key());
            it = jobs.erase(it);
        } else {
            // A high cost keeps its turn to the end, about a minute at most: every edit of such a server
            // would otherwise start one more hash beside the last.
            if (it->counted && it->lane == Ordinary) {
                it->counted = false;
                --lanes[Ordinary].busy;
            }
            ++it;
        }
    }
    startQueued();
}

void BcryptQueue::startQueued()
{
    for (Lane& lane : lanes) {
        while (lane.busy < lane.limit && !lane.queue.isEmpty()) {
            const Key key = lane.queue.takeFirst();
            start(key, jobs[key]);
        }
    }
}

void BcryptQueue::start(const Key& key, Job& job)
{
    job.running = true;
    job.counted = true;
    ++lanes[job.lane].busy;
    auto* watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key] {
        watcher->deleteLater();
        finish(key, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(pool, computeInBackground, compute, key.first, key.second));
}

void BcryptQueue::finish(const Key& key, const QByteArray& hash)
{
    cache.insert(key.first, key.second, hash);
    storeSoon();
    const Job job = jobs.take(key);
    if (job.counted)
        --lanes[job.lane].busy;
    // A waiter may ask for more hashes or release others: it works on the queue as it now stands.
    for (const Waiter& waiter : job.waiters)
        waiter.ready(hash);
    startQueued();
}
