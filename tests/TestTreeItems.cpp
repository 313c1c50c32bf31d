#include "ViewDriver.h"
#include "views/NotificationTreeItem.h"
#include "views/ServerAlarmsTreeItem.h"
#include "views/ServerInfoTreeItem.h"
#include "views/TreeItem.h"

#include <QStandardItemModel>
#include <QtTest>
#include <memory>

namespace {
std::shared_ptr<Server> makeServer()
{
    return std::make_shared<Server>(QStringLiteral("Site A"), QStringLiteral("127.0.0.1"), 1, QStringLiteral("l"),
                                    QStringLiteral("p"));
}

enum Kind
{
    Plain,
    AlarmsServer,
    InfoServer,
    Category
};

TreeItem* makeItem(int kind, const std::shared_ptr<Server>& server, QStringList* messages)
{
    switch (kind) {
    case Plain:
        return new TreeItem(QStringLiteral("x"));
    case AlarmsServer:
        return new ServerAlarmsTreeItem(server);
    case InfoServer:
        return new ServerInfoTreeItem(server, nullptr);
    default:
        return new NotificationTreeItem(QStringLiteral("x"), messages, server->camerasIgnoreUntil);
    }
}
} // namespace

class TestTreeItems : public QObject
{
    Q_OBJECT

private slots:
    void family_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("type");
        QTest::newRow("plain") << int(Plain) << int(QStandardItem::Type);
        QTest::newRow("alarms server") << int(AlarmsServer) << 1001;
        QTest::newRow("info server") << int(InfoServer) << 1001;
        QTest::newRow("category") << int(Category) << 1002;
    }

    void family()
    {
        QFETCH(int, kind);
        QFETCH(int, type);
        QStringList messages;
        TreeItem* item = makeItem(kind, makeServer(), &messages);
        QStandardItemModel model;
        model.appendRow(item);
        QCOMPARE(item->type(), type);
        // Never editable, draggable or a drop target, whatever the view allows.
        const Qt::ItemFlags expected = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        QCOMPARE(item->flags(), expected);
        QCOMPARE(model.flags(model.index(0, 0)), expected);
        QCOMPARE(QByteArray(item->metaObject()->className()), QByteArray("TreeItem"));
        QVERIFY(item->qt_metacast("TreeItem") == item);
        QVERIFY(item->qt_metacast("QStandardItem") == static_cast<QStandardItem*>(item));
        QVERIFY(!item->QObject::parent());
    }

    void serverRowRoles_data()
    {
        QTest::addColumn<bool>("alarmsPage");
        QTest::addColumn<bool>("initialized");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QVariant>("toolTip");

        const QVariant connecting(QStringLiteral("Connecting..."));
        const QVariant refused(QStringLiteral("refused"));
        for (bool alarms : {true, false}) {
            const QByteArray page = alarms ? "alarms: " : "info: ";
            const auto row = [&page, alarms](const char* name, bool initialized, const char* error, bool ok,
                                             const char* icon, const QVariant& toolTip) {
                QTest::newRow((page + name).constData()) << alarms << initialized << error << ok << icon << toolTip;
            };
            row("waiting", false, "", true, ":icons/server-wait", connecting);
            row("waiting wins over an error", false, "refused", false, ":icons/server-wait", connecting);
            row("failed", true, "refused", true, ":icons/forbidden", refused);
            row("ok", true, "", true, ":icons/server-ok", QVariant());
            if (alarms) {
                row("failed while in alarm", true, "refused", false, ":icons/forbidden", refused);
                row("alarm", true, "", false, ":icons/server-nok", QVariant());
            }
        }
    }

    void serverRowRoles()
    {
        QFETCH(bool, alarmsPage);
        QFETCH(bool, initialized);
        QFETCH(QString, error);
        QFETCH(bool, ok);
        QFETCH(QString, icon);
        QFETCH(QVariant, toolTip);

        auto server = makeServer();
        server->initialized = initialized;
        // Each page looks only at its own error; the Information page never looks at alarms.
        (alarmsPage ? server->alarmsError : server->infoError) = error;
        (alarmsPage ? server->infoError : server->alarmsError) = QStringLiteral("not this page's error");
        server->hardwareErrors << QStringLiteral("disk");
        ServerAlarmsTreeItem alarms(server);
        alarms.ok = ok;
        ServerInfoTreeItem info(server, nullptr);
        QStandardItem* item = alarmsPage ? static_cast<QStandardItem*>(&alarms) : &info;

        QCOMPARE(alarmsPage ? alarms.iconPath() : info.iconPath(), icon);
        QVERIFY(ViewDriver::sameIcon(item->data(Qt::DecorationRole), icon));
        QCOMPARE(item->data(Qt::ToolTipRole), toolTip);
        QCOMPARE(item->data(Qt::DisplayRole).toString(), QStringLiteral("Site A"));
        server->name = QStringLiteral("Renamed");
        QCOMPARE(item->data(Qt::DisplayRole).toString(), QStringLiteral("Renamed"));
    }

    void categoryIcon_data()
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

    void categoryIcon()
    {
        QFETCH(int, category);
        QFETCH(bool, hasLines);
        QFETCH(bool, ignored);
        QFETCH(QString, icon);

        QStringList messages;
        if (hasLines) {
            messages << QStringLiteral("line");
        }
        QDateTime until;
        NotificationTreeItem item(QStringLiteral("Title"), &messages, until);
        item.category = NotificationCategory(category);
        if (ignored) {
            item.ignoreUntil = QDateTime::currentDateTime().addSecs(3600);
        }
        QCOMPARE(item.data(Qt::DisplayRole).toString(), QStringLiteral("Title"));
        QCOMPARE(item.iconPath(), icon);
        QVERIFY(ViewDriver::sameIcon(item.data(Qt::DecorationRole), icon));
        // The icon follows the list as it is now, with no refresh in between.
        messages = hasLines ? QStringList() : QStringList{QStringLiteral("new")};
        QCOMPARE(item.iconPath() == icon, ignored);
    }

    void unansweredRoles_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("answered");
        const QList<QPair<QByteArray, int>> roles{{"edit", Qt::EditRole},
                                                  {"font", Qt::FontRole},
                                                  {"foreground", Qt::ForegroundRole},
                                                  {"background", Qt::BackgroundRole},
                                                  {"status tip", Qt::StatusTipRole},
                                                  {"user", Qt::UserRole}};
        for (int kind : {AlarmsServer, InfoServer, Category}) {
            for (const auto& role : roles) {
                QTest::newRow((QByteArray::number(kind) + " " + role.first).constData())
                    << kind << role.second << false;
            }
        }
        QTest::newRow("category tooltip") << int(Category) << int(Qt::ToolTipRole) << false;
        // A plain row answers from what is stored in it.
        QTest::newRow("plain foreground") << int(Plain) << int(Qt::ForegroundRole) << true;
    }

    void unansweredRoles()
    {
        QFETCH(int, kind);
        QFETCH(int, role);
        QFETCH(bool, answered);
        auto server = makeServer();
        server->initialized = true;
        QStringList messages{QStringLiteral("line")};
        std::unique_ptr<TreeItem> item(makeItem(kind, server, &messages));
        // Even a value stored in the item is not answered by the rows that compute their data.
        item->setData(QBrush(Qt::red), role);
        QCOMPARE(item->data(role).isValid(), answered);
    }

    void ignoreIsStrict()
    {
        QStringList messages;
        QDateTime until;
        NotificationTreeItem item(QStringLiteral("c"), &messages, until);
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

    void serverRowsListenWithoutRefreshing()
    {
        auto server = makeServer();
        server->initialized = true;
        server->recorderErrors << QStringLiteral("r");
        auto* alarms = new ServerAlarmsTreeItem(server);
        auto* info = new ServerInfoTreeItem(server, nullptr);
        QCOMPARE(alarms->rowCount() + info->rowCount(), 0);
        emit server->alarmsUpdated();
        QCOMPARE(alarms->rowCount(), 3);
        QCOMPARE(info->rowCount(), 0);
        emit server->infoUpdated();
        QCOMPARE(info->rowCount(), 2);

        // The connections end with the rows.
        delete alarms;
        delete info;
        QVERIFY(!QObject::disconnect(server.get(), &Server::alarmsUpdated, nullptr, nullptr));
        QVERIFY(!QObject::disconnect(server.get(), &Server::infoUpdated, nullptr, nullptr));
    }

    void rowsShareTheServer()
    {
        auto server = makeServer();
        std::weak_ptr<Server> watch = server;
        QStandardItemModel model;
        model.appendRow(new ServerAlarmsTreeItem(server));
        server.reset();
        QVERIFY(!watch.expired());
        model.removeRow(0);
        QVERIFY(watch.expired());
    }
};

QTEST_MAIN(TestTreeItems)
#include "TestTreeItems.moc"
