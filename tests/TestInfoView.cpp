#include "ModalDriver.h"
#include "ViewDriver.h"
#include "dialogs/EditserverDialog.h"
#include "monitor/ServerManager.h"
#include "views/ServerInfoTreeItem.h"
#include "views/ServerInfoWidget.h"
#include "views/TreeItem.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {
QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString(QStringLiteral("yyyyMMdd"));
}

QStringList childTexts(const QStandardItem* item)
{
    QStringList texts;
    for (int i = 0; i < item->rowCount(); ++i) {
        texts << item->child(i)->text();
    }
    return texts;
}
} // namespace

class TestInfoView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void waitingAndFailedRowsHaveNoChildren_data();
    void waitingAndFailedRowsHaveNoChildren();
    void hardwareAndLicenseRows();
    void systemInformationTree();
    void labelsInKeyOrder();
    void unknownAndUnshownLicenceMembersDropped();
    void licenceValues_data();
    void licenceValues();
    void expiryDates_data();
    void expiryDates();
    void rowsBelowAreMarkedExpanded();
    void everyRefreshEmitsDataChanged();
    void serverMenuOnly();

private:
    std::shared_ptr<Server> announce();
    void publish(const QJsonObject& sysInfo, const QJsonObject& license);
    QStandardItem* hardware() const { return serverRow()->child(0); }
    QStandardItem* licence() const { return serverRow()->child(1); }
    ServerInfoTreeItem* serverRow() const { return dynamic_cast<ServerInfoTreeItem*>(model->item(0, 0)); }

    ServerInfoWidget* page = nullptr;
    QTreeView* view = nullptr;
    QStandardItemModel* model = nullptr;
    std::shared_ptr<Server> server;
};

void TestInfoView::init()
{
    page = new ServerInfoWidget;
    page->resize(400, 700);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    view = page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
    QVERIFY(view);
    model = qobject_cast<QStandardItemModel*>(view->model());
    QVERIFY(model);
    server = announce();
}

void TestInfoView::cleanup()
{
    emit ServerManager::instance()->serverRemoved(server);
    server.reset();
    delete page;
}

std::shared_ptr<Server> TestInfoView::announce()
{
    auto record = std::make_shared<Server>(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 1, QStringLiteral("l"),
                                           QStringLiteral("p"));
    emit ServerManager::instance()->serverAdded(record);
    return record;
}

void TestInfoView::publish(const QJsonObject& sysInfo, const QJsonObject& license)
{
    server->initialized = true;
    server->infoError.clear();
    server->sysInfo = sysInfo;
    server->license = license;
    emit server->infoUpdated();
}

void TestInfoView::waitingAndFailedRowsHaveNoChildren_data()
{
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("waiting") << false << QString() << ":icons/server-wait"
                             << "Connecting...";
    QTest::newRow("failed") << true << "Error while getting license data"
                            << ":icons/forbidden"
                            << "Error while getting license data";
}

void TestInfoView::waitingAndFailedRowsHaveNoChildren()
{
    QFETCH(bool, initialized);
    QFETCH(QString, error);
    QFETCH(QString, icon);
    QFETCH(QString, toolTip);

    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(serverRow()->rowCount(), 0);
    publish({{"os", "Linux"}}, {{"build", "42"}});
    QCOMPARE(serverRow()->rowCount(), 2);

    // The last good documents stay on the record but are not shown.
    server->initialized = initialized;
    server->infoError = error;
    emit server->infoUpdated();
    QCOMPARE(serverRow()->rowCount(), 0);
    QCOMPARE(serverRow()->iconPath(), icon);
    QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole).toString(), toolTip);
}

void TestInfoView::hardwareAndLicenseRows()
{
    publish({}, {});
    QCOMPARE(childTexts(serverRow()), QStringList({"Hardware", "License"}));
    QCOMPARE(hardware()->type(), int(QStandardItem::Type));
    QCOMPARE(dynamic_cast<TreeItem*>(hardware())->objectName(), QStringLiteral("Sysinfo"));
    QVERIFY(ViewDriver::sameIcon(hardware()->data(Qt::DecorationRole), QStringLiteral(":icons/hardware-nok")));
    QVERIFY(ViewDriver::sameIcon(licence()->data(Qt::DecorationRole), QStringLiteral(":icons/licence")));
    QCOMPARE(hardware()->rowCount(), 0);
    QCOMPARE(licence()->rowCount(), 0);
    QCOMPARE(serverRow()->iconPath(), QStringLiteral(":icons/server-ok"));
    QVERIFY(!model->index(0, 0).data(Qt::ToolTipRole).isValid());
    // Alarms are not this page's business.
    server->camerasErrors << QStringLiteral("c");
    QCOMPARE(serverRow()->iconPath(), QStringLiteral(":icons/server-ok"));
}

