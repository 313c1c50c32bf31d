#include "history/AlarmHistory.h"

#include "monitor/Server.h"
#include "monitor/ServerManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QSet>

namespace {

// Writes gathered this long go in one transaction: a round of polls is one write, not one per server.
constexpr int flushDelay = 1000;
// A file that could not be written is tried again this much later.
constexpr int retryDelay = 30000;
// While something lasts, when each server was last seen is written at most this often, so that what a
// killed program left open ends close to when it was last watched.
constexpr int heartbeatInterval = 60000;
constexpr int pruneInterval = 24 * 3600 * 1000;

const QString recorder = QStringLiteral("recorder");
const QString cameras = QStringLiteral("cameras");
const QString hardware = QStringLiteral("hardware");

qint64 ms(const QDateTime& time)
{
    return time.toMSecsSinceEpoch();
}

} // namespace

AlarmHistory* AlarmHistory::instance()
{
    static AlarmHistory* const history = new AlarmHistory;
    return history;
}

AlarmHistory::AlarmHistory(QObject* parent) : QObject(parent), clock([] { return QDateTime::currentDateTime(); })
{
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &AlarmHistory::flush);
    connect(&heartbeatTimer, &QTimer::timeout, this, &AlarmHistory::heartbeat);
    heartbeatTimer.start(heartbeatInterval);
    connect(&pruneTimer, &QTimer::timeout, this, [this] { store.prune(ms(now().addDays(-keptDays)), maxBytes); });
    pruneTimer.start(pruneInterval);
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            for (Watched& each : watched)
                each.timesDirty = each.inFile;
            flush();
        });
    }
}

AlarmHistory::~AlarmHistory()
{
    for (Watched& each : watched)
        each.timesDirty = each.inFile;
    flush();
}

void AlarmHistory::setClock(std::function<QDateTime()> newClock)
{
    clock = std::move(newClock);
}

QDateTime AlarmHistory::now() const
{
    return clock();
}

void AlarmHistory::open(const QString& path)
{
    if (store.open(path)) {
        store.prune(ms(now().addDays(-keptDays)), maxBytes);
        lastRunTimes = store.serverTimes();
        lastRunLasting = store.lasting();
        for (Watched& each : watched)
            takeIn(each);
        store.flush();
    }
    wasAvailable = available();
    emit changed();
}

QString AlarmHistory::unavailableReason() const
{
    if (available() || store.path().isEmpty())
        return QString();
    return tr("The alarm history is not being kept: %1: %2").arg(QDir::toNativeSeparators(store.path()), store.error());
}

void AlarmHistory::follow(ServerManager* manager)
{
    connect(manager, &ServerManager::serverAdded, this, &AlarmHistory::addServer, Qt::UniqueConnection);
    connect(manager, &ServerManager::serverRemoved, this, &AlarmHistory::removeServer, Qt::UniqueConnection);
    for (const auto& server : manager->serverList())
        addServer(server);
}

QString AlarmHistory::key(HistoryEvent::Kind kind, const QString& category, const QString& line)
{
    return QString::number(kind) + QLatin1Char('\n') + category + QLatin1Char('\n') + line;
}

void AlarmHistory::addServer(const std::shared_ptr<Server>& server)
{
    if (watched.contains(server.get()))
        return;
    Watched& added = watched[server.get()];
    added.account = server->account();
    added.name = server->name;
    if (store.isOpen()) {
        takeIn(added);
        scheduleFlush();
    }
    connect(server.get(), &Server::alarmsUpdated, this, [this, record = server.get()] { observe(record); });
}

void AlarmHistory::removeServer(const std::shared_ptr<Server>& server)
{
    server->disconnect(this);
    auto it = watched.find(server.get());
    if (it == watched.end())
        return;
    endAll(*it);
    it->timesDirty = it->inFile;
    flush();
    watched.erase(it);
}

