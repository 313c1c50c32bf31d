#pragma once

#include "monitor/BcryptCache.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>
#include <functional>

class QThreadPool;

// Hands out bcrypt hashes without ever computing one on the calling (GUI) thread. Each pair of password
// and setting is hashed once however many wait for it. Hashes run in two lanes of limited width: the
// ordinary costs, and the high costs that take seconds to a minute each, so that servers of a high cost
// delay neither the others nor take every core from them. A running hash cannot be stopped: its thread
// is never joined, which keeps quitting immediate.
class BcryptQueue : public QObject
{
    Q_OBJECT

public:
    using Ready = std::function<void(const QByteArray& hash)>;
    // Safe to call on any thread; BcryptCache::compute unless a test counts or holds the hashes.
    using Compute = std::function<QByteArray(const QByteArray& password, const QByteArray& setting)>;

    explicit BcryptQueue(QObject* parent = nullptr);

    // Calls ready with the hash: at once when it is known, else on this thread when a worker has it.
    void request(const QByteArray& password, const QByteArray& setting, const void* owner, Ready ready);
    // Forgets every request of owner; an ordinary hash nobody else waits for stops taking a worker's turn.
    void release(const void* owner);
    // Ordinary hashes that may run at once (0: one per core), the cost from which a hash is a high one,
    // and how many of those may run at once.
    void setLimits(int workers, int highCost, int highCostWorkers);
    void setCompute(Compute compute);
    // The file the hashes outlive the program in: read now, and written within delay ms of a new hash,
    // since the end of a session stops the program with a signal and nothing waits for a clean exit,
    // and at once when the program quits. It keeps the hashes of current's passwords and settings only
    // (an empty setting: one not known yet this run): a removed server's hash, or a changed password's
    // old one, would still sign requests as the password does.
    using Current = std::function<QList<QPair<QByteArray, QByteArray>>()>;
    void setStore(const QString& path, Current current);
    void setStoreDelay(int delay);
    // The servers changed: the file follows soon.
    void storeSoon();
    // Whether the file is written at all; the hashes in memory stay either way.
    void keepStore(bool kept);
    // The server refused what a hash from the file signed: it is hashed again.
    void refused(const QByteArray& password, const QByteArray& setting);

    BcryptCache cache;

private:
    using Key = QPair<QByteArray, QByteArray>;
    struct Waiter
    {
        const void* owner;
        Ready ready;
    };
    enum LaneIndex
    {
        Ordinary,
        HighCost,
        LaneCount
    };
    struct Lane
    {
        int limit = 1;
        int busy = 0;
        QList<Key> queue;
    };
    struct Job
    {
        QList<Waiter> waiters;
        LaneIndex lane = Ordinary;
        bool running = false;
        // Whether it takes one of its lane's turns.
        bool counted = false;
    };

    void startQueued();
    void start(const Key& key, Job& job);
    void finish(const Key& key, const QByteArray& hash);
    void writeStore();

    QThreadPool* pool;
    Compute compute;
    QHash<Key, Job> jobs;
    Lane lanes[LaneCount];
    int highCost = 16;
    QString storePath;
    Current current;
    bool storeKept = true;
    QTimer storeTimer;
};
