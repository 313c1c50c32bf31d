// The two tab pages, fed the way the server manager feeds them, and what the user does on them.
#include "TestSupport.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "notify/ExtActionManager.h"
#include "history/AlarmHistory.h"
#include "views/AlarmScriptLauncher.h"
#include "views/HistoryWindow.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoTreeItem.h"
#include "views/ServerInfoWidget.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QComboBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeView>

using namespace TestSupport;

namespace {

QTreeView* viewOf(QWidget* page)
{
    return page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
}

QStandardItemModel* modelOf(QWidget* page)
{
    return qobject_cast<QStandardItemModel*>(viewOf(page)->model());
}

// The rows below parent as the user sees them: text, icon, tooltip, "+" when expanded, "@" when current,
// "!" in orange.
QStringList dump(QTreeView* view, const QModelIndex& parent = {}, const QString& indent = {})
{
    auto* model = qobject_cast<QStandardItemModel*>(view->model());
    QStringList lines;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        QStandardItem* item = model->itemFromIndex(index);
        QString line = indent + item->text();
        if (auto* server = dynamic_cast<ServerAlarmsTreeItem*>(item))
            line += " <" + server->iconPath() + '>';
        else if (auto* info = dynamic_cast<ServerInfoTreeItem*>(item))
            line += " <" + info->iconPath() + '>';
        else if (auto* category = dynamic_cast<NotificationTreeItem*>(item))
            line += " <" + category->iconPath() + '>';
        if (item->data(Qt::ToolTipRole).isValid())
            line += " {" + item->data(Qt::ToolTipRole).toString().replace('\n', " / ") + '}';
        if (view->isExpanded(index))
            line += QLatin1String(" +");
        if (index == view->currentIndex())
            line += QLatin1String(" @");
        if (item->data(Qt::ForegroundRole).value<QBrush>().color() == QColor(0xE3, 0x6F, 0x10))
            line += QLatin1String(" !");
        lines << line << dump(view, index, indent + QLatin1String("  "));
    }
    return lines;
}

// Right-clicks the row (empty space when invalid) and returns the visible entries of the menu shown.
QStringList contextMenu(QWidget* page, const QModelIndex& index)
{
    QTreeView* view = viewOf(page);
    const QPoint pos = index.isValid() ? view->visualRect(index).center()
                                       : QPoint(view->viewport()->width() / 2, view->viewport()->height() - 3);
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier, pos);
    QStringList texts;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, &closer, [&texts] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                if (action->isVisible())
                    texts << action->text();
            menu->close();
        }
    });
    closer.start(5);
    const QPoint global = view->viewport()->mapToGlobal(pos);
    QContextMenuEvent event(QContextMenuEvent::Mouse, page->mapFromGlobal(global), global);
    QApplication::sendEvent(page, &event);
    return texts;
}

void trigger(QWidget* page, const QString& text)
{
    for (QAction* action : viewOf(page)->findChild<QMenu*>()->actions())
        if (action->text() == text)
            action->trigger();
}

} // namespace

