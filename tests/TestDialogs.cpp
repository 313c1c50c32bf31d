#include "ModalDriver.h"
#include "app/MainWindow.h"
#include "app/config/ConfigManager.h"
#include "dialogs/EditserverDialog.h"
#include "dialogs/ExtActionItem.h"
#include "dialogs/ExtActionsDialog.h"
#include "dialogs/IgnoreNotificationDialog.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// Port 9 (discard) on the loopback: nothing listens, so every authentication is refused at once.
const int deadPort = 9;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString configFile()
{
    return ConfigManager::instance()->configDir().absoluteFilePath(QStringLiteral("config.json"));
}

QJsonObject configRoot()
{
    return QJsonDocument::fromJson(readFile(configFile())).object();
}

QStringList configScripts()
{
    QStringList paths;
    for (const QJsonValue& value : configRoot().value(QStringLiteral("extActions")).toArray()) {
        paths << value.toObject().value(QStringLiteral("path")).toString();
    }
    return paths;
}

template <typename T> T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QLatin1String(name));
}

void clickButton(QDialog* dialog, QDialogButtonBox::StandardButton which)
{
    QTest::mouseClick(child<QDialogButtonBox>(dialog, "buttonBox")->button(which), Qt::LeftButton);
}

void typeInto(QLineEdit* input, const QString& text)
{
    input->clear();
    QTest::keyClicks(input, text);
}

void typeInto(QSpinBox* input, const QString& text)
{
    QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(input, Qt::Key_Backspace);
    QTest::keyClicks(input, text);
}

// The widget holding the keyboard focus inside the dialog is the input or its inner editor.
bool focusIsIn(QDialog* dialog, QWidget* input)
{
    QWidget* focus = dialog->focusWidget();
    return focus && (focus == input || input->isAncestorOf(focus));
}

// Pictures of the dialogs as shown, for a person to look at.
void saveShot(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS");
    if (!dir.isEmpty()) {
        widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
}

int lineCount(const QString& path)
{
    return readFile(path).count('\n');
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyInputKeepsDialogOpen_data();
    void emptyInputKeepsDialogOpen();
    void newServerAccepted();
    void newServerCancelled();
    void editServerAccepted();
    void editServerPortZeroShownAsOne();
    void editServerCancelled();

    void ignoreUntil_data();
    void ignoreUntil();
    void ignoreCancelled();

    void scriptsFromConfigListedInFileOrder();
    void addScriptThroughFileChooser();
    void fileChooserCancelled();
    void removeEnabledByMouseOnly();

    void mainWindowMenuAndScriptsDialog();

private:
    std::shared_ptr<Server> addDeadServer(const QString& name, int port = deadPort);
    QString writeScript(const QString& name);

    std::unique_ptr<QTemporaryDir> tmp;
};

void TestDialogs::initTestCase()
{
    QApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    ServerManager::instance()->setSaveHandler([] { ConfigManager::instance()->save(); });
}

void TestDialogs::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    qputenv("APPDATA", QFile::encodeName(tmp->filePath(QStringLiteral("appdata"))));
}

void TestDialogs::cleanup()
{
    const auto servers = ServerManager::instance()->serverList();
    for (const auto& server : servers) {
        ServerManager::instance()->removeServer(server);
    }
    const auto actions = ExtActionManager::instance()->actionList();
    for (const auto& action : actions) {
        ExtActionManager::instance()->removeAction(action);
    }
    tmp.reset();
}

