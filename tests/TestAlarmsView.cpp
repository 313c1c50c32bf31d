#include "ModalDriver.h"
#include "ViewDriver.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "monitor/ServerManager.h"
#include "tools/recorder-sim/RecorderSim.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoWidget.h"

#include <QDialogButtonBox>
#include <QJsonArray>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {
const QString salt = QStringLiteral("$2b$04$LPuI22OkwzIUhPs4So4LaO");

QJsonObject healthWithCameraAlarm()
{
    return QJsonObject{
        {"health", QJsonObject{{"recorder", true}, {"cameras", false}, {"hardware", true}}},
        {"errorDetails", QJsonObject{{"cameras", QJsonArray{QJsonObject{
                                                     {"name", "Gate"}, {"streamName", "main"}, {"error", "down"}}}}}}};
}

QList<bool> emissions(const QSignalSpy& spy)
{
    QList<bool> values;
    for (const QList<QVariant>& arguments : spy) {
        values << arguments.at(0).toBool();
    }
    return values;
}

void setAlarms(const std::shared_ptr<Server>& server, const QStringList& recorder, const QStringList& cameras,
               const QStringList& hardware)
{
    server->initialized = true;
    server->alarmsError.clear();
    server->recorderErrors = recorder;
    server->camerasErrors = cameras;
    server->hardwareErrors = hardware;
    emit server->alarmsUpdated();
}
} // namespace

class TestAlarmsView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void menuEntries();
    void newServerWaits();
    void rowStates_data();
    void rowStates();
    void categoriesInOrderAndSurvive();
    void errorStateOfASuccessfulRefresh();
    void errorStateOfAFailedRefresh();
    void errorStateCoversAllServers();
    void failureDropsCategoriesAndIgnores();
    void ignoredCategoryLeavesOk();
    void contextMenu_data();
    void contextMenu();
    void cancelledIgnoreChangesNothing();
    void removalFromBothPages();
    void ignoreAndUnignoreAgainstSimulator();

private:
    std::shared_ptr<Server> announce(const QString& name);
    ServerAlarmsTreeItem* row(int index) const;
    QModelIndex indexOf(QStandardItem* item) const;

    ServerAlarmsWidget* page = nullptr;
    ServerInfoWidget* infoPage = nullptr;
    QTreeView* view = nullptr;
    QStandardItemModel* model = nullptr;
    QList<std::shared_ptr<Server>> announced;
};

void TestAlarmsView::initTestCase()
{
    MonitorSettings settings;
    settings.authRetryInterval = 60000;
    settings.pollInterval = 60000; // only explicit refreshes poll during a test
    settings.requestTimeout = 10000;
    ServerManager::instance()->setSettings(settings);
}

void TestAlarmsView::init()
{
    page = new ServerAlarmsWidget;
    infoPage = new ServerInfoWidget;
    page->resize(400, 500);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    view = page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
    QVERIFY(view);
    model = qobject_cast<QStandardItemModel*>(view->model());
    QVERIFY(model);
}

void TestAlarmsView::cleanup()
{
    for (const auto& server : announced) {
        emit ServerManager::instance()->serverRemoved(server);
    }
    announced.clear();
    delete page;
    delete infoPage;
}

std::shared_ptr<Server> TestAlarmsView::announce(const QString& name)
{
    auto server =
        std::make_shared<Server>(name, QStringLiteral("127.0.0.1"), 1, QStringLiteral("l"), QStringLiteral("p"));
    announced << server;
    emit ServerManager::instance()->serverAdded(server);
    return server;
}

ServerAlarmsTreeItem* TestAlarmsView::row(int index) const
{
    return dynamic_cast<ServerAlarmsTreeItem*>(model->item(index, 0));
}

QModelIndex TestAlarmsView::indexOf(QStandardItem* item) const
{
    return model->indexFromItem(item);
}

void TestAlarmsView::menuEntries()
{
    QCOMPARE(page->objectName(), QString());
    QVERIFY(!page->tabHighlighted);
    QStringList texts;
    for (QAction* action : view->findChild<QMenu*>()->actions()) {
        texts << action->text();
    }
    QCOMPARE(texts, QStringList({"Edit server", "Delete server", "Ignore notifications", "Unignore notifications"}));
    QCOMPARE(view->iconSize(), QSize(32, 32));
    QVERIFY(view->isHeaderHidden());
    QCOMPARE(view->font().pointSize(), 10);
}

void TestAlarmsView::newServerWaits()
{
    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    announce(QStringLiteral("Hall"));
    QCOMPARE(model->rowCount(), 1);
    ServerAlarmsTreeItem* item = row(0);
    QVERIFY(item);
    QCOMPARE(item->data(Qt::DisplayRole).toString(), QStringLiteral("Hall"));
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-wait"));
    QCOMPARE(item->data(Qt::ToolTipRole).toString(), QStringLiteral("Connecting..."));
    QCOMPARE(item->rowCount(), 0);
    QCOMPARE(states.count(), 0);
}