class TestViews : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        MonitorSettings quiet;
        quiet.pollInterval = quiet.authRetryInterval = 600000;
        ServerManager::instance()->setSettings(quiet);
        alarms = new ServerAlarmsWidget;
        new AlarmScriptLauncher(alarms);
        info = new ServerInfoWidget;
        for (QWidget* page : {static_cast<QWidget*>(alarms), static_cast<QWidget*>(info)}) {
            page->resize(400, 600);
            page->show();
        }
    }

    void cleanup()
    {
        for (const auto& server : QList<std::shared_ptr<Server>>(announced))
            ServerManager::instance()->removeServer(server);
        announced.clear();
        delete alarms;
        delete info;
        for (const auto& action : QList<std::shared_ptr<ExtAction>>(ExtActionManager::instance()->actionList()))
            ExtActionManager::instance()->removeAction(action);
    }

    // Case file: steps of a server in, the Alarms rows and the page's last error states out.
    void alarmRows_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QList<bool>>("last");
        QTest::addColumn<QStringList>("attention");
        QFile file(QFINDTESTDATA("data/alarms/rows.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QString& text : QString::fromUtf8(file.readAll()).split("\n## ").mid(1)) {
            QStringList lines = text.split('\n'), steps, tree, attention;
            QList<bool> last;
            for (const QString& line : lines.mid(1)) {
                if (line.startsWith("> "))
                    steps << line.mid(2);
                else if (line.startsWith("= "))
                    tree << line.mid(2);
                else if (line.startsWith('*'))
                    attention << line.mid(2);
                else if (line.startsWith('!'))
                    for (const QString& state : line.mid(1).split(' ', Qt::SkipEmptyParts))
                        last << (state == "true");
            }
            QTest::newRow(qPrintable(lines.first())) << steps << tree << last << attention;
        }
    }

    void alarmRows()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, tree);
        QFETCH(QList<bool>, last);
        QFETCH(QStringList, attention);
        auto server = announce("Hall");
        // The state before the last step, then each change: how often a state is repeated is the page's affair.
        QList<bool> states{false};
        QObject context;
        connect(alarms, &ServerAlarmsWidget::errorStateChanged, &context, [&states](bool inError) {
            if (states.last() != inError)
                states << inError;
        });
        for (const QString& text : steps) {
            states = {states.last()};
            step(server, text);
        }
        QCOMPARE(dump(viewOf(alarms)), tree);
        QCOMPARE(states, last);
        QCOMPARE(alarms->attention(), attention);
    }

    void contextMenus_data()
    {
        QTest::addColumn<bool>("onInfo");
        QTest::addColumn<bool>("silenced");
        QTest::addColumn<QString>("target"); // row path: "0" server, "0/1" its second child...
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("server") << false << false << "0"
                                << QStringList{"Edit server", "Delete server", "Ignore notifications"};
        QTest::newRow("silenced server") << false << true << "0"
                                         << QStringList{"Edit server", "Delete server", "Unignore notifications"};
        QTest::newRow("active category") << false << false << "0/0" << QStringList{"Ignore notifications"};
        QTest::newRow("ignored category") << false << false << "0/1" << QStringList{"Unignore notifications"};
        QTest::newRow("ignore ran out") << false << false << "0/2" << QStringList{"Ignore notifications"};
        // Its own silence is the category's to end; the server's is the server row's.
        QTest::newRow("silenced server's category") << false << true << "0/0" << QStringList{};
        QTest::newRow("empty space") << false << false << "" << QStringList{};
        QTest::newRow("info server") << true << false << "0" << QStringList{"Edit server", "Delete server"};
    }

    void contextMenus()
    {
        QFETCH(bool, onInfo);
        QFETCH(bool, silenced);
        QFETCH(QString, target);
        QFETCH(QStringList, entries);
        auto server = announce("Hall");
        server->sysInfo = {{"name", "rec"}};
        server->initialized = true;
        emit server->infoUpdated();
        step(server, "r1|c1|");
        step(server, "ignore 1");
        rowOf(server)->hardwareItem->ignoreUntil = QDateTime::currentDateTime().addMSecs(-1);
        if (silenced)
            step(server, "silence");
        step(server, "r1|c1|");
        QWidget* page = onInfo ? static_cast<QWidget*>(info) : alarms;
        viewOf(page)->expandAll();
        QModelIndex index;
        for (const QString& part : target.split('/', Qt::SkipEmptyParts))
            index = viewOf(page)->model()->index(part.toInt(), 0, index);
        QCOMPARE(contextMenu(page, index).join(";"), entries.join(";"));
        // What the menu showed is what its entries do: server entries act only on server rows.
        trigger(page, "Delete server");
        QCOMPARE(ServerManager::instance()->serverList().size(), entries.contains("Delete server") ? 0 : 1);
    }

    // Named in the order of the rows, five at most; one server fewer in alarm changes the names and
    // raises nothing, one more in alarm raises the alarm again; deleting the last in alarm ends it.
    void attentionOfSeveral()
    {
        for (const char* name : {"A", "B", "C", "D", "E", "F", "G"})
            step(announce(name), "|c1|");
        step(announced.at(6), "?x");
        step(announced.at(0), "||");
        QCOMPARE(alarms->attention(),
                 QStringList({"B: Cameras", "C: Cameras", "D: Cameras", "E: Cameras", "F: Cameras", "and 1 more"}));
        QSignalSpy raised(alarms, &ServerAlarmsWidget::alarmRaised);
        QSignalSpy changed(alarms, &ServerAlarmsWidget::attentionChanged);
        step(announced.at(2), "||");
        QCOMPARE(changed.takeLast().value(0).toStringList(),
                 QStringList({"B: Cameras", "D: Cameras", "E: Cameras", "F: Cameras", "G: does not answer"}));
        QCOMPARE(raised.count(), 0);
        step(announced.at(0), "r1||");
        QCOMPARE(raised.count(), 1);
        // The one server left in alarm is deleted from the other page: the page is in order at once.
        for (int server : {0, 1, 3, 4, 5})
            step(announced.at(server), "||");
        QSignalSpy states(alarms, &ServerAlarmsWidget::errorStateChanged);
        viewOf(info)->setCurrentIndex(modelOf(info)->index(6, 0));
        info->onDeleteServer();
        for (QWidget* page : {static_cast<QWidget*>(alarms), static_cast<QWidget*>(info)})
            QVERIFY(modelOf(page)->rowCount() == 6 && modelOf(page)->item(5)->text() == "F");
        QVERIFY(states.size() == 1 && !states.first().first().toBool() &&
                changed.last().first().toStringList().isEmpty());
    }

    // Case files: the server's system information and licence in, the Information rows out.
    void informationRows_data() { caseFiles("info"); }

    void informationRows()
    {
        QFETCH(QString, file);
        QByteArray text = readFile(file);
        for (int days : {-1, 0, 1})
            text.replace("@day" + QByteArray::number(days),
                         QDate::currentDate().addDays(days).toString("yyyyMMdd").toLatin1());
        const QJsonObject json = QJsonDocument::fromJson(text).object();
        auto server = announce("Hall");
        server->initialized = true;
        server->sysInfo = json["sysinfo"].toObject();
        server->license = json["license"].toObject();
        server->infoError = json["error"].toString();
        emit server->infoUpdated();
        QStringList expected;
        for (const QJsonValue& line : json["tree"].toArray())
            expected << line.toString();
        QCOMPARE(dump(viewOf(info)), expected);
    }

    void scriptsOnAlarms()
    {
#ifdef Q_OS_WIN
        QSKIP("The starts are recorded by a POSIX shell script");
#endif
        QTemporaryDir dir;
        const QString script = dir.filePath("on alarm.sh"), log = dir.filePath("starts");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nprintf '%s %s %s\\n' \"$QUELVANE_EVENT\" \"$USER_SETTING\" \"$QUELVANE_ALARMS\" >> '" +
                   log.toUtf8() + "'\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        ExtActionManager::instance()->addAction(script);
        // The user's own environment comes along. Two starts may append in either order.
        qputenv("USER_SETTING", "kept");
        const auto starts = [&log] {
            QList<QByteArray> lines = readFile(log).split('\n');
            std::sort(lines.begin(), lines.end());
            return lines.join('\n');
        };
        auto hall = announce("Hall"), gate = announce("Gate");
        // Polls that keep the alarm, and a second server joining it, start nothing more; a fall re-arms.
        for (const char* text : {"||", "r1||", "r1||", "r1||"})
            step(hall, text);
        step(gate, "|g|");
        step(hall, "||");
        step(gate, "||");
        rowOf(gate)->recorderItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
        step(gate, "r9|\"g\"\\\n|h1");
        step(gate, "r9|\"g\"\\\n|h1");
        const QByteArray expected =
            "\nalarm kept [{\"server\":\"Gate\",\"host\":\"127.0.0.1\",\"port\":1,\"categories\":"
            "{\"cameras\":[\"\\\"g\\\"\\\\\\n\"],\"hardware\":[\"h1\"]}}]\n"
            "alarm kept "
            "[{\"server\":\"Hall\",\"host\":\"127.0.0.1\",\"port\":1,\"categories\":{\"recorder\":[\"r1\"]}}]";
        QTRY_COMPARE_WITH_TIMEOUT(starts(), expected, 20000);
        QTest::qWait(300);
        QCOMPARE(starts(), expected);
        // Over its size bound the document loses lines from its end and says so, still valid JSON.
        step(gate, "|" + QString(30, 'x') + "|" + QString("y,").repeated(40));
        const QByteArray cut = AlarmScriptLauncher::alarmsJson(modelOf(alarms), 200);
        QVERIFY2(cut.size() < 200 && cut.contains("\"truncated\":true"), cut.constData());
        QVERIFY(QJsonDocument::fromJson(cut).isArray());
        // A server that cannot be watched is named with its error.
        step(hall, "?Connection refused");
        const QByteArray named = R"({"server":"Hall","host":"127.0.0.1","port":1,"unreachable":"Connection refused")";
        QVERIFY(AlarmScriptLauncher::alarmsJson(modelOf(alarms)).contains(named + R"(,"categories":{}})"));
    }

    // A failure of the server while the ignore dialog is open deletes the category rows; the silence
    // chosen must still reach the rows its next good reply makes.
    void ignoreWhileTheServerFails()
    {
        RecorderSim sim;
        QVERIFY(sim.start());
        const QJsonObject camera{{"name", "Gate"}, {"streamName", "main"}, {"error", "down"}};
        const QJsonObject alarm{
            {"json", QJsonObject{{"health", QJsonObject{{"recorder", true}, {"cameras", false}, {"hardware", true}}},
                                 {"errorDetails", QJsonObject{{"cameras", QJsonArray{camera}}}}}}};
        QVERIFY(load(sim, {recorder("admin", {{"health", alarm}})}));
        ServerManager::instance()->setSettings(shortSettings());
        auto server = addServer(sim, "admin");
        announced << server;
        auto* row = static_cast<ServerAlarmsTreeItem*>(modelOf(alarms)->item(0));
        QTRY_VERIFY_WITH_TIMEOUT(row->camerasItem && !row->ok, 20000);
        viewOf(alarms)->expandAll();
        QCOMPARE(contextMenu(alarms, row->camerasItem->index()), QStringList{"Ignore notifications"});
        const auto ran = whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
            dialog->findChild<QSpinBox*>("hoursInput")->setValue(1);
            QVERIFY(load(sim, {recorder("admin", {{"health", QJsonObject{{"status", 500}}}})}));
            QTRY_COMPARE_WITH_TIMEOUT(row->rowCount(), 0, 20000);
            QVERIFY(load(sim, {recorder("admin", {{"health", alarm}})}));
            press(dialog, QDialogButtonBox::Ok);
        });
        trigger(alarms, "Ignore notifications");
        QVERIFY(*ran);
        QTRY_VERIFY_WITH_TIMEOUT(row->camerasItem && row->ok, 20000);
        QVERIFY(row->camerasItem->isIgnored() && row->camerasItem->rowCount() == 0);
        // The silence outlives an edit of the server whose authentication is refused, then retried.
        QVERIFY(load(sim, {recorder("admin", {{"auth", QJsonObject{{"status", 401}}}, {"health", alarm}})}));
        ServerManager::instance()->initServer(server);
        QTRY_VERIFY_WITH_TIMEOUT(!server->alarmsError.isEmpty() && row->rowCount() == 0, 20000);
        // Unreachable then, it is silenced whole through its row, at once and with no request while it has
        // no session: not by a cancelled dialog, for the time chosen in an accepted one; then unignored.
        QTRY_VERIFY_WITH_TIMEOUT(alarms->inError(), 20000);
        const int polls = countOf(sim, "admin", "health");
        viewOf(alarms)->setCurrentIndex(row->index());
        for (const auto button : {QDialogButtonBox::Cancel, QDialogButtonBox::Ok}) {
            whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
                for (const char* input : {"daysInput", "hoursInput", "minutesInput"})
                    dialog->findChild<QSpinBox*>(input)->setValue(input[0] == 'm' ? 30 : input[0] == 'h' ? 2 : 1);
                press(dialog, button);
            });
            trigger(alarms, "Ignore notifications");
            QTest::qWait(0);
            QCOMPARE(alarms->inError(), button == QDialogButtonBox::Cancel);
        }
        const qint64 left = QDateTime::currentDateTime().secsTo(server->ignoreUntil);
        QVERIFY(left > 86400 + 2 * 3600 + 30 * 60 - 5 && left <= 86400 + 2 * 3600 + 30 * 60);
        trigger(alarms, "Unignore notifications");
        QTest::qWait(0);
        QVERIFY(alarms->inError() && countOf(sim, "admin", "health") == polls);
        QVERIFY(load(sim, {recorder("admin", {{"health", alarm}})}));
        QTRY_VERIFY_WITH_TIMEOUT(row->camerasItem && server->alarmsError.isEmpty(), 20000);
        QVERIFY(waitForRequests(sim, "admin", "health", countOf(sim, "admin", "health") + 1));
        QVERIFY(row->ok && row->camerasItem->isIgnored());
        // Unignore brings the alarm back at once, with the refresh it asks for.
        QCOMPARE(contextMenu(alarms, row->camerasItem->index()), QStringList{"Unignore notifications"});
        trigger(alarms, "Unignore notifications");
        QTRY_VERIFY_WITH_TIMEOUT(!row->ok, 20000);
    }

    // The tooltip of an alarm line, a category and a server that cannot be watched says since when.
    void sinceWhen()
    {
        QDateTime now(QDate::currentDate(), QTime(8, 0));
        AlarmHistory::instance()->setClock([&now] { return now; });
        auto server = announce("Quay");
        server->polling = true;
        AlarmHistory::instance()->follow(ServerManager::instance());
        step(server, "|c1|");
        now = now.addSecs(25 * 60);
        step(server, "|c1|");
        const auto tooltip = [this](const QModelIndex& index) {
            const QPoint pos = viewOf(alarms)->visualRect(index).center();
            QHelpEvent help(QEvent::ToolTip, pos, viewOf(alarms)->viewport()->mapToGlobal(pos));
            QApplication::sendEvent(viewOf(alarms)->viewport(), &help);
            return QToolTip::text();
        };
        const QModelIndex cameras = modelOf(alarms)->index(1, 0, modelOf(alarms)->index(0, 0));
        viewOf(alarms)->expand(modelOf(alarms)->index(0, 0));
        viewOf(alarms)->expand(cameras);
        QCOMPARE(tooltip(cameras), QString("since 08:00, 25 min"));
        QCOMPARE(tooltip(modelOf(alarms)->index(0, 0, cameras)), QString("since 08:00, 25 min"));
        now = now.addDays(1).addSecs(3600);
        step(server, "?x");
        QCOMPARE(tooltip(modelOf(alarms)->index(0, 0)), QString("x\nsince 09:25, 0 min"));
        AlarmHistory::instance()->setClock([] { return QDateTime::currentDateTime(); });
    }

    // The history's table, its outage report per server, and its CSV read back.
    void historyWindow()
    {
        QTemporaryDir dir;
        const QDateTime origin(QDate(2026, 3, 2), QTime(8, 0));
        QDateTime now = origin;
        AlarmHistory history;
        history.setClock([&now] { return now; });
        history.open(dir.filePath("history.sqlite"));
        auto quay = std::make_shared<Server>("Quay", "q", 1, "l", "p"),
             dock = std::make_shared<Server>("Dock, \"north\"", "d", 1, "l", "p");
        for (const auto& server : {quay, dock}) {
            server->polling = server->initialized = true;
            history.addServer(server);
        }
        const auto at = [&](int minute, const std::shared_ptr<Server>& server, const QString& report) {
            now = origin.addSecs(60 * minute);
            step(server, report);
        };
        at(0, quay, "|c1|");
        at(10, dock, "?no answer,\nat all");
        at(30, quay, "||");
        at(50, quay, "r1||");
        at(70, dock, "||");
        now = origin.addSecs(90 * 60);
        HistoryWindow window(&history);
        auto* period = window.findChild<QComboBox*>("periodFilter");
        period->setCurrentIndex(period->findText("All"));
        window.reload();
        QCOMPARE(window.shownRows().size(), 8);
        // The outage report: per server, the time unreachable and in alarm per category.
        const auto* summary = window.findChild<QTableView*>("summaryView")->model();
        QCOMPARE(summary->index(0, 0).data().toString() + '|' + summary->index(0, 1).data().toString(),
                 QString("Dock, \"north\"|1 h 0 min"));
        QCOMPARE(summary->index(1, 2).data().toString() + '|' + summary->index(1, 3).data().toString(),
                 QString("40 min|30 min"));

        // The CSV, parsed by the rules of RFC 4180, holds the table row for row.
        QList<QStringList> records{{}};
        QString field;
        bool quoted = false;
        const QString text = QString::fromUtf8(window.csv());
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (quoted && c == '"' && text.mid(i + 1, 1) == "\"") {
                field += text[++i];
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && c == ',') {
                records.last() << std::exchange(field, QString());
            } else if (!quoted && c == '\r' && text.mid(i + 1, 1) == "\n") {
                ++i;
                records.last() << std::exchange(field, QString());
                records << QStringList();
            } else {
                field += c;
            }
        }
        records.removeLast();
        QCOMPARE(records.size(), 9);
        QCOMPARE(records[0], QStringList({"time", "server", "category", "line", "event", "duration_s"}));
        for (int row = 0; row < 8; ++row) {
            const HistoryWindow::Row& shown = window.shownRows()[row];
            QCOMPARE(QDateTime::fromString(records[row + 1][0], Qt::ISODate), shown.time);
            QCOMPARE(records[row + 1][1], shown.event.server);
            QCOMPARE(records[row + 1][4], QString(shown.began ? "began" : "ended"));
        }
        QCOMPARE(records[1].mid(1), QStringList({"Dock, \"north\"", "", "Cannot be watched: no answer,\nat all",
                                                 "ended", "3600"}));
        QVERIFY(window.exportCsv(dir.filePath("out.csv"), nullptr));
        QCOMPARE(readFile(dir.filePath("out.csv")), window.csv());

        // Filtered by server, the rows and the report keep to it.
        auto* servers = window.findChild<QComboBox*>("serverFilter");
        servers->setCurrentIndex(servers->findText("Quay"));
        window.reload();
        QCOMPARE(window.shownRows().size(), 6);
        QCOMPARE(summary->rowCount(), 1);
    }

