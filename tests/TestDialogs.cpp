#include "ModalDriver.h"
#include "ViewDriver.h"
#include "app/MainWindow.h"
#include "app/config/ConfigManager.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionsDialog.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace ModalDriver;

namespace {

QString configFile()
{
    return ConfigManager::instance()->configDir().absoluteFilePath(QStringLiteral("config.json"));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject configRoot()
{
    return QJsonDocument::fromJson(readFile(configFile())).object();
}

QJsonArray storedServers()
{
    return configRoot().value(QStringLiteral("servers")).toArray();
}

QStringList storedScripts()
{
    QStringList paths;
    for (const QJsonValue& value : configRoot().value(QStringLiteral("extActions")).toArray()) {
        paths << value.toObject().value(QStringLiteral("path")).toString();
    }
    return paths;
}

void writeConfig(const QJsonObject& root)
{
    QVERIFY(QDir().mkpath(ConfigManager::instance()->configDir().path()));
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson());
}

int lineCount(const QString& path)
{
    return readFile(path).count('\n');
}

// The keyboard focus is on the input or on its inner editor.
bool focusIsIn(QWidget* dialog, QWidget* input)
{
    QWidget* focus = dialog->focusWidget();
    return focus && (focus == input || input->isAncestorOf(focus));
}

QStringList rowTexts(QAbstractItemModel* model, int role)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts << model->index(row, 0).data(role).toString();
    }
    return texts;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

    std::shared_ptr<Server> addDeadServer();
    QString writeScript(const QString& name);

    std::unique_ptr<QTemporaryDir> tmp;

