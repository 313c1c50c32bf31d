#pragma once

#include "history/HistoryEvent.h"

#include <QHash>
#include <QString>
#include <QVariantList>
#include <QVector>

class QSqlQuery;

// The history's SQLite file. Writes are queued and go in one transaction; any failure leaves the
// queue as it was, so a file that comes back (unlocked, room made on the disk) takes it all.
class HistoryStore
{
public:
    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    static constexpr int schemaVersion = 1;

    // Opens the file, or makes it owner-only; a damaged one is kept aside under another name and a new
    // one begun. False with error() set when the file cannot be used now.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return opened; }
    QString path() const { return filePath; }
    QString error() const { return lastError; }
    // Where the last damaged file was put, if one was.
    QString setAside() const { return setAsidePath; }

    void queue(const QString& sql, const QVariantList& values);
    bool hasQueued() const { return !queued.isEmpty(); }
    // Runs the queue in one transaction. A damaged file is set aside and begun anew, and false is
    // returned with reopened set: the caller writes again what the new file must hold.
    bool flush(bool* reopened = nullptr);

    struct ServerTimes
    {
        bool found = false;
        qint64 lastGood = 0;
        qint64 lastPoll = 0;
    };
    // Read once at start for every server: when each was last seen, and what lasted when the file was
    // last written, by account (HistoryEvent::server).
    QHash<QString, ServerTimes> serverTimes();
    QHash<QString, QVector<HistoryEvent>> lasting();
    // Events of the period (ended after from, or lasting), newest first.
    QVector<HistoryEvent> events(qint64 from);

    // Ended events older than the cutoff, then the oldest ones until the file is within maxBytes.
    void prune(qint64 cutoff, qint64 maxBytes);
    qint64 size();

private:
    bool fail(const QString& reason);
    bool exec(const QString& sql, QSqlQuery* query = nullptr);
    bool damaged(int code) const;
    bool createSchema();
    bool keepAside();

    QString connection;
    QString filePath;
    QString lastError;
    QString setAsidePath;
    bool opened = false;
    int lastCode = 0;
    struct Queued
    {
        QString sql;
        QVariantList values;
    };
    QVector<Queued> queued;
};
