#include "notify/ExtActionManager.h"

#include <QtTest>

using Actions = QList<std::shared_ptr<ExtAction>>;

class TestExtActionManager : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void sameAndAbsentPaths();
    void runActionsStartsPathWithBlank();

private:
    ExtActionManager* manager = ExtActionManager::instance();
};

void TestExtActionManager::cleanup()
{
    const Actions actions = manager->actionList();
    for (const auto& action : actions)
        manager->removeAction(action);
    QCOMPARE(manager->toJson(), QJsonValue(QJsonArray()));
}

void TestExtActionManager::sameAndAbsentPaths()
{
    QSignalSpy added(manager, &ExtActionManager::actionAdded);
    const auto first = manager->addAction(QStringLiteral("same"));
    const auto second = manager->addAction(QStringLiteral("same"));
    const auto third = manager->addAction(QStringLiteral("other"));
    // The same path twice makes two entries, each announced.
    QCOMPARE(added.count(), 3);
    QCOMPARE(added.at(1).at(0).value<std::shared_ptr<ExtAction>>(), second);
    QCOMPARE(manager->toJson(), QJsonValue(QJsonArray{QJsonObject{{"path", "same"}}, QJsonObject{{"path", "same"}},
                                                      QJsonObject{{"path", "other"}}}));

    // Removal goes by the entry, not by its path.
    auto stranger = std::make_shared<ExtAction>();
    stranger->path = QStringLiteral("same");
    QVERIFY(!manager->removeAction(stranger));
    QVERIFY(!manager->removeAction(nullptr));
    QVERIFY(manager->removeAction(second));
    QCOMPARE(manager->actionList(), (Actions{first, third}));
    QVERIFY(!manager->removeAction(second));
}

void TestExtActionManager::runActionsStartsPathWithBlank()
{
#ifdef Q_OS_WIN
    QSKIP("The start is checked with a shell script");
#else
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid() && QDir(tmp.path()).mkdir(QStringLiteral("with blank")));
    // Each script writes the variable it got beside itself, so the environment is checked too.
    const QStringList scripts{tmp.filePath(QStringLiteral("with blank/first script.sh")),
                              tmp.filePath(QStringLiteral("with blank/second.sh"))};
    for (const QString& script : scripts) {
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("#!/bin/sh\nprintf '%s' \"$QUELVANE_ALARM\" > \"$0.done\"\n") > 0);
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        manager->addAction(script);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVANE_ALARM"), QStringLiteral("recorder down"));
    manager->runActions(environment);

    const auto contents = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    // The script may still be writing when the marker appears.
    for (const QString& script : scripts)
        QTRY_COMPARE_WITH_TIMEOUT(contents(script + QStringLiteral(".done")), QByteArray("recorder down"), 20000);
#endif
}

QTEST_GUILESS_MAIN(TestExtActionManager)
#include "TestExtActionManager.moc"