void TestInfoView::systemInformationTree()
{
    publish(QJsonObject{{"name", "rec-01"},
                        {"disks", QJsonArray{"sda", "sdb"}},
                        {"cpu", QJsonObject{{"model", "X1"}, {"cores", 8}}},
                        {"uptime", 3600},
                        {"virtual", false},
                        {"gpu", QJsonValue::Null},
                        {"mixed", QJsonArray{"a", 5, QJsonObject{}}}},
            {});
    QStandardItem* hw = hardware();
    QCOMPARE(childTexts(hw), QStringList({"cpu", "disks", "mixed", "name"}));
    QCOMPARE(childTexts(hw->child(0)), QStringList{"model"});
    QCOMPARE(childTexts(hw->child(0)->child(0)), QStringList{"X1"});
    QCOMPARE(childTexts(hw->child(1)), QStringList({"sda", "sdb"}));
    QCOMPARE(childTexts(hw->child(2)), QStringList({"a", "", ""}));
    QCOMPARE(childTexts(hw->child(3)), QStringList{"rec-01"});
    QCOMPARE(hw->child(3)->child(0)->rowCount(), 0);

    // Each update rebuilds from scratch.
    publish(QJsonObject{{"name", "rec-02"}}, {});
    QCOMPARE(childTexts(hardware()), QStringList{"name"});
    QCOMPARE(childTexts(hardware()->child(0)), QStringList{"rec-02"});
}

void TestInfoView::labelsInKeyOrder()
{
    QCOMPARE(ServerInfoTreeItem::licenseLabels.size(), 12);
    QJsonObject license;
    for (auto it = ServerInfoTreeItem::licenseLabels.constBegin(); it != ServerInfoTreeItem::licenseLabels.constEnd();
         ++it) {
        license.insert(it.key(), QStringLiteral("v"));
    }
    publish({}, license);
    QCOMPARE(childTexts(licence()),
             QStringList({"Active modules", "Build", "Current metadata sources", "Current video sources", "Hardware ID",
                          "License expiration date", "Max metadata sources", "Max passive screens", "Max video sources",
                          "Serial number", "Upgrade expiration date", "Version"}));
}

void TestInfoView::unknownAndUnshownLicenceMembersDropped()
{
    publish({}, QJsonObject{{"build", "7"},
                            {"customer", "ACME"},
                            {"version", QJsonValue::Null},
                            {"serial_number", QJsonObject{{"a", "b"}}},
                            {"hardware_id", "HW"}});
    QCOMPARE(childTexts(licence()), QStringList({"Build", "Hardware ID"}));
}

void TestInfoView::licenceValues_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("string") << QJsonValue("4.2.1") << QStringList{"4.2.1"};
    QTest::newRow("whole number") << QJsonValue(16) << QStringList{"16"};
    QTest::newRow("fraction rounds") << QJsonValue(15.6) << QStringList{"16"};
    QTest::newRow("large number") << QJsonValue(12345678.0) << QStringList{"12345678"};
    QTest::newRow("zero") << QJsonValue(0) << QStringList{"0"};
    QTest::newRow("true") << QJsonValue(true) << QStringList{""};
    QTest::newRow("false") << QJsonValue(false) << QStringList{""};
    QTest::newRow("array") << QJsonValue(QJsonArray{"ANPR", 3, "Audio"}) << QStringList({"ANPR", "", "Audio"});
    QTest::newRow("empty array") << QJsonValue(QJsonArray{}) << QStringList();
}

void TestInfoView::licenceValues()
{
    QFETCH(QJsonValue, value);
    QFETCH(QStringList, rows);
    publish({}, QJsonObject{{"max_video_sources", value}});
    QCOMPARE(childTexts(licence()), QStringList{"Max video sources"});
    QStandardItem* label = licence()->child(0);
    QCOMPARE(childTexts(label), rows);
    for (int i = 0; i < label->rowCount(); ++i) {
        QCOMPARE(label->child(i)->rowCount(), 0);
        QVERIFY(!label->child(i)->data(Qt::ForegroundRole).isValid());
    }
}

