#include "ModalDriver.h"
#include "ViewDriver.h"
#include "ViewTestSupport.h"
#include "dialogs/EditserverDialog.h"
#include "views/ServerInfoTreeItem.h"
#include "views/ServerInfoWidget.h"

#include <QDate>
#include <QJsonArray>
#include <QtTest>

using ViewDriver::childTexts;

namespace {
QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString(QStringLiteral("yyyyMMdd"));
}
} // namespace

class TestInfoView : public QObject
{
    Q_OBJECT

    void publish(const QJsonObject& sysInfo, const QJsonObject& license);
    ServerInfoTreeItem* serverRow() const { return dynamic_cast<ServerInfoTreeItem*>(model->item(0, 0)); }

    ServerInfoWidget* page = nullptr;
    QTreeView* view = nullptr;
    QStandardItemModel* model = nullptr;
    ViewTest::Servers servers;
    std::shared_ptr<Server> server;

private slots:
    void init()
    {
        page = new ServerInfoWidget;
        page->resize(400, 700);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page));
        view = ViewTest::viewOf(page);
        model = ViewTest::modelOf(page);
        QVERIFY(model);
        server = servers.announce(QStringLiteral("Hall"));
    }

    void cleanup()
    {
        server.reset();
        servers.clear();
        delete page;
    }

    void serverRowStates_data()
    {
        QTest::addColumn<bool>("initialized");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QVariant>("toolTip");
        QTest::addColumn<QStringList>("children");
        QTest::newRow("waiting") << false << QString() << ":icons/server-wait" << QVariant("Connecting...")
                                 << QStringList();
        QTest::newRow("failed") << true << "Error while getting license data"
                                << ":icons/forbidden" << QVariant("Error while getting license data") << QStringList();
        QTest::newRow("filled") << true << QString() << ":icons/server-ok" << QVariant()
                                << QStringList{"Hardware", "License"};
    }

    void serverRowStates()
    {
        QFETCH(bool, initialized);
        QFETCH(QString, error);
        QFETCH(QString, icon);
        QFETCH(QVariant, toolTip);
        QFETCH(QStringList, children);

        QCOMPARE(serverRow()->rowCount(), 0);
        publish({{"os", "Linux"}}, {{"build", "42"}});
        QCOMPARE(serverRow()->rowCount(), 2);
        // The last good documents stay on the record but are not shown; alarms are not this page's business.
        server->initialized = initialized;
        server->infoError = error;
        server->camerasErrors << QStringLiteral("c");
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
        emit server->infoUpdated();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.first().at(0).value<QModelIndex>(), model->index(0, 0));
        QCOMPARE(childTexts(serverRow()), children);
        QCOMPARE(serverRow()->iconPath(), icon);
        QVERIFY(ViewDriver::sameIcon(model->index(0, 0).data(Qt::DecorationRole), icon));
        QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole), toolTip);
    }

    void systemInformationTree()
    {
        publish(QJsonObject{{"name", "rec-01"},
                            {"disks", QJsonArray{"sda", "sdb"}},
                            {"cpu", QJsonObject{{"model", "X1"}, {"cores", 8}}},
                            {"uptime", 3600},
                            {"virtual", false},
                            {"gpu", QJsonValue::Null},
                            {"mixed", QJsonArray{"a", 5, QJsonObject{}}}},
                QJsonObject{{"build", "1"}, {"active_modules", QJsonArray{"A"}}});
        QStandardItem* hardware = serverRow()->child(0);
        QStandardItem* licence = serverRow()->child(1);
        QCOMPARE(hardware->type(), int(QStandardItem::Type));
        QCOMPARE(dynamic_cast<TreeItem*>(hardware)->objectName(), QStringLiteral("Sysinfo"));
        QVERIFY(ViewDriver::sameIcon(hardware->data(Qt::DecorationRole), QStringLiteral(":icons/hardware-nok")));
        QVERIFY(ViewDriver::sameIcon(licence->data(Qt::DecorationRole), QStringLiteral(":icons/licence")));

        // Keys ascending; numbers, Booleans and nulls have no row.
        QCOMPARE(childTexts(hardware), QStringList({"cpu", "disks", "mixed", "name"}));
        QCOMPARE(childTexts(hardware->child(0)), QStringList{"model"});
        QCOMPARE(childTexts(hardware->child(0)->child(0)), QStringList{"X1"});
        QCOMPARE(childTexts(hardware->child(1)), QStringList({"sda", "sdb"}));
        QCOMPARE(childTexts(hardware->child(2)), QStringList({"a", "", ""}));
        QCOMPARE(childTexts(hardware->child(3)), QStringList{"rec-01"});
        QCOMPARE(hardware->child(3)->child(0)->rowCount(), 0);

        // Every key and label row is marked expanded, but not the server, "Hardware" or "License" rows.
        const QModelIndex serverIndex = model->index(0, 0);
        const QModelIndex hardwareIndex = model->index(0, 0, serverIndex);
        const QModelIndex licenceIndex = model->index(1, 0, serverIndex);
        QVERIFY(!view->isExpanded(serverIndex) && !view->isExpanded(hardwareIndex) && !view->isExpanded(licenceIndex));
        const QModelIndex cpu = model->index(0, 0, hardwareIndex);
        for (const QModelIndex& index : {cpu, model->index(0, 0, cpu), model->index(1, 0, hardwareIndex),
                                         model->index(0, 0, licenceIndex), model->index(1, 0, licenceIndex)}) {
            QVERIFY(view->isExpanded(index));
        }
        // Once the user opens the server and "Hardware", everything below is already open.
        view->expand(serverIndex);
        view->expand(hardwareIndex);
        QVERIFY(view->visualRect(model->index(0, 0, model->index(0, 0, cpu))).isValid());

        // Each update rebuilds from scratch.
        publish(QJsonObject{{"name", "rec-02"}}, {});
        QCOMPARE(childTexts(serverRow()->child(0)), QStringList{"name"});
        QCOMPARE(childTexts(serverRow()->child(0)->child(0)), QStringList{"rec-02"});
        QCOMPARE(serverRow()->child(1)->rowCount(), 0);
    }

    void licence_data()
    {
        QTest::addColumn<QJsonObject>("license");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("values"); // under the first label
        QTest::addColumn<bool>("orange");

        QJsonObject all;
        for (const QString& key : ServerInfoTreeItem::licenseLabels.keys()) {
            all.insert(key, QStringLiteral("v"));
        }
        QTest::newRow("all twelve, in key order") << all
                                                  << QStringList{"Active modules",
                                                                 "Build",
                                                                 "Current metadata sources",
                                                                 "Current video sources",
                                                                 "Hardware ID",
                                                                 "License expiration date",
                                                                 "Max metadata sources",
                                                                 "Max passive screens",
                                                                 "Max video sources",
                                                                 "Serial number",
                                                                 "Upgrade expiration date",
                                                                 "Version"}
                                                  << QStringList{"v"} << false;
        QTest::newRow("unknown, null and object dropped")
            << QJsonObject{{"build", "7"},
                           {"customer", "ACME"},
                           {"version", QJsonValue::Null},
                           {"serial_number", QJsonObject{{"a", "b"}}},
                           {"hardware_id", "HW"}}
            << QStringList{"Build", "Hardware ID"} << QStringList{"7"} << false;

        const auto value = [](const char* name, const QJsonValue& json, const QStringList& rows) {
            QTest::newRow(name) << QJsonObject{{"max_video_sources", json}} << QStringList{"Max video sources"} << rows
                                << false;
        };
        value("string", "4.2.1", {"4.2.1"});
        value("whole number", 16, {"16"});
        value("fraction rounds", 15.6, {"16"});
        value("large number", 12345678.0, {"12345678"});
        value("zero", 0, {"0"});
        value("true", true, {""});
        value("false", false, {""});
        value("array", QJsonArray{"ANPR", 3, "Audio"}, {"ANPR", "", "Audio"});
        value("empty array", QJsonArray{}, {});

        // Dates are shown as received, orange once past; one that does not parse counts as past.
        const auto date = [](const char* name, const char* key, const QJsonValue& json, const QString& text,
                             bool past) {
            QTest::newRow(name) << QJsonObject{{key, json}}
                                << QStringList{ServerInfoTreeItem::licenseLabels.value(QLatin1String(key))}
                                << QStringList{text} << past;
        };
        date("yesterday", "license_expiration_date", day(-1), day(-1), true);
        date("today", "license_expiration_date", day(0), day(0), false);
        date("tomorrow", "license_expiration_date", day(1), day(1), false);
        date("empty", "license_expiration_date", "", "", true);
        const QString dashes = QDate::currentDate().addYears(1).toString(QStringLiteral("yyyy-MM-dd"));
        date("dashes", "license_expiration_date", dashes, dashes, true);
        date("number", "license_expiration_date", 30000101, "30000101", true);
        date("upgrade past", "upgrade_expiration_date", "20000101", "20000101", true);
        date("upgrade future", "upgrade_expiration_date", "29991231", "29991231", false);
        date("not a date key", "build", "20000101", "20000101", false);
    }

    void licence()
    {
        QFETCH(QJsonObject, license);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, values);
        QFETCH(bool, orange);

        publish({}, license);
        QStandardItem* licence = serverRow()->child(1);
        QCOMPARE(childTexts(licence), labels);
        QStandardItem* label = licence->child(0);
        QCOMPARE(childTexts(label), values);
        for (int i = 0; i < label->rowCount(); ++i) {
            QCOMPARE(label->child(i)->rowCount(), 0);
            const QVariant foreground = label->child(i)->data(Qt::ForegroundRole);
            QCOMPARE(foreground.isValid(), orange);
            if (orange) {
                QCOMPARE(foreground.value<QBrush>().color(), QColor(0xE3, 0x6F, 0x10));
                QCOMPARE(foreground.value<QBrush>().style(), Qt::SolidPattern);
            }
        }
    }

    void serverMenuOnly()
    {
        publish({{"name", "rec"}}, {});
        view->expandAll();
        const QModelIndex hardwareIndex = model->index(0, 0, model->index(0, 0));
        for (const QModelIndex& index : {hardwareIndex, model->index(0, 0, hardwareIndex), QModelIndex()}) {
            QCOMPARE(ViewDriver::contextMenu(page, view, index), QStringList());
        }
        // The current row is a plain row now: the server actions do nothing.
        ViewDriver::menuAction(view, QStringLiteral("Delete server"))->trigger();
        QCOMPARE(model->rowCount(), 1);

        // Edit server opens the dialog on the row's server.
        QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0)),
                 QStringList({"Edit server", "Delete server"}));
        QString shownName;
        const auto ran = ModalDriver::whenModal<EditserverDialog>([&shownName](EditserverDialog* dialog) {
            shownName = ModalDriver::child<QLineEdit>(dialog, "nameInput")->text();
            ModalDriver::press(dialog, QDialogButtonBox::Cancel);
        });
        ViewDriver::menuAction(view, QStringLiteral("Edit server"))->trigger();
        QVERIFY(*ran);
        QCOMPARE(shownName, QStringLiteral("Hall"));
    }
};

void TestInfoView::publish(const QJsonObject& sysInfo, const QJsonObject& license)
{
    server->initialized = true;
    server->infoError.clear();
    server->sysInfo = sysInfo;
    server->license = license;
    emit server->infoUpdated();
}

QTEST_MAIN(TestInfoView)
#include "TestInfoView.moc"