std::shared_ptr<Server> TestDialogs::addDeadServer(const QString& name, int port)
{
    return ServerManager::instance()->addServer(name, QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                                                QStringLiteral("secret"));
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

void TestDialogs::emptyInputKeepsDialogOpen_data()
{
    QTest::addColumn<QString>("emptied");
    for (const char* name : {"nameInput", "hostInput", "portInput", "loginInput", "passwordInput"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

void TestDialogs::emptyInputKeepsDialogOpen()
{
    QFETCH(QString, emptied);
    bool stayedOpen = false;
    bool focused = false;
    QString title;
    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        title = dialog->windowTitle();
        const QStringList lines{QStringLiteral("nameInput"), QStringLiteral("hostInput"), QStringLiteral("loginInput"),
                                QStringLiteral("passwordInput")};
        for (const QString& line : lines) {
            typeInto(dialog->findChild<QLineEdit*>(line), line == emptied ? QString() : QStringLiteral("x"));
        }
        auto* port = child<QSpinBox>(dialog, "portInput");
        typeInto(port, emptied == QLatin1String("portInput") ? QString() : QStringLiteral("8080"));
        // The Ok button takes the focus on the click; the refusal must hand it to the empty input.
        clickButton(dialog, QDialogButtonBox::Ok);
        stayedOpen = dialog->isVisible();
        focused = focusIsIn(dialog, dialog->findChild<QWidget*>(emptied));
        clickButton(dialog, QDialogButtonBox::Cancel);
    });
    EditserverDialog::newServer(nullptr);

    QCOMPARE(title, QStringLiteral("Edit server"));
    QVERIFY(stayedOpen);
    QVERIFY(focused);
    QVERIFY(ServerManager::instance()->serverList().isEmpty());
    QVERIFY(!QFile::exists(configFile()));
}

void TestDialogs::newServerAccepted()
{
    for (int i = 0; i < 2; ++i) {
        int defaultPort = 0;
        ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
            auto* port = child<QSpinBox>(dialog, "portInput");
            defaultPort = port->value();
            typeInto(child<QLineEdit>(dialog, "nameInput"), QStringLiteral("Hall"));
            typeInto(child<QLineEdit>(dialog, "hostInput"), QStringLiteral("127.0.0.1"));
            typeInto(port, QStringLiteral("99999"));
            typeInto(child<QLineEdit>(dialog, "loginInput"), QStringLiteral("admin"));
            typeInto(child<QLineEdit>(dialog, "passwordInput"), QStringLiteral("p w"));
            saveShot(dialog, QStringLiteral("EditserverDialog"));
            clickButton(dialog, QDialogButtonBox::Ok);
        });
        EditserverDialog::newServer(nullptr);
        QCOMPARE(defaultPort, 80);
    }

    // The same name and host twice gives two independent servers; the port never leaves 1..65535.
    const auto servers = ServerManager::instance()->serverList();
    QCOMPARE(servers.size(), 2);
    QVERIFY(servers.at(0) != servers.at(1));
    for (const auto& server : servers) {
        QCOMPARE(server->name, QStringLiteral("Hall"));
        QCOMPARE(server->host, QStringLiteral("127.0.0.1"));
        QVERIFY(server->port >= 1 && server->port <= 65535);
        QCOMPARE(server->login, QStringLiteral("admin"));
        QCOMPARE(server->password, QStringLiteral("p w"));
    }
    const QJsonArray stored = configRoot().value(QStringLiteral("servers")).toArray();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored.at(1).toObject().value(QStringLiteral("password")).toString(), QStringLiteral("p w"));
    QCOMPARE(stored.at(1).toObject().value(QStringLiteral("port")).toInt(), servers.at(1)->port);
}

void TestDialogs::newServerCancelled()
{
    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        typeInto(child<QLineEdit>(dialog, "nameInput"), QStringLiteral("Hall"));
        typeInto(child<QLineEdit>(dialog, "hostInput"), QStringLiteral("127.0.0.1"));
        typeInto(child<QLineEdit>(dialog, "loginInput"), QStringLiteral("admin"));
        typeInto(child<QLineEdit>(dialog, "passwordInput"), QStringLiteral("secret"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EditserverDialog::newServer(nullptr);
    QVERIFY(ServerManager::instance()->serverList().isEmpty());
    QVERIFY(!QFile::exists(configFile()));
}

void TestDialogs::editServerAccepted()
{
    const auto server = addDeadServer(QStringLiteral("Hall"), 8080);
    // The first authentication has failed, so a fresh one shows as initialized going false again.
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);

    QStringList shown;
    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        shown << child<QLineEdit>(dialog, "nameInput")->text() << child<QLineEdit>(dialog, "hostInput")->text()
              << child<QSpinBox>(dialog, "portInput")->text() << child<QLineEdit>(dialog, "loginInput")->text()
              << child<QLineEdit>(dialog, "passwordInput")->text();
        QCOMPARE(child<QLineEdit>(dialog, "passwordInput")->echoMode(), QLineEdit::Password);
        typeInto(child<QLineEdit>(dialog, "nameInput"), QStringLiteral("Gate"));
        typeInto(child<QSpinBox>(dialog, "portInput"), QStringLiteral("8081"));
        clickButton(dialog, QDialogButtonBox::Ok);
    });
    EditserverDialog::editServer(nullptr, server);

    QCOMPARE(shown, (QStringList{"Hall", "127.0.0.1", "8080", "admin", "secret"}));
    QCOMPARE(server->name, QStringLiteral("Gate"));
    QCOMPARE(server->port, 8081);
    QCOMPARE(ServerManager::instance()->serverList(), QList<std::shared_ptr<Server>>{server});
    QVERIFY(!server->initialized);
    const QJsonObject stored = configRoot().value(QStringLiteral("servers")).toArray().at(0).toObject();
    QCOMPARE(stored.value(QStringLiteral("name")).toString(), QStringLiteral("Gate"));
    QCOMPARE(stored.value(QStringLiteral("port")).toInt(), 8081);
}

