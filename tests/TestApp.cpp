// The program as main builds it, once per system locale (QUELVANE_EXPECTED_LANGUAGE names the language
// it must give): the main window, its dialogs, the tray without a system tray, the scripts.
#include "TestSupport.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionsDialog.h"
#include "notify/ExtActionManager.h"
#include "notify/SysTray.h"
#include "views/ServerAlarmsWidget.h"
#include "views/ServerInfoWidget.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QTranslator>

using namespace TestSupport;

namespace {

QStringList rowTexts(const QAbstractItemModel* model, const QModelIndex& parent = {})
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(parent); ++row)
        texts << model->index(row, 0, parent).data().toString();
    return texts;
}

void setInput(QWidget* dialog, const char* input, const QString& text)
{
    QWidget* widget = dialog->findChild<QWidget*>(input);
    widget->setProperty(widget->inherits("QSpinBox") ? "value" : "text", text);
}

QAction* serversMenuAction(MainWindow& window, int index)
{
    return window.menuBar()->actions().value(0)->menu()->actions().value(index);
}

// Runs close in the event loop: 0 when it ended the program, 3 when the program went on.
int closedInLoop(const std::function<void()>& close)
{
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        close();
        QTimer::singleShot(300, &context, [] { QCoreApplication::exit(3); });
    });
    return QApplication::exec();
}

struct RecordingSysTray : SysTray
{
    using SysTray::SysTray;
    void showBalloon(const QString& title, const QString& message) override { balloons << title + "|" + message; }
    void setIntervalOver(bool over) { balloonInterval = over ? 0 : 3600000; }
    QStringList balloons;
};

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    const bool french = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE") == QLatin1String("fr");
    QString pick(const char* english, const char* french) const
    {
        return QString::fromUtf8(this->french ? french : english);
    }
    RecorderSim sim;
    std::unique_ptr<QTemporaryDir> tmp;

    QString configFile() const { return tmp->filePath(QStringLiteral("Quelvane SAS/Quelvane Monitor/config.json")); }
    QStringList stored(const char* list, const char* key) const
    {
        QStringList values;
        for (const QJsonValue& entry : QJsonDocument::fromJson(readFile(configFile()))[list].toArray())
            values << entry[key].toString();
        return values;
    }
    void writeConfig(const QStringList& logins, const QString& script = {})
    {
        QJsonArray servers, scripts = script.isEmpty() ? QJsonArray() : QJsonArray{QJsonObject{{"path", script}}};
        for (const QString& login : logins)
            servers.append(QJsonObject{{"name", login + " server"},
                                       {"host", "127.0.0.1"},
                                       {"port", sim.port()},
                                       {"login", login},
                                       {"password", "secret"}});
        QVERIFY(writeFile(configFile(),
                          QJsonDocument(QJsonObject{{"servers", servers}, {"extActions", scripts}}).toJson()));
    }
    // In a folder with a blank in its name; each start appends the alarm it got to "<script>.log".
    QString writeScript(const QString& name) const
    {
        const QString path = tmp->filePath(QStringLiteral("with blank/") + name);
        return writeFile(path, "#!/bin/sh\necho \"$QUELVANE_ALARM\" >> \"$0.log\"\n") ? path : QString();
    }

