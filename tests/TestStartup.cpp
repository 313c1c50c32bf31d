#include "ViewDriver.h"
#include "app/MainWindow.h"
#include "app/Startup.h"

#include <QMenuBar>
#include <QTabWidget>
#include <QTranslator>
#include <QtTest>

// Start-up as main runs it, once per system locale: each locale is a separate run of this executable
// and QUELVANE_EXPECTED_LANGUAGE names the language code that locale must yield.
class TestStartup : public QObject
{
    Q_OBJECT

    QString language = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE");
    QString pick(const char* english, const char* french) const
    {
        return QString::fromUtf8(language == QLatin1String("fr") ? french : english);
    }

private slots:
    void applicationSettings()
    {
        QVERIFY2(!language.isEmpty(), "QUELVANE_EXPECTED_LANGUAGE is not set");
        Startup::configure(*qApp);
        QCOMPARE(QApplication::organizationName(), QStringLiteral("Quelvane SAS"));
        QCOMPARE(QApplication::applicationName(), QStringLiteral("Quelvane Monitor"));
        QCOMPARE(QApplication::applicationVersion(), QStringLiteral("1.0.0"));
        QCOMPARE(QApplication::windowIcon().pixmap(128, 128).size(), QSize(128, 128));
        QCOMPARE(qApp->styleSheet().size(), 378);
        QCOMPARE(qApp->styleSheet(),
                 QStringLiteral("#serverTreeView { background-color: #474747; color: white; }QTreeView::branch:has-"
                                "children:!has-siblings:closed, QTreeView::branch:closed:has-children:has-siblings { "
                                "border-image: none; image: url(:/icons/branch-closed); }QTreeView::branch:open:has-"
                                "children:!has-siblings, QTreeView::branch:open:has-children:has-siblings { border-"
                                "image: none; image: url(:/icons/branch-open); }"));
        QCOMPARE(Startup::languageCode(), language);
        // A catalogue that failed to load must not linger as a child of the application.
        QCOMPARE(qApp->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly).size(),
                 int(language == QLatin1String("fr")));
    }

    void mainWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quelvane Monitor"));
        QCOMPARE(window.windowModality(), Qt::NonModal);
        QCOMPARE(window.size(), QSize(497, 321));
        auto* tabs = qobject_cast<QTabWidget*>(window.centralWidget());
        QVERIFY(tabs);
        QCOMPARE(tabs->tabPosition(), QTabWidget::South);
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), pick("Alarms", "Alarmes"));
        QCOMPARE(tabs->tabText(1), pick("Information", "Informations"));
        // The catalogue is installed before the window exists, so what its constructor builds is translated.
        QMenu* servers = window.menuBar()->actions().value(0)->menu();
        QVERIFY(servers);
        QCOMPARE(servers->title(), pick("Servers", "Serveurs"));
        QCOMPARE(servers->actions().size(), 2);
        QCOMPARE(servers->actions().at(0)->text(), pick("Add server", "Ajouter un serveur"));
        QCOMPARE(servers->actions().at(1)->text(), pick("Scripts on alarms", "Scripts sur alarme"));

        const QPixmap picture = window.grab();
        QCOMPARE(picture.size(), QSize(497, 321));
        QVERIFY(ViewDriver::saveShot(picture, QStringLiteral("mainwindow-") + language));
    }
};

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
