#include "notify/ExtActionManager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

static QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestExtActionManager : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void singleInstance();
    void addSamePathTwice();
    void removeAbsentAction();
    void removeOneOfTwoEqualPaths();
    void toJsonOfEmptyList();
    void runActionsStartsPathWithBlank();

private:
    static ExtActionManager* manager() { return ExtActionManager::instance(); }
};

void TestExtActionManager::cleanup()
{
    const auto actions = manager()->actionList();
    for (const auto& action : actions) {
        manager()->removeAction(action);
    }
}

void TestExtActionManager::singleInstance()
{
    QVERIFY(manager() != nullptr);
    QCOMPARE(ExtActionManager::instance(), manager());
    QVERIFY(manager()->parent() == nullptr);
}

void TestExtActionManager::addSamePathTwice()
{
    QSignalSpy added(manager(), &ExtActionManager::actionAdded);
    const QString path = QStringLiteral("/opt/scripts/alarm.sh");
    const auto first = manager()->addAction(path);
    const auto second = manager()->addAction(path);

    QVERIFY(first != second);
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(0).at(0).value<std::shared_ptr<ExtAction>>(), first);
    QCOMPARE(added.at(1).at(0).value<std::shared_ptr<ExtAction>>(), second);
    QCOMPARE(manager()->actionList(), (QList<std::shared_ptr<ExtAction>>{first, second}));
    const QJsonArray expected{QJsonObject{{QStringLiteral("path"), path}}, QJsonObject{{QStringLiteral("path"), path}}};
    QCOMPARE(manager()->toJson(), QJsonValue(expected));
}

void TestExtActionManager::removeAbsentAction()
{
    const auto kept = manager()->addAction(QStringLiteral("a"));
    auto stranger = std::make_shared<ExtAction>();
    stranger->path = QStringLiteral("a");

    QVERIFY(!manager()->removeAction(stranger));
    QVERIFY(!manager()->removeAction(nullptr));
    QCOMPARE(manager()->actionList(), QList<std::shared_ptr<ExtAction>>{kept});
}

void TestExtActionManager::removeOneOfTwoEqualPaths()
{
    const auto first = manager()->addAction(QStringLiteral("same"));
    const auto second = manager()->addAction(QStringLiteral("same"));
    const auto third = manager()->addAction(QStringLiteral("other"));

    QVERIFY(manager()->removeAction(second));
    QCOMPARE(manager()->actionList(), (QList<std::shared_ptr<ExtAction>>{first, third}));
    QVERIFY(!manager()->removeAction(second));
}

void TestExtActionManager::toJsonOfEmptyList()
{
    QVERIFY(manager()->actionList().isEmpty());
    QCOMPARE(manager()->toJson(), QJsonValue(QJsonArray()));
}

void TestExtActionManager::runActionsStartsPathWithBlank()
{
#ifdef Q_OS_WIN
    QSKIP("The start is checked with a shell script");
#else
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("with blank")));
    const QString dir = tmp.filePath(QStringLiteral("with blank"));

    // Each script writes its marker with the variable it got, so the environment is checked too.
    QStringList markers;
    for (const QString& name : {QStringLiteral("first script.sh"), QStringLiteral("second.sh")}) {
        const QString script = dir + QLatin1Char('/') + name;
        const QString marker = script + QStringLiteral(".done");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$QUELVANE_ALARM\" > '%1'\n").arg(marker).toUtf8());
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        manager()->addAction(script);
        markers << marker;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVANE_ALARM"), QStringLiteral("recorder down"));
    manager()->runActions(environment);

    for (const QString& marker : markers) {
        // The script may still be writing when the marker appears.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("recorder down"), 20000);
    }
#endif
}

QTEST_GUILESS_MAIN(TestExtActionManager)
#include "TestExtActionManager.moc"
