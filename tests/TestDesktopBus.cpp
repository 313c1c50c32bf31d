// The main window on a D-Bus desktop: a private session bus (dbus-run-session) with a real
// StatusNotifierItem watcher and host and a real notification server, the program on a private X
// server. What the program sends is read from the bus itself (dbus-monitor), not from what the
// notification server chose to show.
#include "TestSupport.h"
#include "app/MainWindow.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>

using namespace TestSupport;

namespace {

const QJsonObject inAlarm{
    {"json", QJsonObject{{"health", QJsonObject{{"recorder", false}, {"cameras", true}, {"hardware", true}}},
                         {"errorDetails", QJsonObject{{"recorder", QJsonArray{"disk full"}}}}}}};

} // namespace

class TestDesktopBus : public QObject
{
    Q_OBJECT

    RecorderSim sim;
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> desktop;
    QProcess* monitor = nullptr;
    QByteArray traffic;
    bool x11 = false;

    QProcess* start(const QString& program, const QStringList& arguments = {})
    {
        desktop.push_back(std::make_unique<QProcess>());
        desktop.back()->start(program, arguments);
        return desktop.back().get();
    }

    // The program's calls of one method of the notification server, each as its lines of arguments.
    QList<QStringList> calls(const QString& member)
    {
        traffic += monitor->readAllStandardOutput();
        QList<QStringList> found;
        // A text argument may hold line breaks: a message begins with its kind.
        const QRegularExpression next("\n(?=(method call|method return|signal|error) )");
        for (const QString& message : QString::fromUtf8(traffic).split(next)) {
            if (message.startsWith("method call") && message.contains("member=" + member + '\n'))
                found << message.split('\n')
                             .mid(1)
                             .replaceInStrings(QRegularExpression("^\\s+|(?<=variant)\\s+"), " ")
                             .replaceInStrings(QRegularExpression("^ "), QString());
        }
        return found;
    }

    // The program's own notifications, not those the tray icon posts for its balloon.
    QList<QStringList> ours()
    {
        QList<QStringList> found = calls("Notify");
        found.erase(
            std::remove_if(found.begin(), found.end(),
                           [](const QStringList& call) { return call.value(2) != "string \"quelvane-monitor\""; }),
            found.end());
        return found;
    }

