// The main window on a real X server, docked in a real system tray (trayer).
#include "app/MainWindow.h"

#include <QMenu>
#include <QtTest>

class TestTrayXvfb : public QObject
{
    Q_OBJECT

    QProcess trayer;

private slots:
    void initTestCase()
    {
        trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--widthtype", "pixel", "--width", "100"});
        QVERIFY2(trayer.waitForStarted(10000), "trayer is needed");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);
    }

    // Closing only hides the window; the program runs on until "Quit" in the tray's menu.
    void closedToTrayUntilQuit()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tray = window.findChild<QSystemTrayIcon*>();
        QCOMPARE(tray->contextMenu()->actions().size(), 1);
        QAction* quit = tray->contextMenu()->actions().first();
        QCOMPARE(quit->text(), QStringLiteral("Quit"));
        QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 20000);
        bool closed = true, hiddenAndRunning = false;
        QObject guard;
        QTimer::singleShot(30000, &guard, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, &guard, [&] {
            closed = window.close();
            // Long enough for a quit caused by the close to come first.
            QTimer::singleShot(500, quit, [&] {
                hiddenAndRunning = !window.isVisible();
                quit->trigger();
            });
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(hiddenAndRunning && !closed);

        // A click on the icon or on the balloon brings the window back.
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        window.close();
        emit tray->messageClicked();
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
