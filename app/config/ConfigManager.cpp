#include "app/config/ConfigManager.h"

#include "app/config/Keyring.h"
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
#include <algorithm>

namespace {

const QString hashesFile = QStringLiteral("hashes.json");

} // namespace

ConfigManager* ConfigManager::instance()
{
    static ConfigManager* config = new ConfigManager;
    return config;
}

ConfigManager::ConfigManager()
{
    ServerManager* servers = ServerManager::instance();
    servers->setPasswordSource([this](const std::shared_ptr<Server>& server, std::function<void(const QString&)> done) {
        fetchPassword(server, std::move(done));
    });
    Keyring* keyring = Keyring::instance();
    // A removed server takes its secret with it, once the file is saved without it: a save that failed
    // leaves the server in the file, its password perhaps only in the keyring.
    QObject::connect(servers, &ServerManager::serverRemoved, keyring, [this](std::shared_ptr<Server> server) {
        kept.remove(server.get());
        QString key = keys.take(server.get());
        if (key.isEmpty() && server->passwordElsewhere)
            key = server->account();
        if (!key.isEmpty())
            removedKeys << key;
        if (!lastWriteFailed)
            removeSecrets();
    });
    // A hash made this run goes to the keyring with its password: the next start pays none.
    QObject::connect(servers, &ServerManager::serverAuthenticated, keyring, [this](std::shared_ptr<Server> server) {
        if (keyringMode)
            storeInKeyring({server});
    });
}

QString ConfigManager::keyringKey(const Server& server)
{
    QString& key = keys[&server];
    if (key.isEmpty()) {
        const QString account = server.account();
        QString candidate = account;
        for (int n = 2; std::find(keys.cbegin(), keys.cend(), candidate) != keys.cend(); ++n)
            candidate = QStringLiteral("%1 (%2)").arg(account).arg(n);
        key = candidate;
    }
    return key;
}

bool ConfigManager::keyringHolds(const Server& server) const
{
    if (server.passwordElsewhere && server.password.isEmpty())
        return true;
    const auto it = kept.find(&server);
    return it != kept.end() && it->password == server.password;
}

void ConfigManager::removeSecrets()
{
    for (const QString& key : qAsConst(removedKeys))
        Keyring::instance()->remove(key, {});
    removedKeys.clear();
}

void ConfigManager::setKeyringFailedHandler(std::function<void(const QString& server, const QString& reason)> handler)
{
    keyringFailedHandler = std::move(handler);
}

void ConfigManager::setPasswordsInKeyring(bool inKeyring)
{
    if (inKeyring == keyringMode)
        return;
    keyringMode = inKeyring;
    ServerManager::instance()->keepHashStore(!inKeyring);
    if (inKeyring) {
        // A hash signs requests as the password does: none is left in a file.
        QFile::remove(configDir().absoluteFilePath(hashesFile));
        // The file first says where the passwords go, still holding them; then the keyring takes them.
        save();
        return;
    }
    // Back into the file first: only a file that holds them lets the keyring forget them.
    if (!write()) {
        keyringMode = true;
        ServerManager::instance()->keepHashStore(false);
        return;
    }
    for (const auto& server : ServerManager::instance()->serverList()) {
        if (server->password.isEmpty())
            continue; // never read from the keyring this run: it stays there
        const Kept entry = kept.take(server.get());
        if (!entry.key.isEmpty())
            Keyring::instance()->remove(entry.key, {});
    }
}

void ConfigManager::storeInKeyring(const QList<std::shared_ptr<Server>>& servers)
{
    for (const auto& server : servers) {
        if (server->password.isEmpty() || writing.contains(server.get()))
            continue;
        const QString key = keyringKey(*server);
        const QByteArray hash = ServerManager::instance()->knownHash(*server);
        const auto it = kept.find(server.get());
        if (it != kept.end() && it->key == key && it->password == server->password &&
            (hash.isEmpty() || hash == it->hash))
            continue;
        const Kept entry{key, server->password, hash};
        const QJsonObject secret{{QStringLiteral("password"), entry.password},
                                 {QStringLiteral("hash"), QString::fromLatin1(hash)}};
        writing.insert(server.get());
        Keyring::instance()->write(
            key, QString::fromUtf8(QJsonDocument(secret).toJson(QJsonDocument::Compact)),
            [this, server, entry](const QString& error) { storedInKeyring(server, entry, error); });
    }
}

void ConfigManager::storedInKeyring(const std::shared_ptr<Server>& server, const Kept& entry, const QString& error)
{
    writing.remove(server.get());
    if (!ServerManager::instance()->serverList().contains(server)) {
        removedKeys << entry.key;
        if (!lastWriteFailed)
            removeSecrets();
    } else if (!keyringMode) {
        // Unticked meanwhile: the file took the password back first.
        Keyring::instance()->remove(entry.key, {});
    } else if (!error.isEmpty()) {
        if (keyringFailedHandler)
            keyringFailedHandler(server->name, error);
    } else {
        const bool fileHadIt = !keyringHolds(*server);
        kept.insert(server.get(), entry);
        if (fileHadIt && keyringHolds(*server))
            fileBehind = true;
    }
    // The file leaves the passwords out once the keyring holds them: one save for a whole batch, even one
    // whose last write failed.
    if (fileBehind && writing.isEmpty() && keyringMode) {
        fileBehind = false;
        save();
    }
}

