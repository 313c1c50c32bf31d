#pragma once

#include <QByteArray>
#include <QHash>
#include <QPair>

// bcrypt strings by (password, setting). The hash is costly and depends on nothing else, so each pair
// is computed once; when full, the entry used longest ago makes room. The cache itself is used from one
// thread only; compute() is safe on any thread.
class BcryptCache
{
public:
    // The 60-character bcrypt string of the password under the setting, or the two-character failure
    // token of the crypt interface ("*0", or "*1" when the setting begins with "*0") when it is refused.
    static QByteArray compute(const QByteArray& password, const QByteArray& setting);
    static QByteArray failureToken(const QByteArray& setting);
    // The cost a bcrypt setting names ("$2b$12$" and 22 salt characters, or a whole bcrypt string), or 0
    // for anything else. The hash function knows other methods whose settings may ask for hours of work
    // and gigabytes: a setting that is not bcrypt is refused before any hashing.
    static int costOf(const QByteArray& setting);

    // A found entry counts as used, so the entries of servers in use are the last to go.
    bool find(const QByteArray& password, const QByteArray& setting, QByteArray* output);
    void insert(const QByteArray& password, const QByteArray& setting, const QByteArray& output);
    void clear();
    // Keeps room for one entry per server and as many stale ones.
    void reserveFor(int servers);

private:
    struct Entry
    {
        QByteArray output;
        quint64 lastUse = 0;
    };

    // Every edit of a password adds an entry; the bound keeps the stale ones from piling up.
    static constexpr int minEntries = 64;
    int maxEntries = minEntries;
    quint64 uses = 0;

    QHash<QPair<QByteArray, QByteArray>, Entry> entries;
};
