#include "ModalDriver.h"
#include "ViewDriver.h"
#include "ViewTestSupport.h"
#include "app/MainWindow.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "tools/recorder-sim/RecorderSim.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoWidget.h"

#include <QJsonArray>
#include <QTabWidget>
#include <QtTest>

using namespace ViewTest;

class TestAlarmsView : public QObject
{
    Q_OBJECT

    ServerAlarmsTreeItem* row(int index) const { return dynamic_cast<ServerAlarmsTreeItem*>(model->item(index, 0)); }
    QModelIndex indexOf(QStandardItem* item) const { return model->indexFromItem(item); }

    ServerAlarmsWidget* page = nullptr;
    ServerInfoWidget* infoPage = nullptr;
    QTreeView* view = nullptr;
    QStandardItemModel* model = nullptr;
    Servers servers;

private slots:
    void initTestCase() { quietTimers(); }

    void init()
    {
        page = new ServerAlarmsWidget;
        infoPage = new ServerInfoWidget;
        page->resize(400, 500);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page));
        view = viewOf(page);
        model = modelOf(page);
        QVERIFY(model);
    }

    void cleanup()
    {
        servers.clear();
        delete page;
        delete infoPage;
    }

    void pageLayout()
    {
        QVERIFY(!page->tabHighlighted);
        QStringList texts;
        for (QAction* action : view->findChild<QMenu*>()->actions()) {
            texts << action->text();
        }
        QCOMPARE(texts,
                 QStringList({"Edit server", "Delete server", "Ignore notifications", "Unignore notifications"}));
        QCOMPARE(view->iconSize(), QSize(32, 32));
        QVERIFY(view->isHeaderHidden());
        QCOMPARE(view->font().pointSize(), 10);
    }

    void refresh_data()
    {
        QTest::addColumn<QStringList>("before"); // cameras of an earlier good poll; "-" for none
        QTest::addColumn<bool>("ignoreCameras");
        QTest::addColumn<bool>("initialized");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("recorder");
        QTest::addColumn<QStringList>("cameras");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<int>("children");
        QTest::addColumn<QList<bool>>("states");

        const QStringList none{"-"};
        const QStringList ok;
        const QStringList c1{"c1"};
        const QString refused = QStringLiteral("Connection refused");
        // A successful refresh emits four times: three category rebuilds with the old ok, then the new one.
        QTest::newRow("waiting") << none << false << false << QString() << ok << ok << ":icons/server-wait"
                                 << "Connecting..." << 0 << QList<bool>{false};
        QTest::newRow("failed") << none << false << true << refused << ok << ok << ":icons/forbidden" << refused << 0
                                << QList<bool>{false};
        QTest::newRow("ok") << none << false << true << QString() << ok << ok << ":icons/server-ok" << QString() << 3
                            << QList<bool>{false, false, false, false};
        QTest::newRow("alarm") << none << false << true << QString() << ok << c1 << ":icons/server-nok" << QString()
                               << 3 << QList<bool>{false, false, false, true};
        QTest::newRow("alarm cleared") << c1 << false << true << QString() << ok << ok << ":icons/server-ok"
                                       << QString() << 3 << QList<bool>{true, true, true, false};
        // A failure keeps the last ok, so a server that was in alarm stays so.
        QTest::newRow("failed after alarm")
            << c1 << false << true << refused << ok << ok << ":icons/forbidden" << refused << 0 << QList<bool>{true};
        QTest::newRow("failed after ok") << ok << false << true << refused << ok << ok << ":icons/forbidden" << refused
                                         << 0 << QList<bool>{false};
        QTest::newRow("re-authenticating keeps rows")
            << c1 << false << false << QString() << ok << c1 << ":icons/server-wait"
            << "Connecting..." << 3 << QList<bool>{true};
        QTest::newRow("ignored alarm") << c1 << true << true << QString() << ok << c1 << ":icons/server-ok" << QString()
                                       << 3 << QList<bool>{true, true, true, false};
        QTest::newRow("ignore hides only its category")
            << c1 << true << true << QString() << QStringList{"r1"} << c1 << ":icons/server-nok" << QString() << 3
            << QList<bool>{true, true, true, true};
    }

    void refresh()
    {
        QFETCH(QStringList, before);
        QFETCH(bool, ignoreCameras);
        QFETCH(bool, initialized);
        QFETCH(QString, error);
        QFETCH(QStringList, recorder);
        QFETCH(QStringList, cameras);
        QFETCH(QString, icon);
        QFETCH(QString, toolTip);
        QFETCH(int, children);
        QFETCH(QList<bool>, states);

        QSignalSpy spy(page, &ServerAlarmsWidget::errorStateChanged);
        auto server = servers.announce(QStringLiteral("Hall"));
        ServerAlarmsTreeItem* item = row(0);
        // A new row waits, without children, and adding it emits nothing.
        QCOMPARE(item->data(Qt::DisplayRole).toString(), QStringLiteral("Hall"));
        QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-wait"));
        QCOMPARE(item->data(Qt::ToolTipRole).toString(), QStringLiteral("Connecting..."));
        QCOMPARE(item->rowCount(), 0);
        QCOMPARE(spy.count(), 0);

        if (before != QStringList{"-"}) {
            setAlarms(server, {}, before);
        }
        if (ignoreCameras) {
            item->camerasItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
        }
        spy.clear();
        server->initialized = initialized;
        server->alarmsError = error;
        server->recorderErrors = recorder;
        server->camerasErrors = cameras;
        emit server->alarmsUpdated();

        QCOMPARE(item->iconPath(), icon);
        QVERIFY(ViewDriver::sameIcon(model->index(0, 0).data(Qt::DecorationRole), icon));
        QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole).toString(), toolTip);
        QCOMPARE(item->rowCount(), children);
        QCOMPARE(emissions(spy), states);
        if (children == 0) {
            QVERIFY(!item->recorderItem && !item->camerasItem && !item->hardwareItem);
        }
        if (ignoreCameras) {
            QCOMPARE(item->camerasItem->rowCount(), 0);
            QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/ignored"));
        }
    }

    void categoriesInOrderAndSurvive()
    {
        auto server = servers.announce(QStringLiteral("Hall"));
        setAlarms(server, {"r1"}, {"c1", "c2"});
        ServerAlarmsTreeItem* item = row(0);
        QCOMPARE(ViewDriver::childTexts(item), QStringList({"Recorder", "Cameras", "Hardware"}));
        QVERIFY(item->recorderItem == item->child(0) && item->camerasItem == item->child(1) &&
                item->hardwareItem == item->child(2));
        QCOMPARE(QList<int>({item->recorderItem->category, item->camerasItem->category, item->hardwareItem->category}),
                 QList<int>({RecorderCategory, CamerasCategory, HardwareCategory}));
        QCOMPARE(ViewDriver::childTexts(item->camerasItem), QStringList({"c1", "c2"}));
        QCOMPARE(item->camerasItem->child(0)->type(), int(QStandardItem::Type));
        QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/cameras-nok"));
        QCOMPARE(item->hardwareItem->iconPath(), QStringLiteral(":/icons/hardware-ok"));

        // Category rows survive a good refresh, and so does their expanded state; only the lines are rebuilt.
        view->expand(indexOf(item->camerasItem));
        const QList<QStandardItem*> first{item->child(0), item->child(1), item->child(2)};
        setAlarms(server, {}, {}, {"h1", "h2", "h3"});
        QCOMPARE((QList<QStandardItem*>{item->child(0), item->child(1), item->child(2)}), first);
        QCOMPARE(item->recorderItem->rowCount() + item->camerasItem->rowCount(), 0);
        QCOMPARE(ViewDriver::childTexts(item->hardwareItem), QStringList({"h1", "h2", "h3"}));
        QVERIFY(view->isExpanded(indexOf(item->camerasItem)));

        // A failure drops them but not the user's silence: the next good refresh makes them anew, in order,
        // and they take it back.
        item->hardwareItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
        failAlarms(server, QStringLiteral("Host not found"));
        QCOMPARE(item->rowCount(), 0);
        setAlarms(server, {}, {}, {"h"});
        QCOMPARE(ViewDriver::childTexts(item), QStringList({"Recorder", "Cameras", "Hardware"}));
        QVERIFY(item->hardwareItem->isIgnored());
        QCOMPARE(item->hardwareItem->rowCount(), 0);
        QVERIFY(item->ok);
    }

    void severalServers()
    {
        auto first = servers.announce(QStringLiteral("A"));
        auto second = servers.announce(QStringLiteral("B"));
        auto* infoModel = modelOf(infoPage);
        QCOMPARE(infoModel->rowCount(), 2);
        setAlarms(first, {}, {}, {"h"});
        QSignalSpy spy(page, &ServerAlarmsWidget::errorStateChanged);
        setAlarms(second, {});
        QCOMPARE(emissions(spy), QList<bool>({true, true, true, true}));

        // A server without a row changes nothing.
        emit ServerManager::instance()->serverRemoved(std::make_shared<Server>("C", "127.0.0.1", 1, "l", "p"));
        QCOMPARE(model->rowCount(), 2);

        // Removing the server in alarm empties both pages of it and emits nothing; the next change recomputes.
        spy.clear();
        std::weak_ptr<Server> watch = first;
        servers.remove(first);
        first.reset();
        QVERIFY(watch.expired());
        QCOMPARE(ViewDriver::childTexts(model->invisibleRootItem()), QStringList{"B"});
        QCOMPARE(ViewDriver::childTexts(infoModel->invisibleRootItem()), QStringList{"B"});
        QCOMPARE(spy.count(), 0);
        setAlarms(second, {});
        QCOMPARE(emissions(spy).last(), false);
    }

    void contextMenu_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QStringList>("visible");
        QTest::newRow("server row") << 0 << QStringList{"Edit server", "Delete server"};
        QTest::newRow("active category") << 1 << QStringList{"Ignore notifications"};
        QTest::newRow("ignored category") << 2 << QStringList{"Unignore notifications"};
        QTest::newRow("category whose ignore ran out") << 3 << QStringList{"Ignore notifications"};
        QTest::newRow("alarm line") << 4 << QStringList();
        QTest::newRow("empty space") << 5 << QStringList();
    }

    void contextMenu()
    {
        QFETCH(int, target);
        QFETCH(QStringList, visible);

        setAlarms(servers.announce(QStringLiteral("Hall")), {"r1"}, {"c1"}, {"h1"});
        ServerAlarmsTreeItem* item = row(0);
        item->hardwareItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
        item->recorderItem->ignoreUntil = QDateTime::currentDateTime().addMSecs(-1);
        view->expandAll();

        QStandardItem* targets[] = {
            item, item->camerasItem, item->hardwareItem, item->recorderItem, item->camerasItem->child(0), nullptr};
        const QModelIndex index = targets[target] ? indexOf(targets[target]) : QModelIndex();
        bool shown = false;
        QCOMPARE(ViewDriver::contextMenu(page, view, index, &shown), visible);
        QVERIFY(shown);
        QCOMPARE(view->selectionModel()->selectedIndexes(),
                 index.isValid() ? QModelIndexList{index} : QModelIndexList());
    }

    void tabHighlight_data()
    {
        // Events in order: a digit makes that tab current, T and F emit errorStateChanged(true / false).
        QTest::addColumn<QString>("events");
        QTest::addColumn<bool>("red");
        QTest::newRow("error on Information") << "1T" << true;
        QTest::newRow("error on Alarms") << "T" << false;
        QTest::newRow("no error on Information") << "1F" << false;
        QTest::newRow("false never clears") << "1TF" << true;
        QTest::newRow("repeated error") << "1TT" << true;
        QTest::newRow("opening Alarms clears") << "1TF0" << false;
        QTest::newRow("again after clearing") << "1T01T" << true;
    }

    void tabHighlight()
    {
        QFETCH(QString, events);
        QFETCH(bool, red);
        MainWindow window;
        auto* tabs = qobject_cast<QTabWidget*>(window.centralWidget());
        auto* alarms = window.findChild<ServerAlarmsWidget*>(QStringLiteral("ServerAlarmsWidget"));
        QVERIFY(tabs && alarms);
        QCOMPARE(tabs->widget(0), alarms);
        for (const QChar event : events) {
            if (event.isDigit()) {
                tabs->setCurrentIndex(event.digitValue());
            } else {
                emit alarms->errorStateChanged(event == QLatin1Char('T'));
            }
        }
        QCOMPARE(tabs->styleSheet(), red ? QStringLiteral("QTabBar::tab:first {color: #F00;}") : QString());
        QCOMPARE(alarms->tabHighlighted, red);
    }

    void ignoreAndUnignoreAgainstSimulator()
    {
        const QJsonObject health{
            {"health", QJsonObject{{"recorder", true}, {"cameras", false}, {"hardware", true}}},
            {"errorDetails",
             QJsonObject{
                 {"cameras", QJsonArray{QJsonObject{{"name", "Gate"}, {"streamName", "main"}, {"error", "down"}}}}}}};
        RecorderSim sim;
        QString error;
        const auto scenario = [](const QJsonObject& healthEndpoint) {
            return QJsonObject{{"recorders", QJsonArray{QJsonObject{{"login", "admin"},
                                                                    {"password", "secret"},
                                                                    {"salt", "$2b$04$LPuI22OkwzIUhPs4So4LaO"},
                                                                    {"endpoints", QJsonObject{{"health", healthEndpoint}}}}}}};
        };
        QVERIFY2(sim.loadScenario(scenario(QJsonObject{{"json", health}}), &error), qPrintable(error));
        QVERIFY(sim.start());
        const auto healthRequests = [&sim] {
            int count = 0;
            for (const RecordedRequest& request : sim.requests()) {
                count += request.path == QLatin1String("/api/v1.1/health");
            }
            return count;
        };

        QSignalSpy spy(page, &ServerAlarmsWidget::errorStateChanged);
        const auto server =
            ServerManager::instance()->addServer(QStringLiteral("Site"), QStringLiteral("127.0.0.1"), sim.port(),
                                                 QStringLiteral("admin"), QStringLiteral("secret"));
        ServerAlarmsTreeItem* item = row(0);
        QTRY_VERIFY_WITH_TIMEOUT(item->camerasItem && item->camerasItem->rowCount() == 1, 20000);
        QCOMPARE(item->camerasItem->child(0)->text(), QStringLiteral("\"Gate\" on stream \"main\": down"));
        QCOMPARE(emissions(spy).last(), true);
        view->expandAll();
        const int before = healthRequests();
        const auto ignoreThroughMenu = [&](int hours, QDialogButtonBox::StandardButton button,
                                           std::function<void()> whileOpen = {}) {
            QCOMPARE(ViewDriver::contextMenu(page, view, indexOf(item->camerasItem)),
                     QStringList{"Ignore notifications"});
            const auto ran = ModalDriver::whenModal<IgnoreNotificationDialog>([=](IgnoreNotificationDialog* dialog) {
                dialog->findChild<QSpinBox*>(QStringLiteral("hoursInput"))->setValue(hours);
                if (whileOpen)
                    whileOpen();
                ModalDriver::press(dialog, button);
            });
            ViewDriver::menuAction(view, QStringLiteral("Ignore notifications"))->trigger();
            QVERIFY(*ran);
        };

        // Cancelled: the category stays active and no request leaves (the accepted ignore below makes one).
        const QDateTime asked = QDateTime::currentDateTime();
        ignoreThroughMenu(2, QDialogButtonBox::Cancel);
        QVERIFY(item->camerasItem->ignoreUntil >= asked &&
                item->camerasItem->ignoreUntil <= QDateTime::currentDateTime());
        QVERIFY(!item->camerasItem->isIgnored());
        QCOMPARE(item->camerasItem->rowCount(), 1);

        // The server fails while the dialog is open, which deletes the category rows: the silence still
        // holds for the rows its next good reply makes.
        spy.clear();
        ignoreThroughMenu(1, QDialogButtonBox::Ok, [&] {
            QVERIFY(sim.loadScenario(scenario(QJsonObject{{"status", 500}}), &error));
            ServerManager::instance()->refreshAlarms(server);
            QTRY_COMPARE_WITH_TIMEOUT(item->rowCount(), 0, 20000);
            QVERIFY(sim.loadScenario(scenario(QJsonObject{{"json", health}}), &error));
        });
        QTRY_COMPARE_WITH_TIMEOUT(emissions(spy), QList<bool>({true, true, true, true, false}), 20000);
        QVERIFY(item->camerasItem->isIgnored());
        QVERIFY(qAbs(asked.addSecs(3600).msecsTo(item->camerasItem->ignoreUntil)) < 60000);
        QCOMPARE(healthRequests(), before + 2);
        QCOMPARE(item->camerasItem->rowCount(), 0);
        QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/ignored"));
        QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-ok"));

        // Unignore: the lines come back with the refresh it asks for.
        QCOMPARE(ViewDriver::contextMenu(page, view, indexOf(item->camerasItem)),
                 QStringList{"Unignore notifications"});
        spy.clear();
        ViewDriver::menuAction(view, QStringLiteral("Unignore notifications"))->trigger();
        QVERIFY(!item->camerasItem->isIgnored());
        QTRY_COMPARE_WITH_TIMEOUT(emissions(spy), QList<bool>({false, false, false, true}), 20000);
        QCOMPARE(healthRequests(), before + 3);
        QCOMPARE(item->camerasItem->rowCount(), 1);
        QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-nok"));

        // Delete server from the menu: gone from both pages at once, without an error-state emission.
        QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0)),
                 QStringList({"Edit server", "Delete server"}));
        spy.clear();
        ViewDriver::menuAction(view, QStringLiteral("Delete server"))->trigger();
        QCOMPARE(model->rowCount() + modelOf(infoPage)->rowCount(), 0);
        QVERIFY(!ServerManager::instance()->serverList().contains(server));
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_MAIN(TestAlarmsView)
#include "TestAlarmsView.moc"
