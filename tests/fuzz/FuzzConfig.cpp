// The configuration loader on arbitrary file bytes: ConfigManager::load reads them from config.json
// in a throwaway APPDATA. Whatever was loaded must survive a save and a second load unchanged. The same
// bytes as the file of bcrypt hashes beside it: what is kept of them must survive being written and read.
#include "FuzzSupport.h"
#include "app/config/ConfigManager.h"
#include "monitor/JsonReply.h"
#include "monitor/ServerManager.h"
#include "notify/ExtActionManager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cstdint>

namespace {

QStringList loadedState()
{
    QStringList state;
    for (const auto& server : ServerManager::instance()->serverList())
        state << QStringList{server->name, server->host, QString::number(server->port), server->login, server->password}
                     .join(QLatin1Char('\x1f'));
    for (const auto& action : ExtActionManager::instance()->actionList())
        state << action->path;
    return state;
}

void unload()
{
    const auto servers = ServerManager::instance()->serverList();
    for (const auto& server : servers)
        ServerManager::instance()->removeServer(server);
    const auto actions = ExtActionManager::instance()->actionList();
    for (const auto& action : actions)
        ExtActionManager::instance()->removeAction(action);
}

QString configFile()
{
    static QTemporaryDir* appData = nullptr;
    if (!appData) {
        appData = new QTemporaryDir;
        FUZZ_CHECK(appData->isValid());
        qputenv("APPDATA", QFile::encodeName(appData->path()));
        FUZZ_CHECK(QDir().mkpath(ConfigManager::instance()->configDir().path()));
    }
    return ConfigManager::instance()->configDir().absoluteFilePath(QStringLiteral("config.json"));
}

// Each a bcrypt string under a store key; in no order, as the file does not keep one.
QStringList storedEntries(const QByteArray& document)
{
    QStringList entries;
    for (const QJsonValue& entry : QJsonDocument::fromJson(document)[QLatin1String("entries")].toArray()) {
        const QString hash = entry[QLatin1String("hash")].toString();
        FUZZ_CHECK(BcryptCache::costOf(hash.toLatin1()) > 0 && hash.size() == 60);
        entries << entry[QLatin1String("key")].toString() + hash;
    }
    entries.sort();
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    // Qt's parser leaks on a repeated key; the user's own file is read once per start, so the loader
    // keeps reading such a file as Qt does rather than refusing it and losing the server list.
    if (JsonReply::hasDuplicateKeys(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size))))
        return 0;
    const QString path = configFile();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }

    ConfigManager::instance()->load();
    const QStringList loaded = loadedState();
    ConfigManager::instance()->save();
    unload();
    ConfigManager::instance()->load();
    FUZZ_CHECK(loadedState() == loaded);
    unload();

    BcryptCache hashes;
    hashes.loadStore(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
    const auto all = [](const QByteArray&, const QByteArray&) { return true; };
    const QByteArray kept = hashes.storeDocument(all);
    hashes.loadStore(kept);
    FUZZ_CHECK(storedEntries(hashes.storeDocument(all)) == storedEntries(kept));
    return 0;
}
