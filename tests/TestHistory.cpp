// The alarm history on a real SQLite file, driven by a server's reports and a clock of the test's own.
#include "TestSupport.h"
#include "history/AlarmHistory.h"

#include <QSqlDatabase>
#include <QSqlQuery>

using namespace TestSupport;

namespace {

const QDateTime origin(QDate(2026, 3, 2), QTime(8, 0));
const char* const kinds[] = {"line", "category", "unreachable", "silence"};

QString minutes(const QDateTime& time)
{
    return time.isNull() ? QString() : QString::number(origin.secsTo(time) / 60);
}

QStringList render(const QVector<HistoryEvent>& events)
{
    QVector<HistoryEvent> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(), [](const HistoryEvent& a, const HistoryEvent& b) {
        return std::make_tuple(a.began, int(a.kind) == 0, a.category, a.line) <
               std::make_tuple(b.began, int(b.kind) == 0, b.category, b.line);
    });
    QStringList lines;
    for (const HistoryEvent& e : sorted)
        lines << QString("%1: %2/%3/%4/%5 %6-%7")
                     .arg(e.server, kinds[e.kind], e.category, e.line,
                          e.kind == HistoryEvent::Unreachable ? e.detail : QString(), minutes(e.began),
                          minutes(e.ended));
    return lines;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QDateTime clock = origin;
    qint64 maxBytes = AlarmHistory::defaultMaxBytes;

    std::unique_ptr<AlarmHistory> start(const QString& path, const std::shared_ptr<Server>& server)
    {
        auto history = std::make_unique<AlarmHistory>();
        history->setClock([this] { return clock; });
        history->setMaxBytes(maxBytes);
        history->open(path);
        history->addServer(server);
        return history;
    }

    // One step of a case at the clock's minute.
    void step(const std::shared_ptr<Server>& server, const QString& action, std::unique_ptr<AlarmHistory>& history,
              const QString& path)
    {
        const QStringList words = action.split(' ');
        if (words[0] == "restart") {
            history.reset();
            // Silences and the session live as long as the program.
            server->ignoreUntil = server->recorderIgnoreUntil = server->camerasIgnoreUntil =
                server->hardwareIgnoreUntil = QDateTime();
            history = start(path, server);
            return;
        }
        if (words[0] == "limit") {
            maxBytes = words[1].toLongLong();
            return;
        }
        if (words[0] == "rename") {
            server->name = words[1];
        } else if (words[0].endsWith("silence")) {
            const QString category = words.size() > 2 || (words.size() == 2 && words[0] == "unsilence") ? words[1]
                                                                                                           : QString();
            QDateTime& until = category == "recorder"  ? server->recorderIgnoreUntil
                               : category == "cameras" ? server->camerasIgnoreUntil
                               : category == "hardware" ? server->hardwareIgnoreUntil
                                                        : server->ignoreUntil;
            until = words[0] == "silence" ? clock.addSecs(60 * words.last().toInt()) : clock.addMSecs(-1);
        } else {
            const bool failed = action.startsWith('!') || action.startsWith('?');
            server->alarmsError = failed ? action.mid(1) : QString();
            server->unreachable = action.startsWith('?') ? action.mid(1) : QString();
            const QStringList lists = failed ? QStringList() : action.split('|');
            server->recorderErrors = lists.value(0).split(',', Qt::SkipEmptyParts);
            server->camerasErrors = lists.value(1).split(',', Qt::SkipEmptyParts);
            server->hardwareErrors = lists.value(2).split(',', Qt::SkipEmptyParts);
        }
        emit server->alarmsUpdated();
    }

private slots:
    void cases_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("since");
        QFile file(QFINDTESTDATA("data/history/cases.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QString& text : QString::fromUtf8(file.readAll()).split("\n## ").mid(1)) {
            const QStringList lines = text.trimmed().split('\n');
            QStringList steps, expected, since;
            for (const QString& line : lines.mid(1))
                (line.startsWith("= ") ? expected : line.startsWith("since ") ? since : steps) << line;
            QTest::newRow(qPrintable(lines.first())) << steps << expected.replaceInStrings(QRegularExpression("^= "), "")
                                                     << since;
        }
    }