private slots:
    void initTestCase()
    {
        QApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
        QApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
        ServerManager::instance()->setSaveHandler([] { ConfigManager::instance()->save(); });
    }

    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        qputenv("APPDATA", QFile::encodeName(tmp->filePath(QStringLiteral("appdata"))));
    }

    void cleanup()
    {
        // Copies: removal changes the lists.
        for (const auto& server : QList<std::shared_ptr<Server>>(ServerManager::instance()->serverList())) {
            ServerManager::instance()->removeServer(server);
        }
        for (const auto& action : QList<std::shared_ptr<ExtAction>>(ExtActionManager::instance()->actionList())) {
            ExtActionManager::instance()->removeAction(action);
        }
        tmp.reset();
    }

    void newServer_data()
    {
        QTest::addColumn<QString>("emptied");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<int>("runs");
        for (const char* name : {"nameInput", "hostInput", "portInput", "loginInput", "passwordInput"}) {
            QTest::newRow(name) << name << false << 1;
        }
        QTest::newRow("Escape") << QString() << true << 1;
        // The same name and host twice gives two independent servers.
        QTest::newRow("accepted twice") << QString() << false << 2;
    }

    void newServer()
    {
        QFETCH(QString, emptied);
        QFETCH(bool, escape);
        QFETCH(int, runs);
        const bool accepted = emptied.isEmpty() && !escape;
        for (int run = 0; run < runs; ++run) {
            bool stayedOpen = false;
            bool focused = false;
            whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Edit server"));
                QCOMPARE(child<QSpinBox>(dialog, "portInput")->value(), 80);
                const QList<QPair<const char*, QString>> values{{"nameInput", "Hall"},
                                                                {"hostInput", "127.0.0.1"},
                                                                {"portInput", "8080"},
                                                                {"loginInput", "admin"},
                                                                {"passwordInput", "p w"}};
                for (const auto& value : values) {
                    type(dialog, value.first, emptied == QLatin1String(value.first) ? QString() : value.second);
                }
                if (escape) {
                    QTest::keyClick(dialog, Qt::Key_Escape);
                    return;
                }
                // The Ok button takes the focus on the click; a refusal must hand it to the empty input.
                press(dialog, QDialogButtonBox::Ok);
                stayedOpen = dialog->isVisible();
                if (stayedOpen) {
                    focused = focusIsIn(dialog, dialog->findChild<QWidget*>(emptied));
                    press(dialog, QDialogButtonBox::Cancel);
                }
            });
            EditserverDialog::newServer(nullptr);
            QCOMPARE(stayedOpen, !emptied.isEmpty());
            QCOMPARE(focused, !emptied.isEmpty());
        }

        const auto servers = ServerManager::instance()->serverList();
        if (!accepted) {
            QVERIFY(servers.isEmpty());
            QVERIFY(!QFile::exists(configFile()));
            return;
        }
        QCOMPARE(servers.size(), 2);
        QVERIFY(servers.at(0) != servers.at(1));
        const QJsonArray stored = storedServers();
        QCOMPARE(stored.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const Server& server = *servers.at(i);
            QCOMPARE(QStringList({server.name, server.host, server.login, server.password}),
                     QStringList({"Hall", "127.0.0.1", "admin", "p w"}));
            QCOMPARE(server.port, 8080);
            QCOMPARE(stored.at(i).toObject().value(QStringLiteral("password")).toString(), QStringLiteral("p w"));
            QCOMPARE(stored.at(i).toObject().value(QStringLiteral("port")).toInt(), 8080);
        }
    }

    void editServer_data()
    {
        QTest::addColumn<int>("storedPort");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("typedPort");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("shownPort");
        QTest::addColumn<int>("port");

        QTest::newRow("accepted") << 9 << "Gate"
                                  << "8081" << true << "9" << 8081;
        // As read from a file that held the port as a string.
        QTest::newRow("port 0 shown as 1") << 0 << QString() << QString() << true << "1" << 1;
        QTest::newRow("cancelled") << 9 << "Gate" << QString() << false << "9" << 9;
    }

    void editServer()
    {
        QFETCH(int, storedPort);
        QFETCH(QString, newName);
        QFETCH(QString, typedPort);
        QFETCH(bool, accept);
        QFETCH(QString, shownPort);
        QFETCH(int, port);

        const auto server = addDeadServer();
        // After the first refused authentication, a restarted one shows as initialized going false again.
        QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);
        server->port = storedPort;
        QStringList shown;
        whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            for (const char* name : {"nameInput", "hostInput", "portInput", "loginInput", "passwordInput"}) {
                shown << child<QWidget>(dialog, name)->property("text").toString();
            }
            QCOMPARE(child<QLineEdit>(dialog, "passwordInput")->echoMode(), QLineEdit::Password);
            if (!newName.isEmpty()) {
                type(dialog, "nameInput", newName);
            }
            if (!typedPort.isEmpty()) {
                type(dialog, "portInput", typedPort);
            }
            press(dialog, accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        EditserverDialog::editServer(nullptr, server);

        QCOMPARE(shown, (QStringList{"Hall", "127.0.0.1", shownPort, "admin", "secret"}));
        const QString name = accept && !newName.isEmpty() ? newName : QStringLiteral("Hall");
        QCOMPARE(server->name, name);
        QCOMPARE(server->port, port);
        QCOMPARE(ServerManager::instance()->serverList(), QList<std::shared_ptr<Server>>{server});
        // Accepting, even unchanged, restarts the authentication and rewrites the file.
        QCOMPARE(server->initialized, !accept);
        QCOMPARE(QFile::exists(configFile()), accept);
        if (accept) {
            const QJsonObject stored = storedServers().at(0).toObject();
            QCOMPARE(stored.value(QStringLiteral("name")).toString(), name);
            QCOMPARE(stored.value(QStringLiteral("port")), QJsonValue(port));
        }
    }

    void ignoreUntil_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<qint64>("seconds");

        QTest::newRow("1 d 2 h 30 min") << 1 << 2 << 30 << true << qint64(9000);
        QTest::newRow("longest: 3 d 23 h 59 min") << 3 << 23 << 59 << true << qint64(1439 * 60);
        QTest::newRow("all zero") << 0 << 0 << 0 << true << qint64(0);
        QTest::newRow("cancelled") << 2 << 0 << 0 << false << qint64(0);
    }

    void ignoreUntil()
    {
        QFETCH(int, days);
        QFETCH(int, hours);
        QFETCH(int, minutes);
        QFETCH(bool, accept);
        QFETCH(qint64, seconds);

        const auto server = addDeadServer();
        QVERIFY(!server->alarmsTimer.isActive());
        whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
            QCOMPARE(QList<int>({child<QSpinBox>(dialog, "daysInput")->maximum(),
                                 child<QSpinBox>(dialog, "hoursInput")->maximum(),
                                 child<QSpinBox>(dialog, "minutesInput")->maximum()}),
                     QList<int>({3, 23, 59}));
            type(dialog, "daysInput", QString::number(days));
            type(dialog, "hoursInput", QString::number(hours));
            type(dialog, "minutesInput", QString::number(minutes));
            QVERIFY(ViewDriver::saveShot(dialog->grab(), QStringLiteral("IgnoreNotificationDialog")));
            press(dialog, accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime until = IgnoreNotificationDialog::askIgnoreUntil(nullptr, server);
        const QDateTime after = QDateTime::currentDateTime();

        const int addedDays = accept ? days : 0;
        QVERIFY2(until >= before.addDays(addedDays).addSecs(seconds) &&
                     until <= after.addDays(addedDays).addSecs(seconds),
                 qPrintable(until.toString(Qt::ISODateWithMs)));
        // refreshAlarms is the only thing that starts the poll timer of a server whose authentication fails.
        QCOMPARE(server->alarmsTimer.isActive(), accept);
    }

    void addScriptThroughFileChooser()
    {
#ifdef Q_OS_WIN
        QSKIP("The start is checked with a shell script");
#endif
        const QString script = writeScript(QStringLiteral("siren script.sh"));
        ExtActionsDialog dialog;
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* model = child<QListView>(&dialog, "actionListView")->model();

        // A cancelled chooser changes nothing.
        whenModal<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
        QTest::mouseClick(child<QPushButton>(&dialog, "addBtn"), Qt::LeftButton);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(!QFile::exists(configFile()));

        for (int round = 1; round <= 2; ++round) {
            QString caption;
            whenModal<QFileDialog>([&](QFileDialog* chooser) {
                caption = chooser->windowTitle();
                chooser->selectFile(script);
                // accept() is protected in QFileDialog; it is QDialog's public slot underneath.
                static_cast<QDialog*>(chooser)->accept();
            });
            QTest::mouseClick(child<QPushButton>(&dialog, "addBtn"), Qt::LeftButton);

            QCOMPARE(caption, QStringLiteral("Choose file to open"));
            const QStringList expected = QVector<QString>(round, script).toList();
            QCOMPARE(rowTexts(model, Qt::DisplayRole), expected);
            QCOMPARE(rowTexts(model, Qt::ToolTipRole), expected);
            QCOMPARE(ExtActionManager::instance()->actionList().size(), round);
            QCOMPARE(storedScripts(), expected);
            // Started once per addition, with the blank in its folder name intact.
            QTRY_COMPARE_WITH_TIMEOUT(lineCount(script + QStringLiteral(".log")), round, 20000);
        }
    }

    void removeEnabledByMouseOnly()
    {
        ExtActionsDialog dialog;
        auto* manager = ExtActionManager::instance();
        const auto a = manager->addAction(QStringLiteral("/opt/a.sh"));
        manager->addAction(QStringLiteral("/opt/b.sh"));
        const auto c = manager->addAction(QStringLiteral("/opt/c.sh"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* view = child<QListView>(&dialog, "actionListView");
        auto* remove = child<QPushButton>(&dialog, "removeBtn");
        QVERIFY(!remove->isEnabled());

        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Down);
        QVERIFY(view->currentIndex().isValid());
        QVERIFY(!remove->isEnabled());

        const QModelIndex middle = view->model()->index(1, 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(middle).center());
        QVERIFY(remove->isEnabled());
        QVERIFY(ViewDriver::saveShot(dialog.grab(), QStringLiteral("ExtActionsDialog")));

        QTest::mouseClick(remove, Qt::LeftButton);
        QCOMPARE(manager->actionList(), (QList<std::shared_ptr<ExtAction>>{a, c}));
        QCOMPARE(storedScripts(), (QStringList{"/opt/a.sh", "/opt/c.sh"}));
        QCOMPARE(view->model()->rowCount(), 2);
        QVERIFY(remove->isEnabled());

        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY(remove->isEnabled());
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY(manager->actionList().isEmpty());
        QCOMPARE(view->model()->rowCount(), 0);
        QVERIFY(!remove->isEnabled());
        QVERIFY(configRoot().value(QStringLiteral("extActions")).isArray());
        QVERIFY(storedScripts().isEmpty());
    }

    void mainWindowLoadsAndMenuFlows()
    {
        const QString first = writeScript(QStringLiteral("first.sh"));
        const QString second = writeScript(QStringLiteral("second script.sh"));
        writeConfig(QJsonObject{
            {"servers", QJsonArray{QJsonObject{
                            {"name", "Hall"}, {"host", "127.0.0.1"}, {"port", 9}, {"login", "a"}, {"password", "pw"}}}},
            {"extActions", QJsonArray{QJsonObject{{"path", second}}, QJsonObject{{"path", first}}}}});

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(ServerManager::instance()->serverList().size(), 1);

        // The dialog exists before the file is loaded, so it lists the stored scripts in file order.
        const auto dialogs = window.findChildren<ExtActionsDialog*>();
        QCOMPARE(dialogs.size(), 1);
        ExtActionsDialog* dialog = dialogs.first();
        QCOMPARE(dialog->parentWidget(), &window);
        auto* model = child<QListView>(dialog, "actionListView")->model();
        QCOMPARE(rowTexts(model, Qt::DisplayRole), (QStringList{second, first}));
        QCOMPARE(rowTexts(model, Qt::ToolTipRole), (QStringList{second, first}));
        QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsEditable));
        QCOMPARE(storedScripts(), (QStringList{second, first}));
        QCOMPARE(configRoot().value(QStringLiteral("version")).toString(), QStringLiteral("1.0.0"));

        QMenu* servers = window.menuBar()->actions().first()->menu();
        for (int i = 0; i < 2; ++i) {
            servers->actions().at(1)->trigger();
            QCOMPARE(window.findChildren<ExtActionsDialog*>(), dialogs);
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->windowModality(), Qt::WindowModal);
            dialog->close();
        }

        whenModal<EditserverDialog>([](EditserverDialog* editor) {
            type(editor, "nameInput", QStringLiteral("Gate"));
            type(editor, "hostInput", QStringLiteral("127.0.0.1"));
            type(editor, "loginInput", QStringLiteral("op"));
            type(editor, "passwordInput", QStringLiteral("pw"));
            QVERIFY(ViewDriver::saveShot(editor->grab(), QStringLiteral("EditserverDialog")));
            press(editor, QDialogButtonBox::Ok);
        });
        servers->actions().at(0)->trigger();
        QCOMPARE(ServerManager::instance()->serverList().size(), 2);
        QCOMPARE(storedServers().size(), 2);

        // Removing a server saves through the handler the window gave the monitor.
        ServerManager::instance()->removeServer(ServerManager::instance()->serverList().first());
        QCOMPARE(storedServers().size(), 1);
        QCOMPARE(storedServers().at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Gate"));

#ifndef Q_OS_WIN
        // Loading started nothing: a script started then would have logged by the time this one has.
        ExtActionManager::startDetached(writeScript(QStringLiteral("witness.sh")));
        QTRY_COMPARE_WITH_TIMEOUT(lineCount(tmp->filePath(QStringLiteral("with blank/witness.sh.log"))), 1, 20000);
        QVERIFY(!QFile::exists(first + QStringLiteral(".log")));
        QVERIFY(!QFile::exists(second + QStringLiteral(".log")));
#endif
    }
};

// Port 9 (discard) on the loopback: nothing listens, so every authentication is refused at once.
std::shared_ptr<Server> TestDialogs::addDeadServer()
{
    return ServerManager::instance()->addServer(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 9,
                                                QStringLiteral("admin"), QStringLiteral("secret"));
}

// A script in a folder whose name has a blank; each start appends one line to "<script>.log".
QString TestDialogs::writeScript(const QString& name)
{
    const QString dir = tmp->filePath(QStringLiteral("with blank"));
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QString();
    }
    file.write(QStringLiteral("#!/bin/sh\necho started >> '%1.log'\n").arg(path).toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}

QTEST_MAIN(TestDialogs)
#include "TestDialogs.moc"