void TestAlarmsView::rowStates_data()
{
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<int>("children");

    QTest::newRow("waiting") << false << QString() << QStringList() << ":icons/server-wait"
                             << "Connecting..." << 0;
    QTest::newRow("failed") << true << "Connection refused" << QStringList() << ":icons/forbidden"
                            << "Connection refused" << 0;
    QTest::newRow("ok") << true << QString() << QStringList() << ":icons/server-ok" << QString() << 3;
    QTest::newRow("alarm") << true << QString() << QStringList{"c1"} << ":icons/server-nok" << QString() << 3;
}

void TestAlarmsView::rowStates()
{
    QFETCH(bool, initialized);
    QFETCH(QString, error);
    QFETCH(QStringList, cameras);
    QFETCH(QString, icon);
    QFETCH(QString, toolTip);
    QFETCH(int, children);

    auto server = announce(QStringLiteral("Hall"));
    server->initialized = initialized;
    server->alarmsError = error;
    server->camerasErrors = cameras;
    emit server->alarmsUpdated();

    const QModelIndex index = model->index(0, 0);
    QCOMPARE(row(0)->iconPath(), icon);
    QVERIFY(!index.data(Qt::DecorationRole).value<QIcon>().isNull());
    QCOMPARE(index.data(Qt::ToolTipRole).toString(), toolTip);
    QCOMPARE(model->rowCount(index), children);
}

void TestAlarmsView::categoriesInOrderAndSurvive()
{
    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {"r1"}, {"c1", "c2"}, {});
    ServerAlarmsTreeItem* item = row(0);
    QCOMPARE(item->rowCount(), 3);
    QStringList titles;
    QList<int> categories;
    for (int i = 0; i < 3; ++i) {
        auto* category = dynamic_cast<NotificationTreeItem*>(item->child(i));
        QVERIFY(category);
        titles << category->data(Qt::DisplayRole).toString();
        categories << category->category;
    }
    QCOMPARE(titles, QStringList({"Recorder", "Cameras", "Hardware"}));
    QCOMPARE(categories, QList<int>({RecorderCategory, CamerasCategory, HardwareCategory}));
    QVERIFY(item->recorderItem == item->child(0));
    QVERIFY(item->camerasItem == item->child(1));
    QVERIFY(item->hardwareItem == item->child(2));

    QCOMPARE(item->camerasItem->rowCount(), 2);
    QCOMPARE(item->camerasItem->child(0)->text(), QStringLiteral("c1"));
    QCOMPARE(item->camerasItem->child(1)->text(), QStringLiteral("c2"));
    QCOMPARE(item->camerasItem->child(0)->type(), int(QStandardItem::Type));
    QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/cameras-nok"));
    QCOMPARE(item->hardwareItem->iconPath(), QStringLiteral(":/icons/hardware-ok"));
    QVERIFY(!item->ok);

    view->expand(indexOf(item->camerasItem));
    QStandardItem* first[] = {item->child(0), item->child(1), item->child(2)};
    setAlarms(server, {}, {}, {"h1", "h2", "h3"});
    QCOMPARE(item->rowCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(item->child(i) == first[i]);
    }
    QCOMPARE(item->recorderItem->rowCount(), 0);
    QCOMPARE(item->camerasItem->rowCount(), 0);
    QCOMPARE(item->hardwareItem->rowCount(), 3);
    QCOMPARE(item->hardwareItem->child(2)->text(), QStringLiteral("h3"));
    QVERIFY(view->isExpanded(indexOf(item->camerasItem)));
}

void TestAlarmsView::errorStateOfASuccessfulRefresh()
{
    auto server = announce(QStringLiteral("Hall"));
    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    setAlarms(server, {}, {"c1"}, {});
    QCOMPARE(emissions(states), QList<bool>({false, false, false, true}));
    QCOMPARE(row(0)->iconPath(), QStringLiteral(":icons/server-nok"));

    states.clear();
    setAlarms(server, {}, {}, {});
    QCOMPARE(emissions(states), QList<bool>({true, true, true, false}));
    QCOMPARE(row(0)->iconPath(), QStringLiteral(":icons/server-ok"));
}

void TestAlarmsView::errorStateOfAFailedRefresh()
{
    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {"r1"}, {}, {});
    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    server->clearAlarms();
    server->alarmsError = QStringLiteral("Connection refused");
    emit server->alarmsUpdated();
    // The row keeps its last ok, so a server that was in alarm stays so.
    QCOMPARE(emissions(states), QList<bool>({true}));

    states.clear();
    server->initialized = false;
    server->alarmsError.clear();
    emit server->alarmsUpdated();
    QCOMPARE(emissions(states), QList<bool>({true}));
}

