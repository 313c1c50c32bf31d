#pragma once

#include "monitor/BcryptCache.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <functional>

class QThreadPool;

// Hands out bcrypt hashes without ever computing one on the calling (GUI) thread. Each pair of password
// and setting is hashed once however many wait for it; a limited number of hashes run at a time, and
// a hash that nobody waits for any longer, or whose cost would take minutes, runs outside that limit,
// so that it delays no other server. A running hash cannot be stopped: its thread is never joined,
// which keeps quitting immediate.
class BcryptQueue : public QObject
{
    Q_OBJECT

public:
    using Ready = std::function<void(const QByteArray& hash)>;

    explicit BcryptQueue(QObject* parent = nullptr);

    // Calls ready with the hash: at once when it is known, else on this thread when a worker has it.
    void request(const QByteArray& password, const QByteArray& setting, const void* owner, Ready ready);
    // Forgets every request of owner; hashes nobody else waits for stop taking a worker's turn.
    void release(const void* owner);
    // How many hashes may run at once (0: one per core), and from which cost a hash runs outside that.
    void setLimits(int workers, int ownThreadCost);

    BcryptCache cache;

private:
    using Key = QPair<QByteArray, QByteArray>;
    struct Waiter
    {
        const void* owner;
        Ready ready;
    };
    struct Job
    {
        QList<Waiter> waiters;
        bool running = false;
        // Whether it takes one of the limited turns.
        bool counted = false;
    };

    void startQueued();
    void start(const Key& key, Job& job, bool counted);
    void finish(const Key& key, const QByteArray& hash);

    QThreadPool* pool;
    QHash<Key, Job> jobs;
    QList<Key> queue;
    int busy = 0;
    int workers = 1;
    int ownThreadCost = 16;
};