private:
    // One step of a server's life: "r1|c1,c2|h1" a good poll with these recorder, cameras and hardware
    // lines, "!text" a failure, "?text" one that leaves the server unreachable, "wait" a new
    // authentication, "ignore N" / "expand N" on category row N, "silence" / "unsilence" the server.
    void step(const std::shared_ptr<Server>& server, const QString& text)
    {
        if (text.endsWith(QLatin1String("silence"))) {
            server->ignoreUntil = text.startsWith(QLatin1Char('u')) ? QDateTime::currentDateTime().addMSecs(-1)
                                                                    : QDateTime({2100, 1, 2}, {3, 4});
            return;
        }
        if (text.startsWith(QLatin1String("ignore ")) || text.startsWith(QLatin1String("expand ")) ||
            text.startsWith(QLatin1String("select "))) {
            auto* category = static_cast<NotificationTreeItem*>(rowOf(server)->child(text.midRef(7, 1).toInt()));
            if (text.startsWith(QLatin1Char('i')))
                category->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
            else if (text.startsWith(QLatin1Char('e')))
                viewOf(alarms)->expand(category->index());
            else // "select C/L": line L of category C
                viewOf(alarms)->setCurrentIndex(category->child(text.midRef(9).toInt())->index());
            return;
        }
        server->initialized = text != QLatin1String("wait");
        if (!server->initialized)
            server->alarmsError.clear();
        const QStringList lists = text.split(QLatin1Char('|'));
        if (server->initialized) {
            const bool failed = text.startsWith(QLatin1Char('!')) || text.startsWith(QLatin1Char('?'));
            server->alarmsError = failed ? text.mid(1) : QString();
            if (!failed || text.startsWith(QLatin1Char('?')))
                server->unreachable = server->alarmsError;
            server->recorderErrors = lists.value(0).split(QLatin1Char(','), Qt::SkipEmptyParts);
            server->camerasErrors = lists.value(1).split(QLatin1Char(','), Qt::SkipEmptyParts);
            server->hardwareErrors = lists.value(2).split(QLatin1Char(','), Qt::SkipEmptyParts);
            if (lists.size() < 3)
                server->clearAlarms();
        }
        emit server->alarmsUpdated();
    }

    ServerAlarmsTreeItem* rowOf(const std::shared_ptr<Server>& server)
    {
        for (int row = 0; row < modelOf(alarms)->rowCount(); ++row) {
            auto* item = dynamic_cast<ServerAlarmsTreeItem*>(modelOf(alarms)->item(row));
            if (item && item->server == server)
                return item;
        }
        return nullptr;
    }

    std::shared_ptr<Server> announce(const QString& name)
    {
        announced << ServerManager::instance()->addServer(name, "127.0.0.1", 1, "l", "p");
        // No traffic: these servers are fed by hand.
        announced.last()->initTimer.stop();
        return announced.last();
    }

    ServerAlarmsWidget* alarms = nullptr;
    ServerInfoWidget* info = nullptr;
    QList<std::shared_ptr<Server>> announced;
};

QTEST_MAIN(TestViews)
#include "TestViews.moc"
