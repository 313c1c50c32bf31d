#include "app/Startup.h"
#include "notify/SysTray.h"

#include <QApplication>
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

} // namespace

// The tray icon on a desktop without a system tray (the offscreen platform has none), once per locale:
// QUELVANE_EXPECTED_LANGUAGE names the language the run's locale must give.
class TestSysTray : public QObject
{
    Q_OBJECT

    QString message;

private slots:
    void initTestCase()
    {
        const bool french = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE") == QLatin1String("fr");
        QCOMPARE(Startup::installTranslator(*qApp), french);
        message = french ? QStringLiteral("Certains éléments requièrent votre attention")
                         : QStringLiteral("Some elements require your attention");
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        // The comparisons below mean nothing if the two states look alike.
        QVERIFY(!imageOf(QIcon(":/icons/systray-ok")).isNull());
        QVERIFY(imageOf(QIcon(":/icons/systray-ok")) != imageOf(QIcon(":/icons/systray-nok")));
    }

    void setError_data()
    {
        QTest::addColumn<QList<bool>>("calls");
        QTest::addColumn<QString>("image"); // empty: no image at all
        QTest::addColumn<int>("balloons");

        // Without a tray, the constructor sets up nothing.
        QTest::newRow("no call") << QList<bool>{} << QString() << 0;
        QTest::newRow("true") << QList<bool>{true} << ":/icons/systray-nok" << 1;
        QTest::newRow("true twice") << QList<bool>{true, true} << ":/icons/systray-nok" << 2;
        QTest::newRow("false after true") << QList<bool>{true, false} << ":/icons/systray-ok" << 1;
        QTest::newRow("true after false") << QList<bool>{false, true} << ":/icons/systray-nok" << 1;
        QTest::newRow("false") << QList<bool>{false} << ":/icons/systray-ok" << 0;
        QTest::newRow("false twice") << QList<bool>{false, false} << ":/icons/systray-ok" << 0;
    }

    void setError()
    {
        QFETCH(QList<bool>, calls);
        QFETCH(QString, image);
        QFETCH(int, balloons);

        QWidget parent;
        RecordingSysTray tray(&parent);
        QCOMPARE(tray.parent(), &parent);
        for (bool inError : calls) {
            tray.setError(inError);
        }
        QCOMPARE(imageOf(tray.icon()), image.isEmpty() ? QImage() : imageOf(QIcon(image)));
        QCOMPARE(tray.toolTip(), image.endsWith(QLatin1String("nok")) ? message : QString());
        QCOMPARE(tray.balloons, (QVector<QPair<QString, QString>>(balloons, {"Quelvane Monitor", message}).toList()));
        // Still hidden and without a menu: without a tray nothing ever shows, whatever the state.
        QVERIFY(!tray.isVisible());
        QVERIFY(!tray.contextMenu());
        QVERIFY(parent.findChildren<QMenu*>().isEmpty());
    }
};

QTEST_MAIN(TestSysTray)
#include "TestSysTray.moc"
