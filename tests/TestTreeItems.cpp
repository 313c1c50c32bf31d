#include "ViewDriver.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerInfoTreeItem.h"
#include "views/TreeItem.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>
#include <memory>

namespace {
std::shared_ptr<Server> makeServer()
{
    return std::make_shared<Server>(QStringLiteral("Site A"), QStringLiteral("127.0.0.1"), 1, QStringLiteral("l"),
                                    QStringLiteral("p"));
}

} // namespace

class TestTreeItems : public QObject
{
    Q_OBJECT

private slots:
    void types();
    void flags_data();
    void flags();
    void metaObject();
    void plainRowKeepsItsData();
    void alarmsRowRoles_data();
    void alarmsRowRoles();
    void infoRowRoles_data();
    void infoRowRoles();
    void categoryIcon_data();
    void categoryIcon();
    void invalidRoles_data();
    void invalidRoles();
    void ignoreIsStrict();
    void serverRowsListenWithoutRefreshing();
    void rowsShareTheServer();
};

void TestTreeItems::types()
{
    auto server = makeServer();
    QStringList messages;
    QCOMPARE(TreeItem().type(), int(QStandardItem::Type));
    QCOMPARE(ServerAlarmsTreeItem(server).type(), 1001);
    QCOMPARE(ServerInfoTreeItem(server, nullptr).type(), 1001);
    QCOMPARE(NotificationTreeItem(QStringLiteral("Recorder"), &messages).type(), 1002);
}

void TestTreeItems::flags_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("plain") << 0;
    QTest::newRow("alarms server") << 1;
    QTest::newRow("info server") << 2;
    QTest::newRow("category") << 3;
}

void TestTreeItems::flags()
{
    QFETCH(int, kind);
    auto server = makeServer();
    QStringList messages;
    QStandardItem* item = nullptr;
    switch (kind) {
    case 0:
        item = new TreeItem(QStringLiteral("x"));
        break;
    case 1:
        item = new ServerAlarmsTreeItem(server);
        break;
    case 2:
        item = new ServerInfoTreeItem(server, nullptr);
        break;
    default:
        item = new NotificationTreeItem(QStringLiteral("x"), &messages);
        break;
    }
    QStandardItemModel model;
    model.appendRow(item);
    const Qt::ItemFlags expected = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    QCOMPARE(item->flags(), expected);
    QCOMPARE(model.flags(model.index(0, 0)), expected);
    QVERIFY(!item->isEditable());
    QVERIFY(!item->isDragEnabled());
    QVERIFY(!item->isDropEnabled());
}

void TestTreeItems::metaObject()
{
    auto server = makeServer();
    QStringList messages;
    ServerAlarmsTreeItem alarms(server);
    NotificationTreeItem category(QStringLiteral("c"), &messages);
    QCOMPARE(QByteArray(TreeItem::staticMetaObject.className()), QByteArray("TreeItem"));
    QCOMPARE(QByteArray(alarms.metaObject()->className()), QByteArray("TreeItem"));
    QCOMPARE(QByteArray(category.metaObject()->className()), QByteArray("TreeItem"));
    QVERIFY(alarms.qt_metacast("TreeItem") == static_cast<TreeItem*>(&alarms));
    QVERIFY(alarms.qt_metacast("QStandardItem") == static_cast<QStandardItem*>(&alarms));
    QVERIFY(alarms.QObject::parent() == nullptr);
}

void TestTreeItems::plainRowKeepsItsData()
{
    TreeItem item(QStringLiteral("text"));
    item.setData(QBrush(Qt::red), Qt::ForegroundRole);
    QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("text"));
    QCOMPARE(item.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
}

void TestTreeItems::alarmsRowRoles_data()
{
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QVariant>("toolTip");

    QTest::newRow("waiting") << false << QString() << true << ":icons/server-wait"
                             << QVariant(QStringLiteral("Connecting..."));
    QTest::newRow("waiting wins over an error")
        << false << "refused" << false << ":icons/server-wait" << QVariant(QStringLiteral("Connecting..."));
    QTest::newRow("failed") << true << "refused" << true << ":icons/forbidden" << QVariant(QStringLiteral("refused"));
    QTest::newRow("failed while in alarm")
        << true << "refused" << false << ":icons/forbidden" << QVariant(QStringLiteral("refused"));
    QTest::newRow("ok") << true << QString() << true << ":icons/server-ok" << QVariant();
    QTest::newRow("alarm") << true << QString() << false << ":icons/server-nok" << QVariant();
}