void AlarmHistory::takeIn(Watched& server)
{
    const HistoryStore::ServerTimes times = lastRunTimes.take(server.account);
    if (!times.found) {
        store.queue(QStringLiteral("INSERT OR IGNORE INTO servers (account, name) VALUES (?, ?)"),
                    {server.account, server.name});
    } else {
        store.queue(QStringLiteral("UPDATE servers SET name = ? WHERE account = ?"), {server.name, server.account});
        if (!server.lastGood.isValid())
            server.lastGood = QDateTime::fromMSecsSinceEpoch(times.lastGood);
        if (!server.lastPoll.isValid())
            server.lastPoll = QDateTime::fromMSecsSinceEpoch(times.lastPoll);
    }
    server.inFile = true;
    for (const HistoryEvent& stored : lastRunLasting.take(server.account)) {
        const QString k = key(stored.kind, stored.category, stored.line);
        const auto mine = server.lasting.find(k);
        // What lines and silences last before the program stopped it saw with its last good poll; whether
        // a server could be reached, with its last poll.
        const QDateTime lastSeen = QDateTime::fromMSecsSinceEpoch(
            stored.kind == HistoryEvent::Line || stored.kind == HistoryEvent::Category ? times.lastGood
                                                                                         : times.lastPoll);
        if (mine != server.lasting.end()) {
            mine->began = qMin(mine->began, stored.began);
        } else if (!server.reported && stored.kind != HistoryEvent::Silence) {
            Lasting lasting{stored.kind, stored.category, stored.line, stored.detail, stored.began, lastSeen};
            server.lasting.insert(k, lasting);
        } else {
            // Ended while nobody watched, or a silence, which lives only as long as the program.
            queueEnd(server.account, stored.kind, stored.category, stored.line, stored.began, lastSeen);
        }
    }
    for (const Lasting& lasting : qAsConst(server.lasting))
        insert(server, lasting);
}

void AlarmHistory::observe(Server* server)
{
    const auto it = watched.find(server);
    if (it == watched.end())
        return;
    Watched& w = *it;
    const QDateTime t = now();
    // Renamed or edited, the server keeps its history.
    const QString account = server->account();
    if (w.inFile && (account != w.account || server->name != w.name)) {
        store.queue(QStringLiteral("UPDATE OR IGNORE servers SET account = ?, name = ? WHERE account = ?"),
                    {account, server->name, w.account});
        if (account != w.account)
            store.queue(QStringLiteral("UPDATE OR IGNORE events SET server = ? WHERE server = ?"), {account, w.account});
        scheduleFlush();
    }
    w.account = account;
    w.name = server->name;

    const QDateTime silenceFields[] = {server->ignoreUntil, server->recorderIgnoreUntil, server->camerasIgnoreUntil,
                                       server->hardwareIgnoreUntil};
    if (!std::equal(std::begin(silenceFields), std::end(silenceFields), std::begin(w.silenceFields)) ||
        (w.silenceDue.isValid() && w.silenceDue <= t)) {
        std::copy(std::begin(silenceFields), std::end(silenceFields), std::begin(w.silenceFields));
        observeSilences(w, t);
    }

    const bool good = server->polling && server->initialized && server->alarmsError.isEmpty();
    const bool repeated = good && w.reported && !w.gap && server->recorderErrors == w.seen[0] &&
                          server->camerasErrors == w.seen[1] && server->hardwareErrors == w.seen[2];
    if (repeated) {
        w.lastGood = t;
    } else if (good) {
        w.seen[0] = server->recorderErrors;
        w.seen[1] = server->camerasErrors;
        w.seen[2] = server->hardwareErrors;
        const std::pair<const QString&, const QStringList&> categories[] = {
            {recorder, server->recorderErrors}, {cameras, server->camerasErrors}, {hardware, server->hardwareErrors}};
        QSet<QString> present;
        for (const auto& category : categories) {
            for (const QString& line : category.second)
                present.insert(key(HistoryEvent::Line, category.first, line));
            if (!category.second.isEmpty())
                present.insert(key(HistoryEvent::Category, category.first, QString()));
        }
        // Still there: whatever the last run left open goes on in this one.
        for (const QString& k : qAsConst(present)) {
            const auto lasting = w.lasting.find(k);
            if (lasting != w.lasting.end())
                lasting->lastRunEnd = QDateTime();
        }
        const QDateTime gone = w.gap && w.lastGood.isValid() ? w.lastGood : t;
        for (const QString& k : w.lasting.keys()) {
            const HistoryEvent::Kind kind = w.lasting.value(k).kind;
            if ((kind == HistoryEvent::Line || kind == HistoryEvent::Category) && !present.contains(k))
                end(w, k, gone);
        }
        for (const auto& category : categories) {
            if (!category.second.isEmpty() && !w.lasting.contains(key(HistoryEvent::Category, category.first, {})))
                begin(w, HistoryEvent::Category, category.first, QString(), QString(), t);
            for (const QString& line : category.second) {
                if (!w.lasting.contains(key(HistoryEvent::Line, category.first, line)))
                    begin(w, HistoryEvent::Line, category.first, line, QString(), t);
            }
        }
        w.lastGood = t;
        w.gap = false;
        w.reported = true;
    }
    if (server->initialized)
        w.lastPoll = t;

    static const QString unreachable = key(HistoryEvent::Unreachable, QString(), QString());
    if (!server->unreachable.isEmpty()) {
        if (!w.lasting.contains(unreachable))
            begin(w, HistoryEvent::Unreachable, QString(), QString(), server->unreachable, t);
        else
            w.lasting[unreachable].lastRunEnd = QDateTime();
        w.gap = true;
    } else if (w.reported && w.lasting.contains(unreachable)) {
        end(w, unreachable, t);
    }
}

