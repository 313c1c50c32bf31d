#include "monitor/BcryptCache.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <crypt.h>
#include <cstring>
#include <memory>

namespace {

// The digest takes at most a bcrypt string: 60 characters, of which the setting is the first 29.
constexpr int bcryptLength = 60;
constexpr int settingLength = 29;

bool isBcryptBase64(char c)
{
    return c == '.' || c == '/' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBcrypt(const char* output)
{
    return std::strncmp(output, "$2", 2) == 0 && std::strlen(output) == bcryptLength;
}

} // namespace

QByteArray BcryptCache::compute(const QByteArray& password, const QByteArray& setting)
{
    if (costOf(setting) == 0)
        return failureToken(setting);
    // crypt_data is tens of kilobytes: keep it off the (worker) stack.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* output = crypt_rn(password.constData(), setting.constData(), data.get(), int(sizeof(crypt_data)));
    // Other methods the library knows (or a truncated bcrypt) are refused like any unusable setting.
    if (!output || !isBcrypt(output))
        return failureToken(setting);
    return QByteArray(output, bcryptLength);
}

QByteArray BcryptCache::failureToken(const QByteArray& setting)
{
    return setting.startsWith("*0") ? QByteArrayLiteral("*1") : QByteArrayLiteral("*0");
}

int BcryptCache::costOf(const QByteArray& setting)
{
    if (setting.size() != settingLength && setting.size() != bcryptLength)
        return 0;
    if (!setting.startsWith("$2") || !QByteArray("abxy").contains(setting.at(2)) || setting.at(3) != '$' ||
        !isDigit(setting.at(4)) || !isDigit(setting.at(5)) || setting.at(6) != '$')
        return 0;
    const int cost = (setting.at(4) - '0') * 10 + (setting.at(5) - '0');
    if (cost < 4 || cost > 31)
        return 0;
    for (int i = 7; i < setting.size(); ++i) {
        if (!isBcryptBase64(setting.at(i)))
            return 0;
    }
    return cost;
}

QByteArray BcryptCache::settingOf(const QByteArray& hash)
{
    return hash.left(settingLength);
}

bool BcryptCache::find(const QByteArray& password, const QByteArray& setting, QByteArray* output)
{
    const auto it = entries.find(qMakePair(password, setting));
    if (it != entries.end()) {
        it->lastUse = ++uses;
        *output = it->output;
        return true;
    }
    if (stored.isEmpty())
        return false;
    // A stored hash of another salt or cost would sign every request wrongly: only one of this setting.
    const QByteArray hash = stored.take(storeKey(password, setting));
    if (!isBcrypt(hash.constData()) || !hash.startsWith(settingOf(setting)))
        return false;
    insert(password, setting, hash);
    entries[qMakePair(password, setting)].fromStore = true;
    *output = hash;
    return true;
}

bool BcryptCache::dropStored(const QByteArray& password, const QByteArray& setting)
{
    const auto it = entries.find(qMakePair(password, setting));
    if (it == entries.end() || !it->fromStore)
        return false;
    entries.erase(it);
    return true;
}

void BcryptCache::insert(const QByteArray& password, const QByteArray& setting, const QByteArray& output)
{
    const auto key = qMakePair(password, setting);
    if (entries.size() >= maxEntries && !entries.contains(key)) {
        // Inserts are rare (one per new password or setting), so a scan is cheaper than keeping an order.
        auto oldest = entries.begin();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        }
        entries.erase(oldest);
    }
    entries.insert(key, Entry{output, ++uses});
}

void BcryptCache::reserveFor(int count)
{
    maxEntries = qMax(minEntries, 2 * count);
}

QByteArray BcryptCache::storeKey(const QByteArray& password, const QByteArray& setting)
{
    return QCryptographicHash::hash(setting + '\0' + password, QCryptographicHash::Sha256).toHex();
}

void BcryptCache::loadStore(const QByteArray& document)
{
    entries.clear();
    stored.clear();
    for (const QJsonValue& entry :
         QJsonDocument::fromJson(document).object().value(QLatin1String("entries")).toArray()) {
        const QByteArray key = entry[QLatin1String("key")].toString().toLatin1();
        const QByteArray hash = entry[QLatin1String("hash")].toString().toLatin1();
        if (key.size() == 64 && isBcrypt(hash.constData()) && costOf(hash) > 0)
            stored.insert(key, hash);
    }
}

void BcryptCache::addStored(const QByteArray& password, const QByteArray& hash)
{
    if (isBcrypt(hash.constData()) && costOf(hash) > 0)
        stored.insert(storeKey(password, settingOf(hash)), hash);
}

QByteArray BcryptCache::storeDocument(const Keep& keep) const
{
    const auto entry = [](const QByteArray& key, const QByteArray& hash) {
        return QJsonObject{{QStringLiteral("key"), QString::fromLatin1(key)},
                           {QStringLiteral("hash"), QString::fromLatin1(hash)}};
    };
    // Failure tokens are not worth keeping: a refused setting is refused at once. Those not asked for yet
    // this run are the servers' that have not authenticated yet.
    QJsonArray list;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QByteArray key = storeKey(it.key().first, it.key().second);
        if (isBcrypt(it->output.constData()) && keep(key, it->output))
            list.append(entry(key, it->output));
    }
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        if (keep(it.key(), it.value()))
            list.append(entry(it.key(), it.value()));
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("entries"), list}}).toJson();
}