void ConfigManager::fetchPassword(const std::shared_ptr<Server>& server, std::function<void(const QString& error)> done)
{
    const QString key = keyringKey(*server);
    Keyring::instance()->read(key, [this, server, key, done](const QString& secret, const QString& error, bool) {
        const QJsonObject stored = QJsonDocument::fromJson(secret.toUtf8()).object();
        const QString password = stored.value(QStringLiteral("password")).toString();
        if (!error.isEmpty() || password.isEmpty()) {
            const QString reason =
                error.isEmpty() ? QCoreApplication::translate("ConfigManager", "it holds no password for it") : error;
            done(QCoreApplication::translate(
                     "ConfigManager",
                     "The password of this server is in the desktop keyring, which could not be read: %1")
                     .arg(reason));
            return;
        }
        // A server removed meanwhile keeps nothing; one edited meanwhile keeps the password typed.
        if (!ServerManager::instance()->serverList().contains(server) ||
            (!server->password.isEmpty() && server->password != password))
            return;
        const QByteArray hash = stored.value(QStringLiteral("hash")).toString().toLatin1();
        server->password = password;
        ServerManager::instance()->rememberHash(password.toUtf8(), hash);
        kept.insert(server.get(), Kept{key, password, hash});
        // Unticked before it could be read: into the file first, then out of the keyring.
        if (!keyringMode && write()) {
            kept.remove(server.get());
            Keyring::instance()->remove(key, {});
        }
        done(QString());
    });
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
    keyringMode = root.value(QStringLiteral("passwordsInKeyring")).toBool();
    // Derived from the servers' passwords and settings, so kept with them; in the keyring, with them too.
    const QString hashes = configDir().absoluteFilePath(hashesFile);
    serverManager->setHashStore(hashes);
    serverManager->keepHashStore(!keyringMode);
    if (keyringMode)
        QFile::remove(hashes);

    if (root.contains(QStringLiteral("servers"))) {
        const QJsonArray servers = root.value(QStringLiteral("servers")).toArray();
        for (const QJsonValue& value : servers) {
            const QJsonObject entry = value.toObject();
            if (!entry.contains(QStringLiteral("name")) || !entry.contains(QStringLiteral("host")) ||
                !entry.contains(QStringLiteral("port")) || !entry.contains(QStringLiteral("login")) ||
                !entry.contains(QStringLiteral("password"))) {
                continue;
            }
            const auto server = serverManager->addServer(
                entry.value(QStringLiteral("name")).toString(), entry.value(QStringLiteral("host")).toString(),
                entry.value(QStringLiteral("port")).toInt(0), entry.value(QStringLiteral("login")).toString(),
                entry.value(QStringLiteral("password")).toString());
            // Fetched before its first authentication, a pass from now.
            server->passwordElsewhere = entry.value(QStringLiteral("passwordInKeyring")).toBool();
            const QString key = entry.value(QStringLiteral("keyringKey")).toString();
            if (!key.isEmpty())
                keys.insert(server.get(), key);
        }
    }

    // A move to the keyring that a crash cut short goes on: the file still holds those passwords.
    if (keyringMode)
        storeInKeyring(serverManager->serverList());

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
    // New and edited servers follow the choice: in the file until the keyring has confirmed them.
    if (write() && keyringMode)
        storeInKeyring(ServerManager::instance()->serverList());
}

bool ConfigManager::write()
{
    QJsonArray servers;
    for (const auto& server : ServerManager::instance()->serverList()) {
        QJsonObject entry = server->toJson().toObject();
        // An empty password an older version still loads; the mark says where the real one is.
        const bool marked = keyringHolds(*server) && (keyringMode || server->password.isEmpty());
        if (marked) {
            entry.insert(QStringLiteral("password"), QString());
            entry.insert(QStringLiteral("passwordInKeyring"), true);
        }
        // Named before the keyring is written, so that a move cut short goes on under the same name.
        if (marked || keyringMode)
            entry.insert(QStringLiteral("keyringKey"), keyringKey(*server));
        servers.append(entry);
    }
    QJsonObject root;
    root.insert(QStringLiteral("version"), QStringLiteral("1.0.0"));
    root.insert(QStringLiteral("servers"), servers);
    root.insert(QStringLiteral("extActions"), ExtActionManager::instance()->toJson());
    if (keyringMode)
        root.insert(QStringLiteral("passwordsInKeyring"), true);
    QString reason;
    // The lists stay in memory as they are: the next save that succeeds writes this change too.
    lastWriteFailed = !writeConfigFile(QJsonDocument(root).toJson(), &reason);
    if (!lastWriteFailed) {
        removeSecrets();
        return true;
    }
    if (saveFailedHandler)
        saveFailedHandler(QDir::toNativeSeparators(configFilePath()), reason);
    return false;
}
