#include "app/MainWindow.h"
#include "app/Startup.h"
#include "notify/SysTray.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QtTest>

namespace {

// Records every balloon the tray asks for, then lets the tray show it as usual.
class RecordingSysTray : public SysTray
{
public:
    using SysTray::SysTray;

    QList<QPair<QString, QString>> balloons;

protected:
    void showBalloon(const QString& title, const QString& message) override
    {
        balloons.append({title, message});
        SysTray::showBalloon(title, message);
    }
};

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(64, 64).toImage();
}

QImage resourceImage(const char* path)
{
    return imageOf(QIcon(QString::fromLatin1(path)));
}

} // namespace

// The tray icon on a desktop without a system tray (the offscreen platform has none), once per locale:
// QUELVANE_EXPECTED_LANGUAGE names the language the run's locale must give.
class TestSysTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutTray();
    void setError_data();
    void setError();
    void balloonTexts();
    void windowClosesWithoutTray();

private:
    QString message;
};

void TestSysTray::initTestCase()
{
    const bool french = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE") == QLatin1String("fr");
    QCOMPARE(Startup::installTranslator(*qApp), french);
    message = french ? QStringLiteral("Certains éléments requièrent votre attention")
                     : QStringLiteral("Some elements require your attention");
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    // The comparisons below mean nothing if the two states look alike.
    QVERIFY(!resourceImage(":/icons/systray-ok").isNull());
    QVERIFY(resourceImage(":/icons/systray-ok") != resourceImage(":/icons/systray-nok"));
}

void TestSysTray::withoutTray()
{
    QWidget parent;
    RecordingSysTray tray(&parent);
    QCOMPARE(tray.parent(), &parent);
    QVERIFY(!tray.contextMenu());
    QVERIFY(!tray.isVisible());
    QVERIFY(tray.icon().isNull());
    QVERIFY(tray.toolTip().isEmpty());
    QVERIFY(tray.balloons.isEmpty());
    QVERIFY(parent.findChildren<QMenu*>().isEmpty());
}

void TestSysTray::setError_data()
{
    QTest::addColumn<QList<bool>>("calls");
    QTest::addColumn<bool>("attention");
    QTest::addColumn<int>("balloons");

    QTest::newRow("true") << QList<bool>{true} << true << 1;
    QTest::newRow("true twice") << QList<bool>{true, true} << true << 2;
    QTest::newRow("false after true") << QList<bool>{true, false} << false << 1;
    QTest::newRow("true after false") << QList<bool>{false, true} << true << 1;
    QTest::newRow("false") << QList<bool>{false} << false << 0;
    QTest::newRow("false twice") << QList<bool>{false, false} << false << 0;
}

void TestSysTray::setError()
{
    QFETCH(QList<bool>, calls);
    QFETCH(bool, attention);
    QFETCH(int, balloons);

    RecordingSysTray tray(nullptr);
    for (bool inError : calls) {
        tray.setError(inError);
    }
    QCOMPARE(imageOf(tray.icon()), resourceImage(attention ? ":/icons/systray-nok" : ":/icons/systray-ok"));
    QCOMPARE(tray.toolTip(), attention ? message : QString());
    QCOMPARE(tray.balloons.size(), balloons);
    // Still hidden: without a tray nothing ever shows, whatever the state.
    QVERIFY(!tray.isVisible());
}

void TestSysTray::balloonTexts()
{
    RecordingSysTray tray(nullptr);
    tray.setError(true);
    QCOMPARE(tray.balloons.size(), 1);
    QCOMPARE(tray.balloons.first().first, QStringLiteral("Quelvane Monitor"));
    QCOMPARE(tray.balloons.first().second, message);
}

void TestSysTray::windowClosesWithoutTray()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* tray = window.findChild<QSystemTrayIcon*>();
    QVERIFY(tray);
    QVERIFY(!tray->isVisible());
    QVERIFY(!tray->contextMenu());
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestSysTray)
#include "TestSysTray.moc"
