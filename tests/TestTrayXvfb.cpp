#include "app/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

// The tray in a main window on a real X server, docked in a real system tray (trayer); the last case
// stops the tray and checks that the window then closes for good.
class TestTrayXvfb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void docked();
    void closeHidesToTray();
    void trayActivated_data();
    void trayActivated();
    void messageClicked();
    void quitEntry();
    void closeWithoutTrayQuits();

private:
    bool trayRunning() const;
    void stopTray();
    // Runs the application's event loop after scheduling `step`; returns the loop's exit code, 1 if it timed out.
    static int runApplication(const std::function<void()>& step);

    QProcess trayer;
};

namespace {

QSystemTrayIcon* trayOf(MainWindow& window)
{
    return window.findChild<QSystemTrayIcon*>();
}

} // namespace

bool TestTrayXvfb::trayRunning() const
{
    return trayer.state() == QProcess::Running;
}

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

void TestTrayXvfb::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(!qEnvironmentVariableIsEmpty("APPDATA"));
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());

    const QString program = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (program.isEmpty()) {
        return;
    }
    trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    trayer.start(program, {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                           QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                           QStringLiteral("--width"), QStringLiteral("100"), QStringLiteral("--heighttype"),
                           QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("24")});
    QVERIFY2(trayer.waitForStarted(10000), qPrintable(trayer.errorString()));
    QTRY_VERIFY2_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable() || !trayRunning(), "no system tray appeared",
                              30000);
    QVERIFY2(trayRunning(), "trayer ended early");
}

void TestTrayXvfb::cleanupTestCase()
{
    stopTray();
}

void TestTrayXvfb::docked()
{
    if (!trayRunning()) {
        QSKIP("trayer is not installed");
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSystemTrayIcon* tray = trayOf(window);
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QMenu* menu = tray->contextMenu();
    QVERIFY(menu);
    QCOMPARE(menu->parent(), &window);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Quit"));
    QVERIFY(tray->toolTip().isEmpty());
    // Docked: the tray has given the icon a place on the screen.
    QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 20000);

    const QString artifacts = qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS");
    if (!artifacts.isEmpty()) {
        QTest::qWait(200);
        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
        QVERIFY(screen.save(QDir(artifacts).filePath(QStringLiteral("tray-docked.png"))));
    }
}

void TestTrayXvfb::closeHidesToTray()
{
    if (!trayRunning()) {
        QSKIP("trayer is not installed");
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
    bool closed = true;
    const int code = runApplication([&] {
        closed = window.close();
        // Long enough for a quit caused by the close to be handled first.
        QTimer::singleShot(500, qApp, [] { QCoreApplication::exit(42); });
    });
    QCOMPARE(code, 42);
    QVERIFY(!closed);
    QVERIFY(!window.isVisible());
    QCOMPARE(lastWindowClosed.count(), 0);
    QVERIFY(trayOf(window)->isVisible());
}

void TestTrayXvfb::trayActivated_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("restored");

    QTest::newRow("trigger, hidden") << QSystemTrayIcon::Trigger << false << true;
    QTest::newRow("trigger, minimised") << QSystemTrayIcon::Trigger << true << true;
    QTest::newRow("double click, hidden") << QSystemTrayIcon::DoubleClick << false << true;
    QTest::newRow("double click, minimised") << QSystemTrayIcon::DoubleClick << true << true;
    QTest::newRow("middle click, hidden") << QSystemTrayIcon::MiddleClick << false << false;
    QTest::newRow("middle click, minimised") << QSystemTrayIcon::MiddleClick << true << false;
    QTest::newRow("unknown, hidden") << QSystemTrayIcon::Unknown << false << false;
    QTest::newRow("context, hidden") << QSystemTrayIcon::Context << false << false;
}

void TestTrayXvfb::trayActivated()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
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
    emit tray->activated(reason);

    if (restored) {
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    } else {
        QCOMPARE(window.isVisible(), minimised);
        QCOMPARE(window.isMinimized(), minimised);
    }
    if (reason == QSystemTrayIcon::Context) {
        QTRY_VERIFY(tray->contextMenu()->isVisible());
        tray->contextMenu()->hide();
    } else {
        QVERIFY(!tray->contextMenu()->isVisible());
    }
}

void TestTrayXvfb::messageClicked()
{
    if (!trayRunning()) {
        QSKIP("trayer is not installed");
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSystemTrayIcon* tray = trayOf(window);

    window.close();
    QVERIFY(!window.isVisible());
    emit tray->messageClicked();
    QVERIFY(window.isVisible());

    window.showMinimized();
    QVERIFY(window.isMinimized());
    emit tray->messageClicked();
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
}

void TestTrayXvfb::quitEntry()
{
    if (!trayRunning()) {
        QSKIP("trayer is not installed");
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.close();
    // "Quit" ends the event loop also while the window is hidden.
    QAction* quit = trayOf(window)->contextMenu()->actions().first();
    QCOMPARE(runApplication([quit] { quit->trigger(); }), 0);
}

void TestTrayXvfb::closeWithoutTrayQuits()
{
    stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSystemTrayIcon* tray = trayOf(window);
    QVERIFY(tray);
    QVERIFY(!tray->isVisible());
    QVERIFY(!tray->contextMenu());

    QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
    bool closed = false;
    QCOMPARE(runApplication([&] { closed = window.close(); }), 0);
    QVERIFY(closed);
    QVERIFY(!window.isVisible());
    QCOMPARE(lastWindowClosed.count(), 1);
}

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