    // A call of the tray item by another client: its property, or a method of its menu.
    QString callItem(const QString& name, const QStringList& menuCall = {})
    {
        const QStringList call = menuCall.isEmpty()
                                     ? QStringList{"/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                                                   "string:org.kde.StatusNotifierItem", "string:" + name}
                                     : QStringList{"/MenuBar", "com.canonical.dbusmenu." + name} + menuCall;
        QProcess get;
        get.start("dbus-send", QStringList{"--session", "--print-reply", "--dest=" + itemService()} + call);
        // The item answers on this thread: keep its event loop running while the call is on its way.
        QDeadlineTimer deadline(10000);
        while (get.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        return QString::fromUtf8(get.readAllStandardOutput()).section('\n', 1);
    }

    QString itemService()
    {
        const QList<QStringList> registered = calls("RegisterStatusNotifierItem");
        return registered.isEmpty() ? QString() : registered.first().value(0).section('"', 1, 1);
    }

private slots:
    void initTestCase()
    {
        monitor = start("dbus-monitor", {"--session", "interface='org.freedesktop.Notifications'",
                                         "interface='org.kde.StatusNotifierWatcher'"});
        start("status-notifier-watcher");
        // The notification server draws on X11 only, and starts after the program, as at login.
        x11 = QGuiApplication::platformName() == QLatin1String("xcb");
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(watcher), 20000);
        // Qt decides between the bus and XEmbed when the icon is made: on X11 the watcher must know its
        // host by then. The panel that hosts the items draws on X11 only.
        if (x11) {
            start("gtk-sni-tray-standalone");
            QDBusInterface hosts(watcher, "/StatusNotifierWatcher", watcher);
            QTRY_VERIFY_WITH_TIMEOUT(hosts.property("IsStatusNotifierHostRegistered").toBool(), 20000);
        }
        QVERIFY(sim.start() && load(sim, {recorder("a"), recorder("b")}));
        ServerManager::instance()->setSettings(shortSettings());
        qputenv("APPDATA", QFile::encodeName(dir.path()));
    }

    // The item on the bus with its tooltip and icon, the desktop's notifications (where the notification
    // server draws: X11), and "Quit" from the item's menu, clicked over the bus as a panel does.
    void trayOnTheBus()
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // On Wayland the panel comes after the program, as at login, and the test is that panel.
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher"), host = watcher + "Host-test";
        if (!x11 && QDBusConnection::sessionBus().registerService(host))
            QDBusInterface(watcher, "/StatusNotifierWatcher", watcher).call("RegisterStatusNotifierHost", host);
        for (const char* login : {"a", "b"})
            addServer(sim, login);
        QTRY_VERIFY_WITH_TIMEOUT(!itemService().isEmpty(), 20000);
        const QString okIcon = callItem("IconPixmap");
        QVERIFY(waitForRequests(sim, "b", "health", 2) && calls("Notify").isEmpty());

        // One notification for the first alarm once a notification server has come; the same alarm a few
        // polls on brings nothing more, neither from the program nor from the tray icon's balloon.
        sim.setEndpoint("a", "health", inAlarm);
        QTRY_VERIFY_WITH_TIMEOUT(callItem("ToolTip").contains("your attention\na server: Recorder"), 20000);
        QVERIFY(callItem("IconPixmap") != okIcon);
        if (x11) {
            QProcess* server = start("dunst");
            QTRY_COMPARE_WITH_TIMEOUT(ours().size(), 1, 20000);
            const int all = calls("Notify").size();
            QVERIFY(waitForRequests(sim, "a", "health", countOf(sim, "a", "health") + 3));
            // Name, icon and desktop entry group it under the program; the hints have the protocol's types; the
            // body names what needs attention.
            const QString first = ours().first().join('|');
            QVERIFY2(
                first.startsWith("string \"Quelvane Monitor\"|uint32 0|string \"quelvane-monitor\"|string \"Quelvane "
                                 "Monitor\"|string \"Some elements require your attention|a server: Recorder\"") &&
                    first.contains("\"urgency\"|variant byte 2") &&
                    first.contains("\"desktop-entry\"|variant string \"quelvane-monitor\""),
                qPrintable(first));
            QCOMPARE(calls("Notify").size(), all);
            // A server restarted meanwhile shows the alarm again, not under the id the old one gave.
            server->kill();
            QVERIFY(server->waitForFinished());
            start("dunst");
            QTRY_COMPARE_WITH_TIMEOUT(ours().size(), 2, 20000);
            QCOMPARE(ours().last().value(1), QStringLiteral("uint32 0"));
            // A second server in alarm replaces it; its name is text, even where the body is read as markup.
            ServerManager::instance()->serverList().value(1)->name = "b & <c>";
            sim.setEndpoint("b", "health", inAlarm);
            QTRY_COMPARE_WITH_TIMEOUT(ours().size(), 3, 20000);
            QVERIFY2(ours().last().join('|').contains("a server: Recorder|b &amp; &lt;c&gt;: Recorder\""),
                     qPrintable(ours().last().join('|')));
            // One of them in order again: the tooltip follows, the notification is not brought up again.
            sim.setEndpoint("b", "health", {});
            QTRY_VERIFY_WITH_TIMEOUT(!callItem("ToolTip").contains("b &"), 20000);
            QCOMPARE(ours().size(), 3);
        }
        // All in order again withdraws it; a new alarm tells the user again.
        const QString id = x11 ? ours().last().value(1) : QString();
        QVERIFY(!x11 || (id.startsWith("uint32 ") && id != "uint32 0"));
        sim.setEndpoint("a", "health", {});
        sim.setEndpoint("b", "health", {});
        QTRY_VERIFY_WITH_TIMEOUT(!callItem("ToolTip").contains("Some elements") && callItem("IconPixmap") == okIcon,
                                 20000);
        QCOMPARE(calls("CloseNotification").value(0).value(0), id);
        sim.setEndpoint("a", "health", inAlarm);
        QTRY_VERIFY_WITH_TIMEOUT(callItem("ToolTip").contains("Some elements") && (!x11 || ours().size() == 4), 20000);

        const QString layout = callItem("GetLayout", {"int32:0", "int32:-1", "array:string:"});
        const QString quit = layout.left(layout.indexOf("string \"Quit\"")).section("int32 ", -1).section('\n', 0, 0);
        QObject context;
        QTimer::singleShot(20000, &context, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, &context, [&] {
            callItem("Event", {"int32:" + quit, "string:clicked", "variant:int32:0", "uint32:0"});
        });
        QCOMPARE(QApplication::exec(), 0);
        // Quitting takes the notification back.
        window.reset();
        QTRY_COMPARE(calls("CloseNotification").size(), x11 ? 2 : 0);
    }

    // With the tray host there already, the icon is made at once, not after the wait for a late one.
    void hostAlreadyThere()
    {
        const int registered = calls("RegisterStatusNotifierItem").size();
        QElapsedTimer clock;
        clock.start();
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(calls("RegisterStatusNotifierItem").size() > registered, 20000);
        QVERIFY(clock.elapsed() < 5000);
    }

    // A watcher that holds its name but does not answer freezes nothing while the icon waits for a host.
    void watcherNotAnswering()
    {
        if (x11)
            QSKIP("there the icon is made at once, and Qt itself asks the watcher then");
        const QString watcher = QString::number(desktop[1]->processId());
        QCOMPARE(QProcess::execute("kill", {"-STOP", watcher}), 0);
        QElapsedTimer clock;
        clock.start();
        {
            MainWindow window;
            QTest::qWait(1000);
        }
        QProcess::execute("kill", {"-CONT", watcher});
        QVERIFY(clock.elapsed() < 3000);
    }
};

QTEST_MAIN(TestDesktopBus)

#include "TestDesktopBus.moc"
