// The main window on a real X server, docked in a real system tray (trayer) that comes after it.
#include "app/MainWindow.h"

#include <QMenu>
#include <QtTest>

class TestTrayXvfb : public QObject
{
    Q_OBJECT

    QProcess trayer;

private slots:
    // At login the panel often starts after the program: the icon docks once the tray is there, and a
    // start in the tray keeps the window hidden. Closing only hides the window; "Quit" ends the program.
    void trayAfterTheProgram()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        MainWindow window;
        window.startInTray(3000);
        QElapsedTimer sinceStart;
        sinceStart.start();
        auto* tray = window.findChild<QSystemTrayIcon*>();
        trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--widthtype", "pixel", "--width", "100"});
        QVERIFY2(trayer.waitForStarted(10000), "trayer is needed");
        QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 20000);
        QTest::qWait(qMax<qint64>(0, 3500 - sinceStart.elapsed()));
        QVERIFY(!window.isVisible());

        QAction* quit = tray->contextMenu()->actions().last();
        QCOMPARE(quit->text(), QStringLiteral("Quit"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
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

        // Once the tray has gone, the window is the only way in: closing it closes it.
        trayer.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        QVERIFY(window.close());
    }
};

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
