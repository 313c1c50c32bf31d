#include "history/HistoryStore.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// SQLite's primary result codes that say the file itself is not sound.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

QAtomicInt connections;

QDateTime fromMs(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong());
}

// One event from the columns server (or its name), kind, category, line, detail, began, ended, rowid.
HistoryEvent eventAt(const QSqlQuery& query)
{
    HistoryEvent event;
    event.server = query.value(0).toString();
    event.kind = HistoryEvent::Kind(query.value(1).toInt());
    event.category = query.value(2).toString();
    event.line = query.value(3).toString();
    event.detail = query.value(4).toString();
    event.began = fromMs(query.value(5));
    event.ended = fromMs(query.value(6));
    event.id = query.value(7).toLongLong();
    return event;
}

} // namespace

HistoryStore::HistoryStore()
    : connection(QStringLiteral("quelvane-history-%1").arg(connections.fetchAndAddRelaxed(1)))
{
}

HistoryStore::~HistoryStore()
{
    close();
}

void HistoryStore::close()
{
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }
    opened = false;
}

bool HistoryStore::fail(const QString& reason)
{
    lastError = reason;
    return false;
}

bool HistoryStore::exec(const QString& sql, QSqlQuery* query)
{
    QSqlQuery own(QSqlDatabase::database(connection, false));
    QSqlQuery& q = query ? *query : own;
    if (q.exec(sql))
        return true;
    lastCode = q.lastError().nativeErrorCode().toInt() & 0xff;
    return fail(q.lastError().databaseText());
}

bool HistoryStore::damaged(int code) const
{
    return code == sqliteCorrupt || code == sqliteNotADatabase;
}

bool HistoryStore::open(const QString& path)
{
    close();
    filePath = path;
    lastError.clear();
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    // Owner-only from its first byte: SQLite gives its journal files the same mode.
    if (!info.exists()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return fail(file.errorString());
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        // Another program holding the file must not hold the monitor: its writes wait for the next try.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        if (!db.open())
            return fail(db.lastError().databaseText());
        QSqlQuery version(db);
        if (exec(QStringLiteral("PRAGMA user_version"), &version) && version.next()) {
            const int found = version.value(0).toInt();
            version.finish();
            if (found > schemaVersion) {
                close();
                return fail(QCoreApplication::translate("HistoryStore", "written by a newer version"));
            }
            if ((found == schemaVersion || createSchema()) &&
                exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
                opened = true;
                return true;
            }
        }
        if (!damaged(lastCode) || attempt > 0 || !keepAside()) {
            close();
            return false;
        }
    }
    return false;
}

bool HistoryStore::createSchema()
{
    // Incremental vacuum must be chosen before the first table; WAL lets a reader (the sqlite3 tool)
    // look while the monitor writes.
    const QStringList statements{
        QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"),
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS servers (account TEXT PRIMARY KEY, name TEXT NOT NULL, "
                       "lastGood INTEGER NOT NULL DEFAULT 0, lastPoll INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS events (server TEXT NOT NULL, kind INTEGER NOT NULL, "
                       "category TEXT NOT NULL, line TEXT NOT NULL, detail TEXT NOT NULL, "
                       "began INTEGER NOT NULL, ended INTEGER)"),
        QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS events_key ON events(server, kind, category, line, began)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS events_ended ON events(ended)"),
        QStringLiteral("PRAGMA user_version=%1").arg(schemaVersion),
    };
    for (const QString& statement : statements) {
        if (!exec(statement))
            return false;
    }
    return true;
}

bool HistoryStore::keepAside()
{
    close();
    setAsidePath = filePath + QStringLiteral(".damaged-") +
                   QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(filePath, setAsidePath))
        return fail(QCoreApplication::translate("HistoryStore", "damaged, and it cannot be moved aside"));
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(filePath + suffix);
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

void HistoryStore::queue(const QString& sql, const QVariantList& values)
{
    queued.append({sql, values});
}