void AlarmHistory::observeSilences(Watched& w, const QDateTime& at)
{
    // In the order of silenceFields: the whole server, then each category.
    const QString categories[] = {QString(), recorder, cameras, hardware};
    w.silenceDue = QDateTime();
    for (int i = 0; i < 4; ++i) {
        const QDateTime& field = w.silenceFields[i];
        const QString& category = categories[i];
        const QDateTime until = field.isValid() && field > at ? field : QDateTime();
        if (until.isValid() && (!w.silenceDue.isValid() || until < w.silenceDue))
            w.silenceDue = until;
        const QString k = key(HistoryEvent::Silence, category, QString());
        const auto lasting = w.lasting.constFind(k);
        if (lasting != w.lasting.constEnd()) {
            const QDateTime planned = QDateTime::fromString(lasting->detail, Qt::ISODateWithMs);
            if (until == planned)
                continue;
            // Ended by the user, or run out since the last report.
            end(w, k, planned.isValid() && planned < at ? planned : at);
        }
        if (until.isValid())
            begin(w, HistoryEvent::Silence, category, QString(), until.toString(Qt::ISODateWithMs), at);
    }
}

void AlarmHistory::begin(Watched& w, HistoryEvent::Kind kind, const QString& category, const QString& line,
                         const QString& detail, const QDateTime& at)
{
    const Lasting lasting{kind, category, line, detail, at, QDateTime()};
    w.lasting.insert(key(kind, category, line), lasting);
    insert(w, lasting);
}

void AlarmHistory::insert(const Watched& w, const Lasting& lasting)
{
    if (!w.inFile)
        return;
    store.queue(QStringLiteral("INSERT OR IGNORE INTO events (server, kind, category, line, detail, began) "
                               "VALUES (?, ?, ?, ?, ?, ?)"),
                {w.account, int(lasting.kind), lasting.category, lasting.line, lasting.detail, ms(lasting.began)});
    scheduleFlush();
}

void AlarmHistory::end(Watched& w, const QString& k, const QDateTime& at)
{
    const Lasting lasting = w.lasting.take(k);
    if (!w.inFile)
        return;
    queueEnd(w.account, lasting.kind, lasting.category, lasting.line, lasting.began,
             lasting.lastRunEnd.isValid() ? lasting.lastRunEnd : at);
    w.timesDirty = true;
    scheduleFlush();
}

void AlarmHistory::queueEnd(const QString& account, HistoryEvent::Kind kind, const QString& category,
                            const QString& line, const QDateTime& began, const QDateTime& ended)
{
    // Never before it began: a clock set back, or a server last seen before the stretch was stored.
    store.queue(QStringLiteral("UPDATE events SET ended = ? WHERE server = ? AND kind = ? AND category = ? AND "
                               "line = ? AND began = ?"),
                {ms(qMax(ended, began)), account, int(kind), category, line, ms(began)});
}

