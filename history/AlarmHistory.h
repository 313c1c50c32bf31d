#pragma once

#include "history/HistoryEvent.h"
#include "history/HistoryStore.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class Server;
class ServerManager;

// When each alarm line, category in alarm, server that cannot be watched and silence began and ended,
// read from the servers' own reports and kept in history.sqlite. It knows what lasts now even when the
// file cannot be used, so "since when" never depends on the file.
class AlarmHistory : public QObject
{
    Q_OBJECT

public:
    static AlarmHistory* instance();
    explicit AlarmHistory(QObject* parent = nullptr);
    ~AlarmHistory() override;

    static constexpr qint64 keptDays = 180;
    static constexpr qint64 defaultMaxBytes = 64 * 1024 * 1024;

    // Tests give their own clock; every time recorded comes from it.
    void setClock(std::function<QDateTime()> clock);
    QDateTime now() const;
    void setMaxBytes(qint64 bytes) { maxBytes = bytes; }

    // The file; servers added before are taken in then.
    void open(const QString& path);
    bool available() const { return store.isOpen() && store.error().isEmpty(); }
    // Why the history is not being kept, naming the file; empty while it is.
    QString unavailableReason() const;

    // Every server of the manager, from now on.
    void follow(ServerManager* manager);
    void addServer(const std::shared_ptr<Server>& server);
    void removeServer(const std::shared_ptr<Server>& server);

    // Since when it lasts; null when it does not.
    QDateTime since(const Server& server, HistoryEvent::Kind kind, const QString& category = QString(),
                    const QString& line = QString()) const;
    // The events of the period, from the file and what is still on its way there, newest first.
    QVector<HistoryEvent> events(const QDateTime& from);
    void flush();

    // "2 h 13 min", for the user.
    static QString durationText(qint64 ms);
    // "since 14:02, 2 h 13 min": the date too when it is not today.
    QString sinceText(const QDateTime& began) const;

signals:
    // Something new was written, or the file became usable or unusable.
    void changed();

private:
    struct Lasting
    {
        HistoryEvent::Kind kind;
        QString category;
        QString line;
        QString detail;
        QDateTime began;
        // Left open by the last run: ends, if it is gone, when that run last saw the server.
        QDateTime lastRunEnd;
    };
    struct Watched
    {
        QString account;
        QString name;
        QHash<QString, Lasting> lasting;
        QHash<QString, QDateTime> silences; // "" for the whole server, else the category
        QDateTime lastGood;
        QDateTime lastPoll;
        QDateTime timesWritten;
        // Not watched since lastGood: the server could not be reached, or the program did not run.
        bool gap = true;
        // A good report came this run: what the last run left open and is not there has ended.
        bool reported = false;
        bool inFile = false;
        bool timesDirty = false;
        // What the last report and silences said, so that a report repeating them costs a comparison.
        QStringList seen[3];
        QDateTime silenceFields[4];
        QDateTime silenceDue;
    };

    static QString key(HistoryEvent::Kind kind, const QString& category, const QString& line);
    void observe(Server* server);
    void takeIn(Watched& watched);
    // The silences of watched.silenceFields as of at.
    void observeSilences(Watched& watched, const QDateTime& at);
    void begin(Watched& watched, HistoryEvent::Kind kind, const QString& category, const QString& line,
               const QString& detail, const QDateTime& at);
    void end(Watched& watched, const QString& key, const QDateTime& at);
    // Ends all that lasts as of when the server was last watched: it no longer is.
    void endAll(Watched& watched);
    void insert(const Watched& watched, const Lasting& lasting);
    void queueEnd(const QString& account, HistoryEvent::Kind kind, const QString& category, const QString& line,
                  const QDateTime& began, const QDateTime& ended);
    void scheduleFlush();
    void heartbeat();

    std::function<QDateTime()> clock;
    HistoryStore store;
    QHash<const Server*, Watched> watched;
    // What the file held at open for servers not taken in yet.
    QHash<QString, HistoryStore::ServerTimes> lastRunTimes;
    QHash<QString, QVector<HistoryEvent>> lastRunLasting;
    QTimer flushTimer;
    QTimer heartbeatTimer;
    QTimer pruneTimer;
    qint64 maxBytes = defaultMaxBytes;
    bool wasAvailable = false;
};