    // Each change recorded as it happens, in order, at the time it happened.
    void cases()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, since);
        const QString path = dir.filePath(QString("%1/history.sqlite").arg(QTest::currentDataTag()));
        clock = origin;
        maxBytes = AlarmHistory::defaultMaxBytes;
        auto server = std::make_shared<Server>("Hall", "127.0.0.1", 80, "hall", "pw");
        server->polling = server->initialized = true;
        auto history = start(path, server);
        for (const QString& line : steps) {
            clock = origin.addSecs(60 * line.section(' ', 0, 0).toLongLong());
            step(server, line.section(' ', 1), history, path);
        }
        for (const QString& line : since) {
            const QStringList words = line.split(' ');
            const auto kind = HistoryEvent::Kind(std::find(std::begin(kinds), std::end(kinds), words[1]) - kinds);
            QCOMPARE(minutes(history->since(*server, kind, words[2], words[3])), words.last());
        }
        QCOMPARE(render(history->events(origin.addYears(-1))), expected);
        // What is stored reads the same from a new start.
        history.reset();
        QCOMPARE(render(start(path, server)->events(origin.addYears(-1))), expected);
        QVERIFY(!(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));
    }

    // A file that cannot be used costs only the history: what lasts is still known, and a damaged file is
    // kept aside for a new one.
    void unusableFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("damaged") << "damaged";
        QTest::newRow("locked by another program") << "locked";
        QTest::newRow("locked while it runs") << "locked later";
        QTest::newRow("folder cannot be made") << "folder";
    }

    void unusableFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir own;
        QString path = own.filePath("history.sqlite");
        if (kind == "damaged")
            QVERIFY(writeFile(path, QByteArray("SQLite format 3") + QByteArray(4096, '\x7f')));
        if (kind == "folder") {
            QVERIFY(writeFile(own.filePath("file"), "x"));
            path = own.filePath("file/history.sqlite");
        }
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(path);
            QSqlQuery lock(other);
            if (kind == "locked") {
                QVERIFY(other.open() && lock.exec("CREATE TABLE t (x)") && lock.exec("BEGIN EXCLUSIVE") &&
                        lock.exec("INSERT INTO t VALUES (1)"));
            }
            clock = origin;
            auto server = std::make_shared<Server>("Hall", "127.0.0.1", 80, "hall", "pw");
            server->polling = server->initialized = true;
            std::unique_ptr<AlarmHistory> history = start(path, server);
            if (kind == "locked later") {
                QVERIFY(history->available() && other.open() && lock.exec("BEGIN EXCLUSIVE") &&
                        lock.exec("CREATE TABLE t (x)"));
            }
            step(server, "|c1|", history, path);
            QCOMPARE(minutes(history->since(*server, HistoryEvent::Line, "cameras", "c1")), QString("0"));
            if (kind == "damaged") {
                QVERIFY(history->available());
                QCOMPARE(QDir(own.path()).entryList({"history.sqlite.damaged-*"}).size(), 1);
                QCOMPARE(render(history->events(origin)), QStringList({"Hall: category/cameras// 0-",
                                                                       "Hall: line/cameras/c1/ 0-"}));
            } else {
                QCOMPARE(render(history->events(origin)).size(), 2);
                QVERIFY(!history->available());
                QVERIFY2(history->unavailableReason().contains(QDir::toNativeSeparators(path)),
                         qPrintable(history->unavailableReason()));
            }
            if (kind.startsWith("locked")) {
                // Once the other program lets go, the history is kept again, with what came meanwhile.
                lock.exec("ROLLBACK");
                if (kind == "locked")
                    history->open(path);
                QCOMPARE(render(history->events(origin)).size(), 2);
                QVERIFY(history->available());
            }
        }
        QSqlDatabase::removeDatabase("other");
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "TestHistory.moc"
