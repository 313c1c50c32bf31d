#include "monitor/BcryptCache.h"

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
