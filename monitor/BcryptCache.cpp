#include "monitor/BcryptCache.h"

#include <crypt.h>
#include <cstring>
#include <memory>

namespace {

// The digest takes at most a bcrypt string: 60 characters.
constexpr int bcryptLength = 60;

bool isBcrypt(const char* output)
{
    return std::strncmp(output, "$2", 2) == 0 && std::strlen(output) == bcryptLength;
}

} // namespace

QByteArray BcryptCache::compute(const QByteArray& password, const QByteArray& setting)
{
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

bool BcryptCache::find(const QByteArray& password, const QByteArray& setting, QByteArray* output)
{
    const auto it = entries.find(qMakePair(password, setting));
    if (it == entries.end())
        return false;
    it->lastUse = ++uses;
    *output = it->output;
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

void BcryptCache::clear()
{
    entries.clear();
}

void BcryptCache::reserveFor(int servers)
{
    maxEntries = qMax(minEntries, 2 * servers);
}
