#include "monitor/BcryptQueue.h"

#include <QFutureWatcher>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

// "$2b$12$...": anything else is refused by the hash at once, so it costs nothing.
int costOf(const QByteArray& setting)
{
    if (setting.size() < 7 || !setting.startsWith("$2") || setting.at(3) != '$' || setting.at(6) != '$')
        return 0;
    bool ok = false;
    const int cost = setting.mid(4, 2).toInt(&ok);
    return ok ? cost : 0;
}

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

QByteArray computeInBackground(const QByteArray& password, const QByteArray& setting)
{
    yieldToInteractiveThreads();
    return BcryptCache::compute(password, setting);
}

} // namespace

// The pool is the queue's own and never joined (the manager that owns the queue is never destroyed):
// a server that hands out an absurd cost cannot make the program wait for that hash when it quits.
BcryptQueue::BcryptQueue(QObject* parent) : QObject(parent), pool(new QThreadPool(this))
{
    // The queue decides what runs; the pool only lends threads, also to hashes outside the limit.
    pool->setMaxThreadCount(1 << 16);
    setLimits(0, ownThreadCost);
}

void BcryptQueue::setLimits(int workerCount, int cost)
{
    workers = workerCount > 0 ? workerCount : qMax(1, QThread::idealThreadCount());
    ownThreadCost = cost;
    startQueued();
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
    if (costOf(setting) >= ownThreadCost) {
        start(key, job, false);
        return;
    }
    queue.append(key);
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
            queue.removeOne(it.key());
            it = jobs.erase(it);
        } else {
            if (it->counted) {
                it->counted = false;
                --busy;
            }
            ++it;
        }
    }
    startQueued();
}

void BcryptQueue::startQueued()
{
    while (busy < workers && !queue.isEmpty()) {
        const Key key = queue.takeFirst();
        start(key, jobs[key], true);
    }
}

void BcryptQueue::start(const Key& key, Job& job, bool counted)
{
    job.running = true;
    job.counted = counted;
    if (counted)
        ++busy;
    auto* watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key] {
        watcher->deleteLater();
        finish(key, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(pool, computeInBackground, key.first, key.second));
}

void BcryptQueue::finish(const Key& key, const QByteArray& hash)
{
    cache.insert(key.first, key.second, hash);
    const Job job = jobs.take(key);
    if (job.counted)
        --busy;
    // A waiter may ask for more hashes or release others: it works on the queue as it now stands.
    for (const Waiter& waiter : job.waiters)
        waiter.ready(hash);
    startQueued();
}