bool HistoryStore::flush(bool* reopened)
{
    if (reopened)
        *reopened = false;
    if (queued.isEmpty())
        return true;
    if (!opened && !open(filePath))
        return false;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    bool written = db.transaction();
    if (written) {
        QHash<QString, QSqlQuery> prepared;
        for (const Queued& item : qAsConst(queued)) {
            auto it = prepared.find(item.sql);
            if (it == prepared.end()) {
                it = prepared.insert(item.sql, QSqlQuery(db));
                it->prepare(item.sql);
            }
            for (int i = 0; i < item.values.size(); ++i) {
                // An empty text is stored as one, never as NULL, which no comparison would find again.
                const QVariant& value = item.values.at(i);
                it->bindValue(i, value.type() == QVariant::String && value.toString().isNull()
                                     ? QVariant(QStringLiteral(""))
                                     : value);
            }
            if (!it->exec()) {
                lastCode = it->lastError().nativeErrorCode().toInt() & 0xff;
                lastError = it->lastError().databaseText();
                written = false;
                break;
            }
        }
        prepared.clear();
        written = written && db.commit();
        if (!written) {
            if (lastError.isEmpty() || lastCode == 0) {
                lastCode = db.lastError().nativeErrorCode().toInt() & 0xff;
                lastError = db.lastError().databaseText();
            }
            db.rollback();
        }
    } else {
        lastCode = db.lastError().nativeErrorCode().toInt() & 0xff;
        lastError = db.lastError().databaseText();
    }
    if (written) {
        queued.clear();
        lastError.clear();
        return true;
    }
    if (damaged(lastCode)) {
        const QString reason = lastError;
        // What was queued refers to the old file; the caller writes again what still matters.
        queued.clear();
        if (keepAside() && open(filePath) && reopened)
            *reopened = true;
        if (!opened)
            lastError = reason;
        return false;
    }
    return false;
}

QHash<QString, HistoryStore::ServerTimes> HistoryStore::serverTimes()
{
    QHash<QString, ServerTimes> times;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.setForwardOnly(true);
    if (!opened || !query.exec(QStringLiteral("SELECT account, lastGood, lastPoll FROM servers")))
        return times;
    while (query.next())
        times.insert(query.value(0).toString(), {true, query.value(1).toLongLong(), query.value(2).toLongLong()});
    return times;
}

QHash<QString, QVector<HistoryEvent>> HistoryStore::lasting()
{
    QHash<QString, QVector<HistoryEvent>> found;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.setForwardOnly(true);
    if (!opened || !query.exec(QStringLiteral("SELECT server, kind, category, line, detail, began, ended, rowid "
                                              "FROM events WHERE ended IS NULL")))
        return found;
    while (query.next()) {
        const HistoryEvent event = eventAt(query);
        found[event.server].append(event);
    }
    return found;
}

QVector<HistoryEvent> HistoryStore::events(qint64 from)
{
    QVector<HistoryEvent> found;
    if (!opened)
        return found;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT COALESCE(s.name, e.server), e.kind, e.category, e.line, e.detail, e.began, "
                                 "e.ended, e.rowid FROM events e LEFT JOIN servers s ON s.account = e.server "
                                 "WHERE e.ended IS NULL OR e.ended >= ? ORDER BY e.began DESC"));
    query.addBindValue(from);
    if (!query.exec())
        return found;
    while (query.next()) {
        const HistoryEvent event = eventAt(query);
        found.append(event);
    }
    return found;
}

qint64 HistoryStore::size()
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    qint64 pages = 0, freePages = 0, pageSize = 0;
    if (exec(QStringLiteral("PRAGMA page_count"), &query) && query.next())
        pages = query.value(0).toLongLong();
    if (exec(QStringLiteral("PRAGMA freelist_count"), &query) && query.next())
        freePages = query.value(0).toLongLong();
    if (exec(QStringLiteral("PRAGMA page_size"), &query) && query.next())
        pageSize = query.value(0).toLongLong();
    return (pages - freePages) * pageSize;
}

void HistoryStore::prune(qint64 cutoff, qint64 maxBytes)
{
    if (!opened)
        return;
    queue(QStringLiteral("DELETE FROM events WHERE ended IS NOT NULL AND ended < ?"), {cutoff});
    if (!flush())
        return;
    // A tenth of what has ended at a time, oldest first, until the file is within its bound.
    for (int round = 0; round < 20 && size() > maxBytes; ++round) {
        queue(QStringLiteral("DELETE FROM events WHERE rowid IN (SELECT rowid FROM events WHERE ended IS NOT NULL "
                             "ORDER BY ended LIMIT MAX(1, (SELECT COUNT(*) FROM events) / 10))"),
              {});
        if (!flush())
            return;
    }
    exec(QStringLiteral("PRAGMA incremental_vacuum"));
}
