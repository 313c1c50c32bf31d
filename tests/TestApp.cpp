// The program as main builds it, run once per system locale; QUELVANE_EXPECTED_LANGUAGE names the
// language that locale must give. The main window, its dialogs, the tray without a system tray, scripts.
#include "TestSupport.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionsDialog.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "notify/ExtActionManager.h"
#include "notify/SysTray.h"
#include "views/ServerAlarmsWidget.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTranslator>
#include <QTreeView>

using namespace TestSupport;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList rowTexts(const QAbstractItemModel* model)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

void setText(QWidget* dialog, const char* input, const QString& text)
{
    if (auto* spin = dialog->findChild<QSpinBox*>(input))
        spin->setValue(text.toInt());
    else
        dialog->findChild<QLineEdit*>(input)->setText(text);
}

class RecordingSysTray : public SysTray
{
public:
    using SysTray::SysTray;
    QStringList balloons;

protected:
    void showBalloon(const QString& title, const QString& message) override
    {
        balloons << title + QLatin1Char('|') + message;
        SysTray::showBalloon(title, message);
    }
};

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(64, 64).toImage();
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    const QString language = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE");
    QString pick(const char* english, const char* french) const
    {
        return QString::fromUtf8(language == QLatin1String("fr") ? french : english);
    }
    RecorderSim sim;
    std::unique_ptr<QTemporaryDir> tmp;

    QString configFile() const { return tmp->filePath(QStringLiteral("Quelvane SAS/Quelvane Monitor/config.json")); }
    QStringList stored(const QString& list, const QString& key) const
    {
        QStringList values;
        for (const QJsonValue& entry : QJsonDocument::fromJson(readFile(configFile()))[list].toArray())
            values << entry[key].toString();
        return values;
    }
    void writeConfig(const QStringList& logins, const QStringList& scripts)
    {
        QJsonArray servers, actions;
        for (const QString& login : logins)
            servers.append(QJsonObject{{"name", login + " server"}, {"host", "127.0.0.1"}, {"port", sim.port()},
                                       {"login", login}, {"password", "secret"}});
        for (const QString& script : scripts)
            actions.append(QJsonObject{{"path", script}});
        QVERIFY(QDir().mkpath(QFileInfo(configFile()).path()));
        QFile file(configFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"servers", servers}, {"extActions", actions}}).toJson());
    }
    // A script in a folder with a blank in its name; each start appends the alarm it got to "<script>.log".
    QString writeScript(const QString& name) const
    {
        QDir().mkpath(tmp->filePath(QStringLiteral("with blank")));
        const QString path = tmp->filePath(QStringLiteral("with blank/") + name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\necho \"$QUELVANE_ALARM\" >> \"$0.log\"\n") < 0)
            return QString();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!language.isEmpty(), "QUELVANE_EXPECTED_LANGUAGE is not set");
        Startup::configure(*qApp);
        QCOMPARE(Startup::languageCode(), language);
        // A catalogue that failed to load must not linger as a child of the application.
        QCOMPARE(qApp->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly).size(),
                 int(language == QLatin1String("fr")));
        QVERIFY(sim.start());
        QVERIFY(load(sim, {recorder("a"), recorder("b"), recorder("c"), recorder("d")}));
        ServerManager::instance()->setSettings(shortSettings());
    }

    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        qputenv("APPDATA", QFile::encodeName(tmp->path()));
    }

    void cleanup()
    {
        removeAllServers();
        const auto actions = ExtActionManager::instance()->actionList();
        for (const auto& action : actions)
            ExtActionManager::instance()->removeAction(action);
    }

    void mainWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quelvane Monitor"));
        QCOMPARE(window.size(), QSize(497, 321));
        auto* tabs = qobject_cast<QTabWidget*>(window.centralWidget());
        QVERIFY(tabs);
        QCOMPARE(tabs->tabPosition(), QTabWidget::South);
        QCOMPARE(QStringList({tabs->tabText(0), tabs->tabText(1)}),
                 QStringList({pick("Alarms", "Alarmes"), pick("Information", "Informations")}));
        QMenu* servers = window.menuBar()->actions().value(0)->menu();
        QVERIFY(servers);
        QCOMPARE(servers->title(), pick("Servers", "Serveurs"));
        QCOMPARE(QStringList({servers->actions().value(0)->text(), servers->actions().value(1)->text()}),
                 QStringList({pick("Add server", "Ajouter un serveur"), pick("Scripts on alarms", "Scripts sur alarme")}));
        // An SVG that renders shows the image plugin is there.
        QVERIFY(!QIcon(QStringLiteral(":/icons/server-ok")).pixmap(64, 42).toImage().isNull());
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    // Added through the menu, edited and deleted through the Alarms page: each change is in the file.
    void serversThroughTheWindow()
    {
        writeConfig({"a", "b", "c"}, {});
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* page = window.findChild<ServerAlarmsWidget*>();
        auto* view = page->findChild<QTreeView*>(QStringLiteral("serverTreeView"));
        QCOMPARE(rowTexts(view->model()), QStringList({"a server", "b server", "c server"}));

        bool focusOnFirstEmpty = false;
        whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), pick("Edit server", "Editer serveur"));
            setText(dialog, "nameInput", "d server");
            setText(dialog, "loginInput", "d");
            // Refused while an input is empty; the first empty one takes the focus.
            press(dialog, QDialogButtonBox::Ok);
            focusOnFirstEmpty = dialog->isVisible() && dialog->focusWidget() == dialog->findChild<QWidget*>("hostInput");
            setText(dialog, "hostInput", "127.0.0.1");
            setText(dialog, "portInput", QString::number(sim.port()));
            setText(dialog, "passwordInput", "secret");
            press(dialog, QDialogButtonBox::Ok);
        });
        window.menuBar()->actions().value(0)->menu()->actions().value(0)->trigger();
        QVERIFY(focusOnFirstEmpty);
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "b server", "c server", "d server"}));

        // Accepting the edit starts a new authentication.
        QVERIFY(waitForRequests(sim, "b", "auth", 1));
        const int auths = countOf(sim, "b", "auth");
        view->setCurrentIndex(view->model()->index(1, 0));
        whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            QCOMPARE(dialog->findChild<QLineEdit*>("passwordInput")->text(), QStringLiteral("secret"));
            QCOMPARE(dialog->findChild<QSpinBox*>("portInput")->value(), int(sim.port()));
            setText(dialog, "nameInput", "Depot");
            press(dialog, QDialogButtonBox::Ok);
        });
        page->onEditServer();
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "Depot", "c server", "d server"}));
        QVERIFY(waitForRequests(sim, "b", "auth", auths + 1));

        // The window itself makes the monitor save on removal; nothing here installs that.
        view->setCurrentIndex(view->model()->index(1, 0));
        page->onDeleteServer();
        QCOMPARE(rowTexts(view->model()), QStringList({"a server", "c server", "d server"}));
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "c server", "d server"}));
    }

    void ignoreDialog_data()
    {
        QTest::addColumn<QList<int>>("daysHoursMinutes");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("1 d 2 h 30 min") << QList<int>{1, 2, 30} << true << qint64(86400 + 9000);
        QTest::newRow("cancelled") << QList<int>{2, 0, 0} << false << qint64(0);
    }

    void ignoreDialog()
    {
        QFETCH(QList<int>, daysHoursMinutes);
        QFETCH(bool, accept);
        QFETCH(qint64, seconds);
        const auto server = addServer(sim, "a");
        whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
            setText(dialog, "daysInput", QString::number(daysHoursMinutes.at(0)));
            setText(dialog, "hoursInput", QString::number(daysHoursMinutes.at(1)));
            setText(dialog, "minutesInput", QString::number(daysHoursMinutes.at(2)));
            press(dialog, accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime until = IgnoreNotificationDialog::askIgnoreUntil(nullptr, server);
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY2(until >= before.addSecs(seconds) && until <= after.addSecs(seconds),
                 qPrintable(until.toString(Qt::ISODate)));
    }

    void scripts()
    {
        const QStringList paths{writeScript("first.sh"), writeScript("second script.sh"), writeScript("third.sh")};
        writeConfig({}, {paths.at(0)});
        MainWindow window;
        window.menuBar()->actions().value(0)->menu()->actions().value(1)->trigger();
        auto* dialog = window.findChild<ExtActionsDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        auto* view = dialog->findChild<QListView*>(QStringLiteral("actionListView"));
        QCOMPARE(rowTexts(view->model()), QStringList{paths.at(0)});

        QString caption;
        whenModal<QFileDialog>([&](QFileDialog* chooser) {
            caption = chooser->windowTitle();
            chooser->selectFile(paths.at(1));
            static_cast<QDialog*>(chooser)->accept();
        });
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("addBtn")), Qt::LeftButton);
        QCOMPARE(caption, pick("Choose file to open", "Choisir un fichier"));
        QCOMPARE(stored("extActions", "path"), paths.mid(0, 2));
        // Started once on addition, with no alarm; the blank in the folder name intact.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(paths.at(1) + ".log"), QByteArray("\n"), 20000);

        ExtActionManager::instance()->addAction(paths.at(2));
        QCOMPARE(stored("extActions", "path"), paths);
        auto* remove = dialog->findChild<QPushButton*>(QStringLiteral("removeBtn"));
        QVERIFY(!remove->isEnabled());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
        QTest::mouseClick(remove, Qt::LeftButton);
        const QStringList left{paths.at(0), paths.at(2)};
        QCOMPARE(rowTexts(view->model()), left);
        QCOMPARE(stored("extActions", "path"), left);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUELVANE_ALARM"), QStringLiteral("recorder down"));
        ExtActionManager::instance()->runActions(environment);
        // Loading started nothing, so each log holds this one start.
        for (const QString& path : left)
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path + ".log"), QByteArray("recorder down\n"), 20000);
    }

    // The Alarms title turns red on an error seen from the other tab and stays so until the tab is shown.
    void alarmsTabHighlight()
    {
        MainWindow window;
        auto* tabs = qobject_cast<QTabWidget*>(window.centralWidget());
        auto* page = window.findChild<ServerAlarmsWidget*>();
        tabs->setCurrentIndex(1);
        emit page->errorStateChanged(true);
        QVERIFY(tabs->styleSheet().contains(QLatin1String("#F00")));
        emit page->errorStateChanged(false);
        QVERIFY(tabs->styleSheet().contains(QLatin1String("#F00")));
        tabs->setCurrentIndex(0);
        QCOMPARE(tabs->styleSheet(), QString());
    }

    // Without a system tray (offscreen) the icon stays hidden without a menu, but follows the state.
    void trayWithoutSystemTray()
    {
        const QString message = pick("Some elements require your attention", "Certains éléments requièrent votre attention");
        const QImage ok = imageOf(QIcon(QStringLiteral(":/icons/systray-ok")));
        const QImage alarm = imageOf(QIcon(QStringLiteral(":/icons/systray-nok")));
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable() && ok != alarm);
        QWidget parent;
        RecordingSysTray tray(&parent);
        tray.setError(true);
        tray.setError(true);
        QCOMPARE(tray.toolTip(), message);
        QCOMPARE(imageOf(tray.icon()), alarm);
        tray.setError(false);
        QCOMPARE(tray.balloons, QStringList({"Quelvane Monitor|" + message, "Quelvane Monitor|" + message}));
        QCOMPARE(tray.toolTip(), QString());
        QCOMPARE(imageOf(tray.icon()), ok);
        QVERIFY(!tray.isVisible() && !tray.contextMenu());
    }
};

QTEST_MAIN(TestApp)
#include "TestApp.moc"