void TestDialogs::editServerPortZeroShownAsOne()
{
    const auto server = addDeadServer(QStringLiteral("Hall"), 0);
    QString shownPort;
    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        shownPort = child<QSpinBox>(dialog, "portInput")->text();
        clickButton(dialog, QDialogButtonBox::Ok);
    });
    EditserverDialog::editServer(nullptr, server);
    QCOMPARE(shownPort, QStringLiteral("1"));
    QCOMPARE(server->port, 1);
    QCOMPARE(configRoot().value(QStringLiteral("servers")).toArray().at(0).toObject().value(QStringLiteral("port")),
             QJsonValue(1));
}

void TestDialogs::editServerCancelled()
{
    const auto server = addDeadServer(QStringLiteral("Hall"));
    QTRY_VERIFY_WITH_TIMEOUT(server->initialized, 20000);
    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        typeInto(child<QLineEdit>(dialog, "nameInput"), QStringLiteral("Gate"));
        clickButton(dialog, QDialogButtonBox::Cancel);
    });
    EditserverDialog::editServer(nullptr, server);
    QCOMPARE(server->name, QStringLiteral("Hall"));
    QVERIFY(server->initialized);
    QVERIFY(!QFile::exists(configFile()));
}

void TestDialogs::ignoreUntil_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<qint64>("seconds");

    QTest::newRow("1 day 2 h 30 min") << 1 << 2 << 30 << qint64(9000);
    QTest::newRow("longest: 5759 minutes") << 3 << 23 << 59 << qint64(1439 * 60);
    QTest::newRow("all zero") << 0 << 0 << 0 << qint64(0);
}

void TestDialogs::ignoreUntil()
{
    QFETCH(int, days);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(qint64, seconds);

    const auto server = addDeadServer(QStringLiteral("Hall"));
    QVERIFY(!server->alarmsTimer.isActive());
    QList<int> maxima;
    ModalDriver::whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
        auto* daysInput = child<QSpinBox>(dialog, "daysInput");
        auto* hoursInput = child<QSpinBox>(dialog, "hoursInput");
        auto* minutesInput = child<QSpinBox>(dialog, "minutesInput");
        maxima << daysInput->maximum() << hoursInput->maximum() << minutesInput->maximum();
        typeInto(daysInput, QString::number(days));
        typeInto(hoursInput, QString::number(hours));
        typeInto(minutesInput, QString::number(minutes));
        saveShot(dialog, QStringLiteral("IgnoreNotificationDialog"));
        clickButton(dialog, QDialogButtonBox::Ok);
    });
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime until = IgnoreNotificationDialog::askIgnoreUntil(nullptr, server);
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(maxima, (QList<int>{3, 23, 59}));
    QVERIFY2(until >= before.addDays(days).addSecs(seconds) && until <= after.addDays(days).addSecs(seconds),
             qPrintable(until.toString(Qt::ISODateWithMs)));
    if (days == 3 && before.offsetFromUtc() == until.offsetFromUtc()) {
        QVERIFY(before.secsTo(until) >= 5759 * 60 && after.secsTo(until) <= 5759 * 60);
    }
    // refreshAlarms is the only thing that starts the poll timer of a server whose authentication fails.
    QVERIFY(server->alarmsTimer.isActive());
}

