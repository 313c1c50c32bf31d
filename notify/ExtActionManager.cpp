#include "notify/ExtActionManager.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

ExtActionManager* ExtActionManager::instance()
{
    static ExtActionManager* manager = new ExtActionManager;
    return manager;
}

std::shared_ptr<ExtAction> ExtActionManager::addAction(const QString& path)
{
    auto action = std::make_shared<ExtAction>();
    action->path = path;
    actions.append(action);
    emit actionAdded(action);
    return action;
}

bool ExtActionManager::removeAction(std::shared_ptr<ExtAction> action)
{
    return actions.removeOne(action);
}

QJsonValue ExtActionManager::toJson() const
{
    QJsonArray array;
    for (const auto& action : actions) {
        array.append(QJsonObject{{QStringLiteral("path"), action->path}});
    }
    return array;
}

void ExtActionManager::runActions(const QProcessEnvironment& environment) const
{
    // A copy, so a script added or removed by a slot during the starts does not disturb the loop.
    const QList<std::shared_ptr<ExtAction>> current = actions;
    for (const auto& action : current) {
        startDetached(action->path, environment);
    }
}

void ExtActionManager::startDetached(const QString& path, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProgram(path);
    process.setArguments(QStringList());
    process.setProcessEnvironment(environment);
    process.startDetached();
}