void TestInfoView::expiryDates_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("orange");
    QTest::newRow("yesterday") << "license_expiration_date" << QJsonValue(day(-1)) << true;
    QTest::newRow("today") << "license_expiration_date" << QJsonValue(day(0)) << false;
    QTest::newRow("tomorrow") << "license_expiration_date" << QJsonValue(day(1)) << false;
    QTest::newRow("empty") << "license_expiration_date" << QJsonValue("") << true;
    QTest::newRow("dashes") << "license_expiration_date"
                            << QJsonValue(QDate::currentDate().addYears(1).toString(QStringLiteral("yyyy-MM-dd")))
                            << true;
    QTest::newRow("number") << "license_expiration_date" << QJsonValue(30000101) << true;
    QTest::newRow("upgrade past") << "upgrade_expiration_date" << QJsonValue(QStringLiteral("20000101")) << true;
    QTest::newRow("upgrade future") << "upgrade_expiration_date" << QJsonValue(QStringLiteral("29991231")) << false;
    QTest::newRow("not a date key") << "build" << QJsonValue(QStringLiteral("20000101")) << false;
}

void TestInfoView::expiryDates()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(bool, orange);
    publish({}, QJsonObject{{key, value}});
    QStandardItem* valueRow = licence()->child(0)->child(0);
    QVERIFY(valueRow);
    // Shown as received, not reformatted.
    if (value.isString()) {
        QCOMPARE(valueRow->text(), value.toString());
    }
    const QVariant foreground = valueRow->data(Qt::ForegroundRole);
    QCOMPARE(foreground.isValid(), orange);
    if (orange) {
        const QBrush brush = foreground.value<QBrush>();
        QCOMPARE(brush.color(), QColor(0xE3, 0x6F, 0x10));
        QCOMPARE(brush.style(), Qt::SolidPattern);
    }
}

void TestInfoView::rowsBelowAreMarkedExpanded()
{
    publish(QJsonObject{{"cpu", QJsonObject{{"model", "X1"}}}, {"name", "rec"}, {"uptime", 5}},
            QJsonObject{{"build", "1"}, {"active_modules", QJsonArray{"A"}}});
    const QModelIndex serverIndex = model->index(0, 0);
    const QModelIndex hardwareIndex = model->index(0, 0, serverIndex);
    const QModelIndex licenceIndex = model->index(1, 0, serverIndex);
    QVERIFY(!view->isExpanded(serverIndex));
    QVERIFY(!view->isExpanded(hardwareIndex));
    QVERIFY(!view->isExpanded(licenceIndex));
    const QModelIndex cpu = model->index(0, 0, hardwareIndex);
    QVERIFY(view->isExpanded(cpu));
    QVERIFY(view->isExpanded(model->index(0, 0, cpu)));
    QVERIFY(view->isExpanded(model->index(1, 0, hardwareIndex)));
    QVERIFY(view->isExpanded(model->index(0, 0, licenceIndex)));
    QVERIFY(view->isExpanded(model->index(1, 0, licenceIndex)));

    // Once the user opens the server and "Hardware", everything below is already open.
    view->expand(serverIndex);
    view->expand(hardwareIndex);
    QVERIFY(view->visualRect(model->index(0, 0, model->index(0, 0, cpu))).isValid());
}

void TestInfoView::everyRefreshEmitsDataChanged()
{
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    emit server->infoUpdated();
    QCOMPARE(changes.count(), 1);
    publish({{"name", "rec"}}, {});
    QCOMPARE(changes.count(), 2);
    QCOMPARE(changes.last().at(0).value<QModelIndex>(), model->index(0, 0));
}

void TestInfoView::serverMenuOnly()
{
    publish({{"name", "rec"}}, {});
    view->expandAll();
    QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0)), QStringList({"Edit server", "Delete server"}));
    const QModelIndex hardwareIndex = model->index(0, 0, model->index(0, 0));
    QCOMPARE(ViewDriver::contextMenu(page, view, hardwareIndex), QStringList());
    QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0, hardwareIndex)), QStringList());
    QCOMPARE(ViewDriver::contextMenu(page, view, QModelIndex()), QStringList());

    // The current row is a plain row now: the server actions do nothing.
    ViewDriver::menuAction(view, QStringLiteral("Delete server"))->trigger();
    QCOMPARE(model->rowCount(), 1);

    // Edit server opens the dialog on the row's server.
    QCOMPARE(ViewDriver::contextMenu(page, view, model->index(0, 0)), QStringList({"Edit server", "Delete server"}));
    QString shownName;
    bool handled = false;
    ModalDriver::whenModal<EditserverDialog>([&handled, &shownName](EditserverDialog* dialog) {
        handled = true;
        shownName = dialog->findChild<QLineEdit*>(QStringLiteral("nameInput"))->text();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    ViewDriver::menuAction(view, QStringLiteral("Edit server"))->trigger();
    QVERIFY(handled);
    QCOMPARE(shownName, QStringLiteral("Hall"));
}

QTEST_MAIN(TestInfoView)
#include "TestInfoView.moc"
