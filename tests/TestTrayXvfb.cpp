#include "ViewDriver.h"
#include "app/MainWindow.h"

#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtTest>

namespace {
QSystemTrayIcon* trayOf(MainWindow& window)
{
    return window.findChild<QSystemTrayIcon*>();
}
} // namespace

// The tray in a main window on a real X server, docked in a real system tray (trayer); the last case
// stops the tray and checks that the window then closes for good.
class TestTrayXvfb : public QObject
{
    Q_OBJECT

    bool trayRunning() const { return trayer.state() == QProcess::Running; }
    void stopTray();
    // Runs the application's event loop after scheduling `step`; returns the loop's exit code, 1 if it timed out.
    static int runApplication(const std::function<void()>& step);

    QProcess trayer;

private slots:
    void cleanupTestCase() { stopTray(); }

    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        const QString program = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (program.isEmpty()) {
            return;
        }
        trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        trayer.start(program,
                     QStringLiteral("--edge top --align right --widthtype pixel --width 100 --heighttype pixel "
                                    "--height 24")
                         .split(QLatin1Char(' ')));
        QVERIFY2(trayer.waitForStarted(10000), qPrintable(trayer.errorString()));
        QTRY_VERIFY2_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable() || !trayRunning(), "no system tray appeared",
                                  30000);
        QVERIFY2(trayRunning(), "trayer ended early");
    }

    void dockedAndClosedToTray()
    {
        if (!trayRunning()) {
            QSKIP("trayer is not installed");
        }
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSystemTrayIcon* tray = trayOf(window);
        QVERIFY(tray && tray->isVisible());
        QMenu* menu = tray->contextMenu();
        QVERIFY(menu);
        QCOMPARE(menu->parent(), &window);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Quit"));
        QVERIFY(tray->toolTip().isEmpty());
        // Docked: the tray has given the icon a place on the screen.
        QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 20000);
        QTest::qWait(200);
        QVERIFY(ViewDriver::saveShot(QGuiApplication::primaryScreen()->grabWindow(0), QStringLiteral("tray-docked")));

        // Closing hides the window and the program runs on until "Quit", also while the window is hidden.
        QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
        bool closed = true;
        bool stillRunning = false;
        const int code = runApplication([&] {
            closed = window.close();
            // Long enough for a quit caused by the close to be handled first.
            QTimer::singleShot(500, qApp, [&] {
                stillRunning = true;
                menu->actions().first()->trigger();
            });
        });
        QCOMPARE(code, 0);
        QVERIFY(stillRunning);
        QVERIFY(!closed);
        QVERIFY(!window.isVisible());
        QCOMPARE(lastWindowClosed.count(), 0);
        QVERIFY(tray->isVisible());
    }

    void restore_data()
    {
        // -1 stands for a click on the balloon.
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<bool>("restored");
        const auto rows = [](const char* name, int reason, bool restored) {
            QTest::addRow("%s, hidden", name) << reason << false << restored;
            QTest::addRow("%s, minimised", name) << reason << true << restored;
        };
        rows("trigger", QSystemTrayIcon::Trigger, true);
        rows("double click", QSystemTrayIcon::DoubleClick, true);
        rows("balloon", -1, true);
        rows("middle click", QSystemTrayIcon::MiddleClick, false);
        QTest::newRow("unknown, hidden") << int(QSystemTrayIcon::Unknown) << false << false;
        QTest::newRow("context, hidden") << int(QSystemTrayIcon::Context) << false << false;
    }

    void restore()
    {
        QFETCH(int, reason);
        QFETCH(bool, minimised);
        QFETCH(bool, restored);
        if (!trayRunning()) {
            QSKIP("trayer is not installed");
        }
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (minimised) {
            window.showMinimized();
            QVERIFY(window.isMinimized());
        } else {
            window.close();
            QVERIFY(!window.isVisible());
        }
        QSystemTrayIcon* tray = trayOf(window);
        if (reason < 0) {
            emit tray->messageClicked();
        } else {
            emit tray->activated(QSystemTrayIcon::ActivationReason(reason));
        }
        QCOMPARE(window.isVisible(), restored || minimised);
        QCOMPARE(window.isMinimized(), !restored && minimised);
        if (reason == QSystemTrayIcon::Context) {
            QTRY_VERIFY(tray->contextMenu()->isVisible());
            tray->contextMenu()->hide();
        } else {
            QVERIFY(!tray->contextMenu()->isVisible());
        }
    }

    void closeWithoutTrayQuits()
    {
        stopTray();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSystemTrayIcon* tray = trayOf(window);
        QVERIFY(tray && !tray->isVisible() && !tray->contextMenu());

        QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
        bool closed = false;
        QCOMPARE(runApplication([&] { closed = window.close(); }), 0);
        QVERIFY(closed);
        QCOMPARE(lastWindowClosed.count(), 1);
    }
};

void TestTrayXvfb::stopTray()
{
    if (trayRunning()) {
        trayer.kill();
        trayer.waitForFinished(10000);
    }
}

int TestTrayXvfb::runApplication(const std::function<void()>& step)
{
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    guard.start(30000);
    QTimer::singleShot(0, qApp, step);
    return QApplication::exec();
}

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
