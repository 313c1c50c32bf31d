#pragma once

#include "notify/ExtAction.h"

#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <memory>

// The process-wide list of external scripts, in the order they were added.
class ExtActionManager : public QObject
{
    Q_OBJECT

public:
    static ExtActionManager* instance();

    std::shared_ptr<ExtAction> addAction(const QString& path);
    bool removeAction(std::shared_ptr<ExtAction> action);
    QJsonValue toJson() const;

    // Starts every script; the environment is how alarm details reach the scripts.
    void runActions(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) const;
    // The path is the program itself, never split at blanks; whether the start succeeds is not looked at.
    static void startDetached(const QString& path,
                              const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    const QList<std::shared_ptr<ExtAction>>& actionList() const { return actions; }

signals:
    void actionAdded(std::shared_ptr<ExtAction> newAction);

private:
    ExtActionManager() = default;

    QList<std::shared_ptr<ExtAction>> actions;
};