private slots:
    void initTestCase()
    {
        Startup::configure(*qApp);
        QCOMPARE(Startup::languageCode(), qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE"));
        // A catalogue that failed to load must not linger as a child of the application.
        QCOMPARE(qApp->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly).size(), int(french));
        QVERIFY(sim.start() && load(sim, {recorder("a"), recorder("b"), recorder("c"), recorder("d")}));
        ServerManager::instance()->setSettings(shortSettings());
    }

    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", QFile::encodeName(tmp->path()));
    }

    void cleanup()
    {
        removeAllServers();
        for (const auto& action : QList<std::shared_ptr<ExtAction>>(ExtActionManager::instance()->actionList()))
            ExtActionManager::instance()->removeAction(action);
    }

    // The entry is read back from the autostart folder whoever made it, written for this executable with
    // the option that keeps the window hidden, valid for the desktop, and removed; the configuration is
    // not touched. A folder that cannot be written leaves the box as it was and says why.
    void startAtLogin_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("writable");
        QTest::newRow("none") << QByteArray() << false << true;
        QTest::newRow("copied by hand") << QByteArray("[Desktop Entry]\nType=Application\nName=Q\nExec=q\n") << true
                                        << true;
        QTest::newRow("turned off") << QByteArray("[Desktop Entry]\nExec=q\nHidden=true\n") << false << true;
        QTest::newRow("folder is a file") << QByteArray() << false << false;
    }

    void startAtLogin()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, enabled);
        QFETCH(bool, writable);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp->filePath("xdg config")));
        const QString path = tmp->filePath("xdg config/autostart/quelvane-monitor.desktop");
        if (!entry.isNull() || !writable)
            QVERIFY(writeFile(writable ? path : QFileInfo(path).path(), entry));
        auto window = std::make_unique<MainWindow>();
        auto* action = window->findChild<QAction*>("startAtLogin");
        QCOMPARE(action->isChecked(), enabled);
        action->trigger();
        if (!writable) {
            QVERIFY(!action->isChecked() && window->findChild<QMessageBox*>("startAtLoginWarning"));
            return;
        }
        QCOMPARE(QFile::exists(path), !enabled);
        if (!enabled) {
            QCOMPARE(QProcess::execute("desktop-file-validate", {path}), 0);
            QVERIFY(readFile(path).contains("\nExec=\"" + QFile::encodeName(qApp->applicationFilePath()) +
                                            "\" --hidden\n"));
        }
        window = std::make_unique<MainWindow>();
        QCOMPARE(window->findChild<QAction*>("startAtLogin")->isChecked(), !enabled);
        QVERIFY(!QFile::exists(configFile()));
    }

    void mainWindow()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Quelvane Monitor"));
        auto* tabs = qobject_cast<QTabWidget*>(window.centralWidget());
        QCOMPARE(tabs->tabText(0), pick("Alarms", "Alarmes"));
        // The Alarms title turns red on an error while the other tab is shown, and stays so until it is
        // looked at; once looked at, the next error turns it red again. An error seen on it changes nothing.
        auto* page = window.findChild<ServerAlarmsWidget*>();
        emit page->errorStateChanged(true);
        QCOMPARE(tabs->styleSheet(), QString());
        for (int round = 0; round < 2; ++round) {
            tabs->setCurrentIndex(1);
            for (bool inError : {true, false}) {
                emit page->errorStateChanged(inError);
                QCOMPARE(tabs->styleSheet(), QStringLiteral("QTabBar::tab:first {color: #F00;}"));
            }
            tabs->setCurrentIndex(0);
            QCOMPARE(tabs->styleSheet(), QString());
        }
        // Without a system tray closing the window ends the program.
        window.show();
        QCOMPARE(closedInLoop([&] { QVERIFY(window.close()); }), 0);
        // An SVG that renders shows the image plugin is there.
        QVERIFY(!QIcon(QStringLiteral(":/icons/server-ok")).pixmap(64, 42).isNull());
    }

    // Added through the menu, edited and deleted through the Alarms page: each change reaches the file.
    void serversThroughTheWindow()
    {
        writeConfig({"a", "b", "c"});
        MainWindow window;
        auto* page = window.findChild<ServerAlarmsWidget*>();
        auto* view = page->findChild<QAbstractItemView*>(QStringLiteral("serverTreeView"));
        bool focusOnFirstEmpty = false;
        whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), pick("Edit server", "Editer serveur"));
            setInput(dialog, "nameInput", "d server");
            setInput(dialog, "loginInput", "d");
            press(dialog, QDialogButtonBox::Ok);
            focusOnFirstEmpty =
                dialog->isVisible() && dialog->focusWidget() == dialog->findChild<QWidget*>("hostInput");
            setInput(dialog, "hostInput", "127.0.0.1");
            setInput(dialog, "portInput", QString::number(sim.port()));
            setInput(dialog, "passwordInput", "secret");
            press(dialog, QDialogButtonBox::Ok);
        });
        // The rows speak the user's language too.
        const QModelIndex first = view->model()->index(0, 0);
        QCOMPARE(first.data(Qt::ToolTipRole).toString(), pick("Connecting...", "Connexion..."));
        QTRY_COMPARE_WITH_TIMEOUT(
            rowTexts(view->model(), first),
            QStringList({pick("Recorder", "Enregistreur"), pick("Cameras", "Caméras"), pick("Hardware", "Matériel")}),
            20000);
        auto* info = window.findChild<ServerInfoWidget*>()->findChild<QAbstractItemView*>()->model();
        QTRY_COMPARE(rowTexts(info, info->index(0, 0)),
                     QStringList({pick("Hardware", "Matériel"), pick("License", "Licence")}));
        QVERIFY(
            rowTexts(info, info->index(1, 0, info->index(0, 0))).contains(pick("Serial number", "Numéro de série")));
        serversMenuAction(window, 0)->trigger();
        QVERIFY(focusOnFirstEmpty);
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "b server", "c server", "d server"}));

        // Accepting an edit authenticates again.
        QVERIFY(waitForRequests(sim, "b", "auth", 1));
        const int auths = countOf(sim, "b", "auth");
        view->setCurrentIndex(view->model()->index(1, 0));
        whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            QCOMPARE(dialog->findChild<QWidget*>("portInput")->property("value"), QVariant(int(sim.port())));
            setInput(dialog, "nameInput", "Depot");
            press(dialog, QDialogButtonBox::Ok);
        });
        page->onEditServer();
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "Depot", "c server", "d server"}));
        QVERIFY(waitForRequests(sim, "b", "auth", auths + 1));

        // The window makes the monitor save on removal; nothing here installs that.
        page->onDeleteServer();
        QCOMPARE(rowTexts(view->model()), QStringList({"a server", "c server", "d server"}));
        QCOMPARE(stored("servers", "name"), QStringList({"a server", "c server", "d server"}));
    }

    // A save that fails is told, once however many fail, with the file and the reason; what changed stays
    // in memory, and "Retry" writes it.
    void saveFailure()
    {
        QVERIFY(QDir().mkpath(configFile()));
        MainWindow window;
        const QStringList paths{tmp->filePath("first.sh"), tmp->filePath("second.sh")};
        for (const QString& path : paths)
            ExtActionManager::instance()->addAction(path);
        const auto boxes = window.findChildren<QMessageBox*>();
        QVERIFY(boxes.size() == 1 && boxes.first()->isVisible() && !boxes.first()->text().endsWith(": "));
        QVERIFY(
            boxes.first()->text().startsWith(pick("The servers and scripts could not be saved to \"",
                                                  "Les serveurs et les scripts n'ont pas pu être enregistrés dans \"") +
                                             configFile() + '"'));
        QVERIFY(QDir(configFile()).removeRecursively());
        // Answered while the window is hidden (in the tray), the warning does not end the program.
        QCOMPARE(closedInLoop([&] { QTest::mouseClick(boxes.first()->button(QMessageBox::Retry), Qt::LeftButton); }),
                 3);
        QCOMPARE(stored("extActions", "path"), paths);
    }

    void scripts()
    {
        const QStringList paths{writeScript("first.sh"), writeScript("second script.sh"), writeScript("third.sh")};
        writeConfig({}, paths.at(0));
        MainWindow window;
        serversMenuAction(window, 1)->trigger();
        auto* dialog = window.findChild<ExtActionsDialog*>();
        auto* view = dialog->findChild<QAbstractItemView*>();
        QCOMPARE(rowTexts(view->model()), paths.mid(0, 1));
        QString caption;
        whenModal<QFileDialog>([&](QFileDialog* chooser) {
            caption = chooser->windowTitle();
            chooser->selectFile(paths.at(1));
            static_cast<QDialog*>(chooser)->accept();
        });
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("addBtn")), Qt::LeftButton);
        QCOMPARE(caption, pick("Choose file to open", "Choisir un fichier"));
        QCOMPARE(stored("extActions", "path"), paths.mid(0, 2));
        // Started once on addition, with no alarm.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(paths.at(1) + ".log"), QByteArray("\n"), 20000);

        ExtActionManager::instance()->addAction(paths.at(2));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("removeBtn")), Qt::LeftButton);
        const QStringList left{paths.at(0), paths.at(2)};
        QCOMPARE(rowTexts(view->model()), left);
        QCOMPARE(stored("extActions", "path"), left);
    }

    // Without a system tray (offscreen) the icon waits for one with its menu ready, and follows the state.
    void trayWithoutSystemTray()
    {
        // What needs attention goes below the message.
        const QString message =
            pick("Some elements require your attention", "Certains éléments requièrent votre attention") +
            "\nGate: Cameras";
        const QImage ok = QIcon(QStringLiteral(":/icons/systray-ok")).pixmap(64).toImage();
        QWidget parent;
        RecordingSysTray tray(&parent);
        // Each pass of the event loop applies its last report; the balloon comes on a new alarm, and while
        // it lasts at most once an interval. An empty pass: the interval runs out before the next.
        const QList<QPair<QList<bool>, int>> passes{
            {{true, false, true}, 1}, {{true}, 1}, {{}, 1}, {{true}, 2}, {{true}, 2}, {{false, false}, 2}, {{true}, 3}};
        tray.setIntervalOver(false);
        tray.setAttention({"Gate: Cameras"});
        for (const auto& pass : passes) {
            if (pass.first.isEmpty()) {
                tray.setIntervalOver(true);
                QTest::qWait(2);
            }
            for (bool inError : pass.first)
                tray.setError(inError);
            QCoreApplication::processEvents();
            const bool inError = pass.first.value(pass.first.size() - 1, true);
            QCOMPARE(tray.toolTip(), inError ? message : QString());
            QCOMPARE(tray.icon().pixmap(64).toImage() == ok, !inError);
            QCOMPARE(tray.balloons.size(), pass.second);
            if (!pass.first.isEmpty())
                tray.setIntervalOver(false);
        }
        QCOMPARE(tray.balloons.value(0), "Quelvane Monitor|" + message);
        QVERIFY(tray.isVisible() && tray.contextMenu());
    }
};

QTEST_MAIN(TestApp)
#include "TestApp.moc"
