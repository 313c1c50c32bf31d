#pragma once

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <functional>

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
    // The setting a bcrypt string begins with.
    static QByteArray settingOf(const QByteArray& hash);

    // A found entry counts as used, so the entries of servers in use are the last to go.
    bool find(const QByteArray& password, const QByteArray& setting, QByteArray* output);
    void insert(const QByteArray& password, const QByteArray& setting, const QByteArray& output);
    // Forgets the entry when it came from the store rather than from this program's own hashing: the
    // server refused what it signed, and a damaged file must not keep a server refused for good.
    bool dropStored(const QByteArray& password, const QByteArray& setting);
    // Keeps room for one entry per server and as many stale ones.
    void reserveFor(int servers);

    // The hashes outlive the program in a file of their own. It holds no password: an entry is found by a
    // SHA-256 of its setting and password, and is used only if its hash is a bcrypt string of that setting.
    static QByteArray storeKey(const QByteArray& password, const QByteArray& setting);
    // Forgets every entry and takes those of a stored document; anything unusable in it is left out.
    void loadStore(const QByteArray& document);
    // One stored hash of the password, kept elsewhere; an unusable one is left out.
    void addStored(const QByteArray& password, const QByteArray& hash);
    // Whether the document keeps an entry, by its store key and its hash.
    using Keep = std::function<bool(const QByteArray& key, const QByteArray& hash)>;
    // The bcrypt entries that keep() accepts.
    QByteArray storeDocument(const Keep& keep) const;

private:
    struct Entry
    {
        QByteArray output;
        quint64 lastUse = 0;
        bool fromStore = false;
    };

    // Every edit of a password adds an entry; the bound keeps the stale ones from piling up.
    static constexpr int minEntries = 64;
    int maxEntries = minEntries;
    quint64 uses = 0;

    QHash<QPair<QByteArray, QByteArray>, Entry> entries;
    // Read from the store, by store key, until a server asks for them.
    QHash<QByteArray, QByteArray> stored;
};