void TestDialogs::ignoreCancelled()
{
    const auto server = addDeadServer(QStringLiteral("Hall"));
    ModalDriver::whenModal<IgnoreNotificationDialog>([&](IgnoreNotificationDialog* dialog) {
        typeInto(child<QSpinBox>(dialog, "daysInput"), QStringLiteral("2"));
        clickButton(dialog, QDialogButtonBox::Cancel);
    });
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime until = IgnoreNotificationDialog::askIgnoreUntil(nullptr, server);
    QVERIFY(until >= before && until <= QDateTime::currentDateTime());
    QVERIFY(!server->alarmsTimer.isActive());
}

void TestDialogs::scriptsFromConfigListedInFileOrder()
{
#ifdef Q_OS_WIN
    QSKIP("The starts are checked with shell scripts");
#endif
    const QString first = writeScript(QStringLiteral("first.sh"));
    const QString second = writeScript(QStringLiteral("second script.sh"));
    QVERIFY(QDir().mkpath(ConfigManager::instance()->configDir().path()));
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("extActions"),
                                          QJsonArray{QJsonObject{{QStringLiteral("path"), second}},
                                                     QJsonObject{{QStringLiteral("path"), first}}}}})
                   .toJson());
    file.close();

    ExtActionsDialog dialog;
    ConfigManager::instance()->load();

    auto* view = child<QListView>(&dialog, "actionListView");
    QCOMPARE(view->model()->rowCount(), 2);
    QCOMPARE(view->model()->index(0, 0).data(Qt::DisplayRole).toString(), second);
    QCOMPARE(view->model()->index(0, 0).data(Qt::ToolTipRole).toString(), second);
    QCOMPARE(view->model()->index(1, 0).data(Qt::DisplayRole).toString(), first);
    QCOMPARE(view->model()->index(1, 0).data(Qt::ToolTipRole).toString(), first);
    QVERIFY(!(view->model()->flags(view->model()->index(0, 0)) & Qt::ItemIsEditable));
    QCOMPARE(configScripts(), (QStringList{second, first}));
    QCOMPARE(configRoot().value(QStringLiteral("version")).toString(), QStringLiteral("1.0.0"));

    // Loading starts nothing: a script started now would have logged by the time a later one has.
    ExtActionManager::startDetached(writeScript(QStringLiteral("witness.sh")));
    QTRY_COMPARE_WITH_TIMEOUT(lineCount(tmp->filePath(QStringLiteral("with blank/witness.sh.log"))), 1, 20000);
    QVERIFY(!QFile::exists(first + QStringLiteral(".log")));
    QVERIFY(!QFile::exists(second + QStringLiteral(".log")));
}

void TestDialogs::addScriptThroughFileChooser()
{
#ifdef Q_OS_WIN
    QSKIP("The start is checked with a shell script");
#endif
    const QString script = writeScript(QStringLiteral("siren script.sh"));
    ExtActionsDialog dialog;
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* view = child<QListView>(&dialog, "actionListView");

    for (int round = 1; round <= 2; ++round) {
        QString caption;
        ModalDriver::whenModal<QFileDialog>([&](QFileDialog* chooser) {
            caption = chooser->windowTitle();
            chooser->selectFile(script);
            // accept() is protected in QFileDialog; it is QDialog's public slot underneath.
            static_cast<QDialog*>(chooser)->accept();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "addBtn"), Qt::LeftButton);

        QCOMPARE(caption, QStringLiteral("Choose file to open"));
        QCOMPARE(view->model()->rowCount(), round);
        const QModelIndex row = view->model()->index(round - 1, 0);
        QCOMPARE(row.data(Qt::DisplayRole).toString(), script);
        QCOMPARE(row.data(Qt::ToolTipRole).toString(), script);
        QCOMPARE(ExtActionManager::instance()->actionList().size(), round);
        QCOMPARE(configScripts(), QVector<QString>(round, script).toList());
        // Started once per addition, with the blank in its folder name intact.
        QTRY_COMPARE_WITH_TIMEOUT(lineCount(script + QStringLiteral(".log")), round, 20000);
    }
}

void TestDialogs::fileChooserCancelled()
{
    ExtActionsDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ModalDriver::whenModal<QFileDialog>([&](QFileDialog* chooser) { chooser->reject(); });
    QTest::mouseClick(child<QPushButton>(&dialog, "addBtn"), Qt::LeftButton);
    QCOMPARE(child<QListView>(&dialog, "actionListView")->model()->rowCount(), 0);
    QVERIFY(ExtActionManager::instance()->actionList().isEmpty());
    QVERIFY(!QFile::exists(configFile()));
}

