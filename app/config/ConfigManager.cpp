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

bool ConfigManager::writeConfigFile(const QByteArray& data) const
{
    const QString path = configFilePath();
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        QDir().mkpath(info.absolutePath());
    }
    // Written beside the old file and renamed over it, so a failed write never leaves it truncated.
    QSaveFile file(path);
    // A file the user may write in a folder they may not (one set up by an administrator) is written in
    // place, the one way left to save it; everywhere else the rename keeps it whole.
    file.setDirectWriteFallback(true);
    // Unbuffered, because a buffered flush reports a short write (full disk) as success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    // The passwords are stored in clear: only the owner may read them.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
    }
    return file.commit();
}

void ConfigManager::load()
{
    ServerManager* serverManager = ServerManager::instance();
    ExtActionManager* extActionManager = ExtActionManager::instance();

    const QJsonObject root = QJsonDocument::fromJson(readConfigFile()).object();

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
    writeConfigFile(QJsonDocument(root).toJson());
}
