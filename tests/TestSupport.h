#pragma once

// What several suites share: short intervals, simulator recorders, and driving a modal dialog.
#include "monitor/ServerManager.h"
#include "tools/recorder-sim/RecorderSim.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>
#include <functional>
#include <memory>

namespace TestSupport {

const QString salt04 = QStringLiteral("$2b$04$Ro0CUfOqk6Ei.OgoyH5XNu");

// Short enough for a test, long enough that a loaded machine keeps the order of events, and far enough
// apart that a test tells which interval a timer took.
inline MonitorSettings shortSettings()
{
    MonitorSettings settings;
    settings.pollInterval = 200;
    settings.authRetryInterval = 800;
    settings.requestTimeout = 1000;
    settings.hashStoreDelay = 100;
    return settings;
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file with its folders; executable, so that it may be a script.
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(data) == data.size() && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// One data row per case file of a folder under tests/data, named after the file, in the column "file".
inline void caseFiles(const QString& folder, const QString& filter = QStringLiteral("*"))
{
    QTest::addColumn<QString>("file");
    const QDir dir(QFINDTESTDATA(QStringLiteral("data/") + folder));
    const QStringList names = dir.entryList({filter}, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names)
        QTest::newRow(qPrintable(name.section(QLatin1Char('.'), 0, 0))) << dir.filePath(name);
}

inline QJsonObject recorder(const QString& login, const QJsonObject& endpoints = {},
                            const QString& password = QStringLiteral("secret"), const QString& salt = salt04)
{
    return {{"login", login}, {"password", password}, {"salt", salt}, {"endpoints", endpoints}};
}

inline bool load(RecorderSim& sim, const QJsonArray& recorders)
{
    QString error;
    if (!sim.loadScenario({{"recorders", recorders}}, &error))
        qWarning("%s", qPrintable(error));
    return error.isEmpty();
}

inline std::shared_ptr<Server> addServer(const RecorderSim& sim, const QString& login,
                                         const QString& password = QStringLiteral("secret"))
{
    return ServerManager::instance()->addServer(login + QStringLiteral(" server"), QStringLiteral("127.0.0.1"),
                                                sim.port(), login, password);
}

inline void removeAllServers()
{
    const QList<std::shared_ptr<Server>> added = ServerManager::instance()->serverList();
    for (const auto& server : added)
        ServerManager::instance()->removeServer(server);
}

// The requests the simulator routed to a recorder: of one endpoint ("auth", "health", "sysinfo",
// "license"), or of all with an empty one.
inline QList<RecordedRequest> requestsOf(const RecorderSim& sim, const QString& login, const QString& endpoint = {})
{
    QList<RecordedRequest> found;
    for (const RecordedRequest& request : sim.requests()) {
        const QString name = request.path.endsWith(QLatin1String("/auth")) ? QStringLiteral("auth")
                                                                           : request.path.section(QLatin1Char('/'), -1);
        if (request.login == login && (endpoint.isEmpty() || name == endpoint))
            found.append(request);
    }
    return found;
}

inline int countOf(const RecorderSim& sim, const QString& login, const QString& endpoint)
{
    return requestsOf(sim, login, endpoint).size();
}

// Keeps the event loop running, so the monitor goes on sending, until the requests have arrived.
inline bool waitForRequests(const RecorderSim& sim, const QString& login, const QString& endpoint, int count,
                            int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (countOf(sim, login, endpoint) < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Runs step on the modal widget of that class once it shows (exec() or a static flow around it);
// the returned flag turns true then. A step that fails closes it, so no test hangs in its loop.
template <typename Widget> std::shared_ptr<bool> whenModal(std::function<void(Widget*)> step)
{
    auto ran = std::make_shared<bool>(false);
    auto* timer = new QTimer(qApp);
    QTimer::singleShot(30000, timer, &QObject::deleteLater);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step, ran] {
        auto* modal = qobject_cast<Widget*>(QApplication::activeModalWidget());
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        *ran = true;
        step(modal);
        if (QTest::currentTestFailed())
            modal->close();
    });
    timer->start(0);
    return ran;
}

inline void press(QWidget* dialog, QDialogButtonBox::StandardButton which)
{
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(which), Qt::LeftButton);
}

} // namespace TestSupport