void TestTreeItems::alarmsRowRoles()
{
    QFETCH(bool, initialized);
    QFETCH(QString, error);
    QFETCH(bool, ok);
    QFETCH(QString, icon);
    QFETCH(QVariant, toolTip);

    auto server = makeServer();
    server->initialized = initialized;
    server->alarmsError = error;
    server->infoError = QStringLiteral("not this page's error");
    ServerAlarmsTreeItem item(server);
    item.ok = ok;

    QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("Site A"));
    QCOMPARE(item.iconPath(), icon);
    QVERIFY(QFile::exists(icon));
    QVERIFY(ViewDriver::sameIcon(item.data(Qt::DecorationRole), icon));
    QCOMPARE(item.data(Qt::ToolTipRole), toolTip);

    server->name = QStringLiteral("Renamed");
    QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("Renamed"));
}

void TestTreeItems::infoRowRoles_data()
{
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QVariant>("toolTip");

    QTest::newRow("waiting") << false << QString() << ":icons/server-wait" << QVariant(QStringLiteral("Connecting..."));
    QTest::newRow("waiting wins over an error") << false << "bad"
                                                << ":icons/server-wait" << QVariant(QStringLiteral("Connecting..."));
    QTest::newRow("failed") << true << "bad"
                            << ":icons/forbidden" << QVariant(QStringLiteral("bad"));
    QTest::newRow("ok") << true << QString() << ":icons/server-ok" << QVariant();
}

void TestTreeItems::infoRowRoles()
{
    QFETCH(bool, initialized);
    QFETCH(QString, error);
    QFETCH(QString, icon);
    QFETCH(QVariant, toolTip);

    auto server = makeServer();
    server->initialized = initialized;
    server->infoError = error;
    server->alarmsError = QStringLiteral("not this page's error");
    server->hardwareErrors << QStringLiteral("disk");
    ServerInfoTreeItem item(server, nullptr);

    QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("Site A"));
    QCOMPARE(item.iconPath(), icon);
    QVERIFY(ViewDriver::sameIcon(item.data(Qt::DecorationRole), icon));
    QCOMPARE(item.data(Qt::ToolTipRole), toolTip);
}

void TestTreeItems::categoryIcon_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<bool>("hasLines");
    QTest::addColumn<bool>("ignored");
    QTest::addColumn<QString>("icon");

    QTest::newRow("recorder ok") << int(RecorderCategory) << false << false << ":/icons/recorder-ok";
    QTest::newRow("recorder nok") << int(RecorderCategory) << true << false << ":/icons/recorder-nok";
    QTest::newRow("cameras ok") << int(CamerasCategory) << false << false << ":/icons/cameras-ok";
    QTest::newRow("cameras nok") << int(CamerasCategory) << true << false << ":/icons/cameras-nok";
    QTest::newRow("hardware ok") << int(HardwareCategory) << false << false << ":/icons/hardware-ok";
    QTest::newRow("hardware nok") << int(HardwareCategory) << true << false << ":/icons/hardware-nok";
    QTest::newRow("ignored with lines") << int(CamerasCategory) << true << true << ":/icons/ignored";
    QTest::newRow("ignored without lines") << int(RecorderCategory) << false << true << ":/icons/ignored";
}

