// The main window on a real X server, docked in a real system tray (trayer); the last case stops the
// tray and checks that the window then closes for good.
#include "app/MainWindow.h"

#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtTest>

class TestTrayXvfb : public QObject
{
    Q_OBJECT

    QProcess trayer;

    // Runs the application's event loop after scheduling step; its exit code, 1 if it timed out.
    static int runApplication(const std::function<void()>& step)
    {
        QObject guard;
        QTimer::singleShot(30000, &guard, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, qApp, step);
        return QApplication::exec();
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const QString program = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        QVERIFY2(!program.isEmpty(), "trayer is not installed");
        trayer.start(program, QStringLiteral("--edge top --widthtype pixel --width 100 --heighttype pixel --height 24")
                                  .split(QLatin1Char(' ')));
        QVERIFY(trayer.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);
    }

    void closedToTrayUntilQuit()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tray = window.findChild<QSystemTrayIcon*>();
        QVERIFY(tray && tray->isVisible() && tray->contextMenu());
        QCOMPARE(tray->contextMenu()->actions().size(), 1);
        QCOMPARE(tray->contextMenu()->actions().first()->text(), QStringLiteral("Quit"));
        QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 20000);

        QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
        bool closed = true;
        bool stillRunning = false;
        QCOMPARE(runApplication([&] {
                     closed = window.close();
                     // Long enough for a quit caused by the close to come first.
                     QTimer::singleShot(500, qApp, [&] {
                         stillRunning = !window.isVisible();
                         tray->contextMenu()->actions().first()->trigger();
                     });
                 }),
                 0);
        QVERIFY(stillRunning && !closed);
        QCOMPARE(lastWindowClosed.count(), 0);
    }

    void restore_data()
    {
        // -1 stands for a click on the balloon.
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<bool>("restored");
        QTest::newRow("trigger, hidden") << int(QSystemTrayIcon::Trigger) << false << true;
        QTest::newRow("double click, minimised") << int(QSystemTrayIcon::DoubleClick) << true << true;
        QTest::newRow("balloon, hidden") << -1 << false << true;
        QTest::newRow("middle click, minimised") << int(QSystemTrayIcon::MiddleClick) << true << false;
        QTest::newRow("context, hidden") << int(QSystemTrayIcon::Context) << false << false;
    }

    void restore()
    {
        QFETCH(int, reason);
        QFETCH(bool, minimised);
        QFETCH(bool, restored);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        minimised ? window.showMinimized() : (void)window.close();
        auto* tray = window.findChild<QSystemTrayIcon*>();
        reason < 0 ? emit tray->messageClicked() : emit tray->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window.isVisible(), restored || minimised);
        QCOMPARE(window.isMinimized(), !restored && minimised);
        if (reason == QSystemTrayIcon::Context) {
            QTRY_VERIFY(tray->contextMenu()->isVisible());
            tray->contextMenu()->hide();
        }
    }

    void closeWithoutTrayQuits()
    {
        trayer.kill();
        trayer.waitForFinished(10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tray = window.findChild<QSystemTrayIcon*>();
        QVERIFY(!tray->isVisible() && !tray->contextMenu());
        QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);
        bool closed = false;
        QCOMPARE(runApplication([&] { closed = window.close(); }), 0);
        QVERIFY(closed);
        QCOMPARE(lastWindowClosed.count(), 1);
    }
};

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
