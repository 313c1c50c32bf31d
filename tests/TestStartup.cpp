#include "app/MainWindow.h"
#include "app/Startup.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTranslator>
#include <QtTest>

// Start-up as main runs it, once per system locale: each locale is a separate run of this executable
// and QUELVANE_EXPECTED_LANGUAGE names the language code that locale must yield.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void identity();
    void styleSheet();
    void translator();
    void mainWindow();

private:
    QString language;
    bool french = false;
};

void TestStartup::initTestCase()
{
    language = qEnvironmentVariable("QUELVANE_EXPECTED_LANGUAGE");
    QVERIFY2(!language.isEmpty(), "QUELVANE_EXPECTED_LANGUAGE is not set");
    french = language == QLatin1String("fr");
    Startup::configure(*qApp);
}

void TestStartup::identity()
{
    QCOMPARE(QApplication::organizationName(), QStringLiteral("Quelvane SAS"));
    QCOMPARE(QApplication::applicationName(), QStringLiteral("Quelvane Monitor"));
    QCOMPARE(QApplication::applicationVersion(), QStringLiteral("1.0.0"));
    const QIcon icon = QApplication::windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(128, 128).size(), QSize(128, 128));
}

void TestStartup::styleSheet()
{
    const QString expected = QStringLiteral(
        "#serverTreeView { background-color: #474747; color: white; }QTreeView::branch:has-children:!has-siblings:"
        "closed, QTreeView::branch:closed:has-children:has-siblings { border-image: none; image: "
        "url(:/icons/branch-closed); }QTreeView::branch:open:has-children:!has-siblings, "
        "QTreeView::branch:open:has-children:has-siblings { border-image: none; image: url(:/icons/branch-open); }");
    QCOMPARE(expected.size(), 378);
    QCOMPARE(qApp->styleSheet(), expected);
}

void TestStartup::translator()
{
    QCOMPARE(Startup::languageCode(), language);
    // A catalogue that failed to load must not linger as a child of the application.
    const auto translators = qApp->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(translators.size(), french ? 1 : 0);
    QCOMPARE(QCoreApplication::translate("MainWindow", "Servers"),
             french ? QStringLiteral("Serveurs") : QStringLiteral("Servers"));
    QCOMPARE(QCoreApplication::translate("Systray", "Quit"),
             french ? QStringLiteral("Quitter") : QStringLiteral("Quit"));
}

void TestStartup::mainWindow()
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
    QCOMPARE(tabs->tabText(0), french ? QStringLiteral("Alarmes") : QStringLiteral("Alarms"));
    QCOMPARE(tabs->tabText(1), french ? QStringLiteral("Informations") : QStringLiteral("Information"));
    const QList<QAction*> menus = window.menuBar()->actions();
    QVERIFY(!menus.isEmpty());
    QCOMPARE(menus.first()->text(), french ? QStringLiteral("Serveurs") : QStringLiteral("Servers"));
    QMenu* servers = menus.first()->menu();
    QVERIFY(servers);
    // The catalogue is installed before the window exists, so the entries built by its constructor are translated.
    QStringList entries;
    for (const QAction* action : servers->actions()) {
        entries << action->text();
    }
    const QStringList expected =
        french ? QStringList{QStringLiteral("Ajouter un serveur"), QStringLiteral("Scripts sur alarme")}
               : QStringList{QStringLiteral("Add server"), QStringLiteral("Scripts on alarms")};
    QCOMPARE(entries, expected);

    // A picture of the window for a reviewer to look at.
    const QString artifacts = qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS");
    if (artifacts.isEmpty()) {
        QSKIP("QUELVANE_TEST_ARTIFACTS is not set");
    }
    const QPixmap picture = window.grab();
    QCOMPARE(picture.size(), QSize(497, 321));
    QVERIFY(picture.save(QDir(artifacts).filePath(QStringLiteral("mainwindow-%1.png").arg(language))));
}

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
