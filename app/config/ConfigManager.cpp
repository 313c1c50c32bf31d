#include "app/config/ConfigManager.h"

#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QStandardPaths>

ConfigManager* ConfigManager::instance()
{
    static ConfigManager* config = new ConfigManager;
    return config;
}

QDir ConfigManager::configDir() const
{
    QString appData = QString::fromLocal8Bit(qgetenv("APPDATA"));
#ifndef Q_OS_WIN
    // Without APPDATA the directory would land at the filesystem root; the desktop's own place is better.
    if (appData.isEmpty()) {
        appData = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    }
#endif
    return QDir(QStringLiteral("%1/%2/%3")
                    .arg(appData, QCoreApplication::organizationName(), QCoreApplication::applicationName()));
}

QString ConfigManager::configFilePath() const
{
    return configDir().absoluteFilePath(QStringLiteral("config.json"));
}

QByteArray ConfigManager::readConfigFile() const
{
    QFile file(configFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

bool ConfigManager::writeConfigFile(const QByteArray& data, QString* error) const
{
    const QString path = configFilePath();
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        QDir().mkpath(info.absolutePath());
    }
    QString reason;
    // Written beside the old file and renamed over it, so a failed write never leaves it truncated.
    QSaveFile file(path);
    // Unbuffered, because a buffered flush reports a short write (full disk) as success.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // The passwords are stored in clear: only the owner may read them.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (file.write(data) == data.size() && file.commit()) {
            return true;
        }
        reason = file.errorString();
        file.cancelWriting();
    } else if (info.exists()) {
        // A file the user may write in a folder they may not (one set up by an administrator): in place
        // is the one way left to save it.
        return writeInPlace(path, data, error);
    } else {
        reason = file.errorString();
    }
    if (error) {
        *error = reason;
    }
    return false;
}

bool ConfigManager::writeInPlace(const QString& path, const QByteArray& data, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray previous = file.readAll();
    // First the room the new contents need, as blanks after the old document, which still parses: a full
    // disk then fails before a byte of the old contents has changed. Then the new contents over the old.
    const QByteArray room(qMax(0, data.size() - previous.size()), ' ');
    const bool written = (room.isEmpty() || (file.seek(previous.size()) && file.write(room) == room.size())) &&
                         file.seek(0) && file.write(data) == data.size() && file.resize(data.size());
    if (written) {
        return true;
    }
    if (error) {
        *error = file.errorString();
    }
    file.seek(0);
    file.write(previous);
    file.resize(previous.size());
    return false;
}

void ConfigManager::setSaveFailedHandler(std::function<void(const QString& path, const QString& reason)> handler)
{
    saveFailedHandler = std::move(handler);
}

void ConfigManager::load()
{
    ServerManager* serverManager = ServerManager::instance();
    ExtActionManager* extActionManager = ExtActionManager::instance();

    const QJsonObject root = QJsonDocument::fromJson(readConfigFile()).object();
    // Derived from the servers' passwords and settings, so kept with them.
    serverManager->setHashStore(configDir().absoluteFilePath(QStringLiteral("hashes.json")));

    if (root.contains(QStringLiteral("servers"))) {
        const QJsonArray servers = root.value(QStringLiteral("servers")).toArray();
        for (const QJsonValue& value : servers) {
            const QJsonObject entry = value.toObject();
            if (!entry.contains(QStringLiteral("name")) || !entry.contains(QStringLiteral("host")) ||
                !entry.contains(QStringLiteral("port")) || !entry.contains(QStringLiteral("login")) ||
                !entry.contains(QStringLiteral("password"))) {
                continue;
            }
            serverManager->addServer(
                entry.value(QStringLiteral("name")).toString(), entry.value(QStringLiteral("host")).toString(),
                entry.value(QStringLiteral("port")).toInt(0), entry.value(QStringLiteral("login")).toString(),
                entry.value(QStringLiteral("password")).toString());
        }
    }

    if (root.contains(QStringLiteral("extActions"))) {
        const QJsonArray actions = root.value(QStringLiteral("extActions")).toArray();
        for (const QJsonValue& value : actions) {
            const QJsonObject entry = value.toObject();
            if (entry.contains(QStringLiteral("path"))) {
                extActionManager->addAction(entry.value(QStringLiteral("path")).toString());
            }
        }
    }
}

void ConfigManager::save()
{
    QJsonObject root;
    root.insert(QStringLiteral("version"), QStringLiteral("1.0.0"));
    root.insert(QStringLiteral("servers"), ServerManager::instance()->toJson());
    root.insert(QStringLiteral("extActions"), ExtActionManager::instance()->toJson());
    QString reason;
    // The lists stay in memory as they are: the next save that succeeds writes this change too.
    if (!writeConfigFile(QJsonDocument(root).toJson(), &reason) && saveFailedHandler) {
        saveFailedHandler(QDir::toNativeSeparators(configFilePath()), reason);
    }
}