void TestDialogs::removeEnabledByMouseOnly()
{
    ExtActionsDialog dialog;
    const auto a = ExtActionManager::instance()->addAction(QStringLiteral("/opt/a.sh"));
    const auto b = ExtActionManager::instance()->addAction(QStringLiteral("/opt/b.sh"));
    const auto c = ExtActionManager::instance()->addAction(QStringLiteral("/opt/c.sh"));
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
    QCOMPARE(view->currentIndex(), middle);
    QVERIFY(remove->isEnabled());
    saveShot(&dialog, QStringLiteral("ExtActionsDialog"));

    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(ExtActionManager::instance()->actionList(), (QList<std::shared_ptr<ExtAction>>{a, c}));
    QCOMPARE(configScripts(), (QStringList{"/opt/a.sh", "/opt/c.sh"}));
    QCOMPARE(view->model()->rowCount(), 2);
    QVERIFY(remove->isEnabled());

    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(ExtActionManager::instance()->actionList().size(), 1);
    QVERIFY(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    QVERIFY(ExtActionManager::instance()->actionList().isEmpty());
    QCOMPARE(view->model()->rowCount(), 0);
    QVERIFY(!remove->isEnabled());
    QVERIFY(configRoot().contains(QStringLiteral("extActions")));
    QVERIFY(configScripts().isEmpty());
}

void TestDialogs::mainWindowMenuAndScriptsDialog()
{
    QVERIFY(QDir().mkpath(ConfigManager::instance()->configDir().path()));
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"servers": [{"name": "Hall", "host": "127.0.0.1", "port": 9, "login": "admin", "password": "pw"}],
                   "extActions": [{"path": "/opt/a.sh"}, {"path": "/opt/b.sh"}]})");
    file.close();

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(ServerManager::instance()->serverList().size(), 1);
    const auto dialogs = window.findChildren<ExtActionsDialog*>();
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs.first()->parentWidget(), &window);
    QCOMPARE(child<QListView>(dialogs.first(), "actionListView")->model()->rowCount(), 2);
    QCOMPARE(configScripts(), (QStringList{"/opt/a.sh", "/opt/b.sh"}));

    QMenu* servers = window.menuBar()->actions().first()->menu();
    QCOMPARE(servers->title(), QStringLiteral("Servers"));
    QCOMPARE(servers->actions().size(), 2);
    QCOMPARE(servers->actions().at(0)->text(), QStringLiteral("Add server"));
    QCOMPARE(servers->actions().at(1)->text(), QStringLiteral("Scripts on alarms"));

    for (int i = 0; i < 2; ++i) {
        servers->actions().at(1)->trigger();
        QCOMPARE(window.findChildren<ExtActionsDialog*>(), dialogs);
        QVERIFY(dialogs.first()->isVisible());
        QCOMPARE(dialogs.first()->windowModality(), Qt::WindowModal);
        dialogs.first()->close();
    }

    ModalDriver::whenModal<EditserverDialog>([&](EditserverDialog* dialog) {
        typeInto(child<QLineEdit>(dialog, "nameInput"), QStringLiteral("Gate"));
        typeInto(child<QLineEdit>(dialog, "hostInput"), QStringLiteral("127.0.0.1"));
        typeInto(child<QLineEdit>(dialog, "loginInput"), QStringLiteral("op"));
        typeInto(child<QLineEdit>(dialog, "passwordInput"), QStringLiteral("pw"));
        clickButton(dialog, QDialogButtonBox::Ok);
    });
    servers->actions().at(0)->trigger();
    QCOMPARE(ServerManager::instance()->serverList().size(), 2);
    QCOMPARE(configRoot().value(QStringLiteral("servers")).toArray().size(), 2);

    // Removing a server saves through the handler the window gave the monitor.
    ServerManager::instance()->removeServer(ServerManager::instance()->serverList().first());
    const QJsonArray left = configRoot().value(QStringLiteral("servers")).toArray();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Gate"));
}

QTEST_MAIN(TestDialogs)
#include "TestDialogs.moc"