void AlarmHistory::endAll(Watched& w)
{
    const QDateTime t = now();
    for (const QString& k : w.lasting.keys()) {
        const HistoryEvent::Kind kind = w.lasting.value(k).kind;
        const QDateTime lastSeen = kind == HistoryEvent::Line || kind == HistoryEvent::Category ? w.lastGood
                                   : kind == HistoryEvent::Unreachable                          ? w.lastPoll
                                                                                                : t;
        end(w, k, lastSeen.isValid() ? qMin(lastSeen, t) : t);
    }
}

QDateTime AlarmHistory::since(const Server& server, HistoryEvent::Kind kind, const QString& category,
                              const QString& line) const
{
    const auto it = watched.constFind(&server);
    return it == watched.constEnd() ? QDateTime() : it->lasting.value(key(kind, category, line)).began;
}

QVector<HistoryEvent> AlarmHistory::events(const QDateTime& from)
{
    flush();
    if (available())
        return store.events(ms(from));
    // Without the file, what lasts now is still known.
    QVector<HistoryEvent> lasting;
    for (const Watched& w : qAsConst(watched)) {
        for (const Lasting& each : w.lasting) {
            HistoryEvent event;
            event.server = w.name;
            event.kind = each.kind;
            event.category = each.category;
            event.line = each.line;
            event.detail = each.detail;
            event.began = each.began;
            lasting.append(event);
        }
    }
    std::sort(lasting.begin(), lasting.end(),
              [](const HistoryEvent& a, const HistoryEvent& b) { return a.began > b.began; });
    return lasting;
}

void AlarmHistory::scheduleFlush()
{
    if (!flushTimer.isActive())
        flushTimer.start(flushDelay);
}

void AlarmHistory::flush()
{
    flushTimer.stop();
    for (Watched& w : watched) {
        if (!w.inFile || !w.timesDirty)
            continue;
        w.timesDirty = false;
        w.timesWritten = now();
        store.queue(QStringLiteral("UPDATE servers SET lastGood = ?, lastPoll = ? WHERE account = ?"),
                    {w.lastGood.isValid() ? ms(w.lastGood) : 0, w.lastPoll.isValid() ? ms(w.lastPoll) : 0,
                     w.account});
    }
    const bool hadWrites = store.hasQueued();
    bool reopened = false;
    if (!store.flush(&reopened) && reopened) {
        // A damaged file was set aside: the new one takes what lasts now.
        lastRunTimes.clear();
        lastRunLasting.clear();
        for (Watched& w : watched)
            takeIn(w);
        store.flush();
    }
    if (store.hasQueued())
        flushTimer.start(retryDelay);
    if (hadWrites || available() != wasAvailable) {
        wasAvailable = available();
        emit changed();
    }
}

void AlarmHistory::heartbeat()
{
    if (!store.isOpen() && !store.path().isEmpty()) {
        open(store.path());
        return;
    }
    const QDateTime t = now();
    for (Watched& w : watched) {
        if (w.inFile && !w.lasting.isEmpty() && (!w.timesWritten.isValid() || w.timesWritten.msecsTo(t) >= heartbeatInterval)) {
            w.timesDirty = true;
            scheduleFlush();
        }
    }
}

QString AlarmHistory::durationText(qint64 duration)
{
    const qint64 minutes = qMax<qint64>(0, duration) / 60000;
    if (minutes >= 24 * 60)
        return tr("%1 d %2 h").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
    if (minutes >= 60)
        return tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    return tr("%1 min").arg(minutes);
}

QString AlarmHistory::sinceText(const QDateTime& began) const
{
    const QDateTime t = now();
    const QLocale locale;
    const QString time = began.toString(QStringLiteral("HH:mm"));
    const QString when = began.date() == t.date()
                             ? time
                             : locale.toString(began.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
    return tr("since %1, %2").arg(when, durationText(began.msecsTo(t)));
}