void TestTreeItems::categoryIcon()
{
    QFETCH(int, category);
    QFETCH(bool, hasLines);
    QFETCH(bool, ignored);
    QFETCH(QString, icon);

    QStringList messages;
    if (hasLines) {
        messages << QStringLiteral("line");
    }
    NotificationTreeItem item(QStringLiteral("Title"), &messages);
    item.category = NotificationCategory(category);
    if (ignored) {
        item.ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
    }
    QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("Title"));
    QCOMPARE(item.iconPath(), icon);
    QVERIFY(QFile::exists(icon));
    QVERIFY(ViewDriver::sameIcon(item.data(Qt::DecorationRole), icon));
    // The icon follows the list as it is now, with no refresh in between.
    messages = hasLines ? QStringList() : QStringList{QStringLiteral("new")};
    if (!ignored) {
        QVERIFY(item.iconPath() != icon);
    }
}

void TestTreeItems::invalidRoles_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("role");
    const QList<QPair<QByteArray, int>> roles{{"edit", Qt::EditRole},
                                              {"font", Qt::FontRole},
                                              {"foreground", Qt::ForegroundRole},
                                              {"background", Qt::BackgroundRole},
                                              {"status tip", Qt::StatusTipRole},
                                              {"user", Qt::UserRole}};
    for (int kind = 0; kind < 3; ++kind) {
        for (const auto& role : roles) {
            QTest::newRow((QByteArray::number(kind) + " " + role.first).constData()) << kind << role.second;
        }
    }
    QTest::newRow("category tooltip") << 2 << int(Qt::ToolTipRole);
}

void TestTreeItems::invalidRoles()
{
    QFETCH(int, kind);
    QFETCH(int, role);
    auto server = makeServer();
    server->initialized = true;
    QStringList messages{QStringLiteral("line")};
    ServerAlarmsTreeItem alarms(server);
    ServerInfoTreeItem info(server, nullptr);
    NotificationTreeItem category(QStringLiteral("c"), &messages);
    QStandardItem* items[] = {&alarms, &info, &category};
    // Even a value stored in the item is not answered by these rows.
    items[kind]->setData(QStringLiteral("stored"), role);
    QVERIFY(!items[kind]->data(role).isValid());
}

void TestTreeItems::ignoreIsStrict()
{
    QStringList messages;
    NotificationTreeItem item(QStringLiteral("c"), &messages);
    QVERIFY(item.ignoreUntil.isNull());
    QVERIFY(!item.isIgnored());

    item.ignoreUntil = QDateTime::currentDateTime().addMSecs(-50);
    QVERIFY(!item.isIgnored());
    item.ignoreUntil = QDateTime::currentDateTime().addSecs(60);
    QVERIFY(item.isIgnored());

    // Set to now, the moment checked is the same millisecond or later: never ignored.
    for (int i = 0; i < 2000; ++i) {
        item.ignoreUntil = QDateTime::currentDateTime();
        QVERIFY(!item.isIgnored());
    }
}

void TestTreeItems::serverRowsListenWithoutRefreshing()
{
    auto server = makeServer();
    server->initialized = true;
    server->recorderErrors << QStringLiteral("r");
    auto* alarms = new ServerAlarmsTreeItem(server);
    auto* info = new ServerInfoTreeItem(server, nullptr);
    QCOMPARE(alarms->rowCount(), 0);
    QCOMPARE(info->rowCount(), 0);

    emit server->alarmsUpdated();
    QCOMPARE(alarms->rowCount(), 3);
    QCOMPARE(info->rowCount(), 0);
    emit server->infoUpdated();
    QCOMPARE(info->rowCount(), 2);

    // The connections end with the rows.
    delete alarms;
    delete info;
    emit server->alarmsUpdated();
    emit server->infoUpdated();
    QVERIFY(!QObject::disconnect(server.get(), &Server::alarmsUpdated, nullptr, nullptr));
    QVERIFY(!QObject::disconnect(server.get(), &Server::infoUpdated, nullptr, nullptr));
}

void TestTreeItems::rowsShareTheServer()
{
    auto server = makeServer();
    std::weak_ptr<Server> watch = server;
    auto* model = new QStandardItemModel;
    model->appendRow(new ServerAlarmsTreeItem(server));
    server.reset();
    QVERIFY(!watch.expired());
    model->removeRow(0);
    QVERIFY(watch.expired());
    delete model;
}

QTEST_MAIN(TestTreeItems)
#include "TestTreeItems.moc"