void TestAlarmsView::errorStateCoversAllServers()
{
    auto first = announce(QStringLiteral("A"));
    auto second = announce(QStringLiteral("B"));
    setAlarms(first, {}, {}, {"h"});
    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    setAlarms(second, {}, {}, {});
    QCOMPARE(emissions(states), QList<bool>({true, true, true, true}));

    // Removing the server in alarm emits nothing; the next data change recomputes.
    states.clear();
    emit ServerManager::instance()->serverRemoved(first);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(states.count(), 0);
    setAlarms(second, {}, {}, {});
    QCOMPARE(emissions(states).last(), false);
}

void TestAlarmsView::failureDropsCategoriesAndIgnores()
{
    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {}, {}, {});
    ServerAlarmsTreeItem* item = row(0);
    item->camerasItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);

    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    server->alarmsError = QStringLiteral("Host not found");
    emit server->alarmsUpdated();
    QCOMPARE(item->rowCount(), 0);
    QVERIFY(!item->recorderItem && !item->camerasItem && !item->hardwareItem);
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/forbidden"));
    QCOMPARE(item->data(Qt::ToolTipRole).toString(), QStringLiteral("Host not found"));
    QCOMPARE(emissions(states), QList<bool>({false}));

    setAlarms(server, {}, {"c"}, {});
    QCOMPARE(item->rowCount(), 3);
    QCOMPARE(item->child(1)->text(), QStringLiteral("Cameras"));
    QVERIFY(item->camerasItem->ignoreUntil.isNull());
    QCOMPARE(item->camerasItem->rowCount(), 1);
}

void TestAlarmsView::ignoredCategoryLeavesOk()
{
    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {}, {"c1"}, {});
    ServerAlarmsTreeItem* item = row(0);
    item->camerasItem->ignoreUntil = QDateTime::currentDateTime().addSecs(3600);

    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    setAlarms(server, {}, {"c1"}, {});
    QCOMPARE(emissions(states), QList<bool>({true, true, true, false}));
    QCOMPARE(item->camerasItem->rowCount(), 0);
    QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/ignored"));
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-ok"));

    // An ignored category does not hide the others.
    states.clear();
    setAlarms(server, {"r1"}, {"c1"}, {});
    QCOMPARE(emissions(states).last(), true);
}

void TestAlarmsView::contextMenu_data()
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

void TestAlarmsView::contextMenu()
{
    QFETCH(int, target);
    QFETCH(QStringList, visible);

    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {"r1"}, {"c1"}, {"h1"});
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
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    if (index.isValid()) {
        QCOMPARE(selected, QModelIndexList{index});
        QCOMPARE(view->selectionModel()->currentIndex(), index);
    } else {
        QVERIFY(selected.isEmpty());
    }
}

void TestAlarmsView::cancelledIgnoreChangesNothing()
{
    auto server = announce(QStringLiteral("Hall"));
    setAlarms(server, {}, {"c1"}, {});
    ServerAlarmsTreeItem* item = row(0);
    view->expandAll();
    QCOMPARE(ViewDriver::contextMenu(page, view, indexOf(item->camerasItem)), QStringList{"Ignore notifications"});

    QSignalSpy updates(server.get(), &Server::alarmsUpdated);
    bool handled = false;
    ModalDriver::whenModal<IgnoreNotificationDialog>([&handled](IgnoreNotificationDialog* dialog) {
        handled = true;
        QCOMPARE(dialog->objectName(), QStringLiteral("IgnoreNotificationDialog"));
        dialog->findChild<QSpinBox*>(QStringLiteral("hoursInput"))->setValue(2);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    const QDateTime before = QDateTime::currentDateTime();
    ViewDriver::menuAction(view, QStringLiteral("Ignore notifications"))->trigger();
    QVERIFY(handled);
    QVERIFY(item->camerasItem->ignoreUntil >= before);
    QVERIFY(item->camerasItem->ignoreUntil <= QDateTime::currentDateTime());
    QVERIFY(!item->camerasItem->isIgnored());
    // No refresh was asked for: this server's port 1 would have answered with an error by now.
    QTest::qWait(200);
    QCOMPARE(updates.count(), 0);
    QCOMPARE(item->camerasItem->rowCount(), 1);
}

void TestAlarmsView::removalFromBothPages()
{
    auto first = announce(QStringLiteral("A"));
    auto second = announce(QStringLiteral("B"));
    auto* infoModel = infoPage->findChild<QTreeView*>(QStringLiteral("serverTreeView"))->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(infoModel->rowCount(), 2);

    auto stranger = std::make_shared<Server>("C", "127.0.0.1", 1, "l", "p");
    emit ServerManager::instance()->serverRemoved(stranger);
    QCOMPARE(model->rowCount(), 2);

    std::weak_ptr<Server> watch = first;
    emit ServerManager::instance()->serverRemoved(first);
    announced.removeOne(first);
    first.reset();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(infoModel->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("B"));
    QCOMPARE(infoModel->index(0, 0).data().toString(), QStringLiteral("B"));
    QVERIFY(watch.expired());
}

void TestAlarmsView::ignoreAndUnignoreAgainstSimulator()
{
    RecorderSim sim;
    QString error;
    QVERIFY2(
        sim.loadScenario(
            QJsonObject{{"recorders",
                         QJsonArray{QJsonObject{
                             {"login", "admin"},
                             {"password", "secret"},
                             {"salt", salt},
                             {"endpoints", QJsonObject{{"health", QJsonObject{{"json", healthWithCameraAlarm()}}}}}}}}},
            &error),
        qPrintable(error));
    QVERIFY(sim.start());

    QSignalSpy states(page, &ServerAlarmsWidget::errorStateChanged);
    std::shared_ptr<Server> server =
        ServerManager::instance()->addServer(QStringLiteral("Site"), QStringLiteral("127.0.0.1"), sim.port(),
                                             QStringLiteral("admin"), QStringLiteral("secret"));
    QCOMPARE(model->rowCount(), 1);
    ServerAlarmsTreeItem* item = row(0);
    QTRY_VERIFY_WITH_TIMEOUT(item->camerasItem && item->camerasItem->rowCount() == 1, 20000);
    QCOMPARE(item->camerasItem->child(0)->text(), QStringLiteral("\"Gate\" on stream \"main\": down"));
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-nok"));
    QCOMPARE(emissions(states).last(), true);
    view->expandAll();

    auto healthRequests = [&sim] {
        int count = 0;
        for (const RecordedRequest& request : sim.requests()) {
            count += request.path == QLatin1String("/api/v1.1/health");
        }
        return count;
    };

    // Ignore the cameras for one hour through the menu and the dialog.
    QCOMPARE(ViewDriver::contextMenu(page, view, indexOf(item->camerasItem)), QStringList{"Ignore notifications"});
    const int before = healthRequests();
    states.clear();
    bool handled = false;
    ModalDriver::whenModal<IgnoreNotificationDialog>([&handled](IgnoreNotificationDialog* dialog) {
        handled = true;
        dialog->findChild<QSpinBox*>(QStringLiteral("hoursInput"))->setValue(1);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    const QDateTime asked = QDateTime::currentDateTime();
    ViewDriver::menuAction(view, QStringLiteral("Ignore notifications"))->trigger();
    QVERIFY(handled);
    QVERIFY(item->camerasItem->isIgnored());
    QVERIFY(qAbs(asked.addSecs(3600).msecsTo(item->camerasItem->ignoreUntil)) < 60000);
    QTRY_COMPARE_WITH_TIMEOUT(emissions(states), QList<bool>({true, true, true, false}), 20000);
    QCOMPARE(healthRequests(), before + 1);
    QCOMPARE(item->camerasItem->rowCount(), 0);
    QCOMPARE(item->camerasItem->iconPath(), QStringLiteral(":/icons/ignored"));
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-ok"));

    // Unignore: the lines come back with the refresh it asks for.
    QCOMPARE(ViewDriver::contextMenu(page, view, indexOf(item->camerasItem)), QStringList{"Unignore notifications"});
    states.clear();
    ViewDriver::menuAction(view, QStringLiteral("Unignore notifications"))->trigger();
    QVERIFY(!item->camerasItem->isIgnored());
    QTRY_COMPARE_WITH_TIMEOUT(emissions(states), QList<bool>({false, false, false, true}), 20000);
    QCOMPARE(healthRequests(), before + 2);
    QCOMPARE(item->camerasItem->rowCount(), 1);
    QCOMPARE(item->iconPath(), QStringLiteral(":icons/server-nok"));

    // Delete server from the menu: gone from both pages at once, without an error-state emission.
    auto* infoModel = infoPage->findChild<QTreeView*>(QStringLiteral("serverTreeView"))->model();
    QCOMPARE(infoModel->rowCount(), 1);
    QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0)), QStringList({"Edit server", "Delete server"}));
    states.clear();
    ViewDriver::menuAction(view, QStringLiteral("Delete server"))->trigger();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(infoModel->rowCount(), 0);
    QVERIFY(!ServerManager::instance()->serverList().contains(server));
    QCOMPARE(states.count(), 0);
}

QTEST_MAIN(TestAlarmsView)
#include "TestAlarmsView.moc"
