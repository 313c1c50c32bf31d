#include "monitor/JsonReply.h"

#include <QJsonParseError>
#include <QString>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Qt refuses documents nested deeper than this, so nothing past it is ever parsed.
constexpr int nestingLimit = 1024;

quint64 fnv1a(const char* data, int size)
{
    quint64 hash = 14695981039346656037ULL;
    for (int i = 0; i < size; ++i) {
        hash ^= quint8(data[i]);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// The key as the parser compares it: escapes resolved, so "a" and "\u0061" are the same key, and
// cut at the first NUL, where Qt's comparison of keys stops.
quint64 keyHash(const QByteArray& body, int begin, int end)
{
    const char* raw = body.constData() + begin;
    int size = end - begin;
    if (!std::memchr(raw, '\\', size_t(size))) {
        const void* nul = std::memchr(raw, '\0', size_t(size));
        if (nul)
            size = int(static_cast<const char*>(nul) - raw);
        return fnv1a(raw, size);
    }
    QString key;
    for (int i = 0; i < size; ++i) {
        if (raw[i] != '\\' || i + 1 >= size) {
            const int start = i;
            while (i + 1 < size && raw[i + 1] != '\\')
                ++i;
            key += QString::fromUtf8(raw + start, i - start + 1);
            continue;
        }
        const char escaped = raw[++i];
        switch (escaped) {
        case 'b':
            key += QChar(0x08);
            break;
        case 'f':
            key += QChar(0x0c);
            break;
        case 'n':
            key += QChar(0x0a);
            break;
        case 'r':
            key += QChar(0x0d);
            break;
        case 't':
            key += QChar(0x09);
            break;
        case 'u': {
            bool ok = false;
            const ushort unit = QByteArray(raw + i + 1, qMin(4, size - i - 1)).toUShort(&ok, 16);
            key += QChar(ok ? unit : 0xfffd);
            i += qMin(4, size - i - 1);
            break;
        }
        default:
            key += QLatin1Char(escaped);
            break;
        }
    }
    const int nul = key.indexOf(QChar(0));
    if (nul >= 0)
        key.truncate(nul);
    const QByteArray utf8 = key.toUtf8();
    return fnv1a(utf8.constData(), utf8.size());
}

// One open object or array; an object collects the hashes of its keys, checked when it closes.
struct Frame
{
    bool isObject = false;
    bool expectKey = false;
    std::vector<quint64> keys;
};

bool repeats(std::vector<quint64>& keys)
{
    std::sort(keys.begin(), keys.end());
    return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
}

} // namespace

namespace JsonReply {

bool hasDuplicateKeys(const QByteArray& body)
{
    std::vector<Frame> stack;
    const int size = body.size();
    const char* data = body.constData();
    for (int i = 0; i < size; ++i) {
        switch (data[i]) {
        case '"': {
            const int begin = i + 1;
            for (++i; i < size && data[i] != '"'; ++i) {
                if (data[i] == '\\')
                    ++i;
            }
            const int end = qMin(i, size);
            if (!stack.empty() && stack.back().isObject && stack.back().expectKey) {
                stack.back().keys.push_back(keyHash(body, begin, end));
                stack.back().expectKey = false;
            }
            break;
        }
        case '{':
        case '[':
            if (int(stack.size()) >= nestingLimit)
                return false;
            stack.push_back(Frame{data[i] == '{', data[i] == '{', {}});
            break;
        case '}':
        case ']':
            if (!stack.empty()) {
                if (repeats(stack.back().keys))
                    return true;
                stack.pop_back();
            }
            break;
        case ',':
            if (!stack.empty() && stack.back().isObject)
                stack.back().expectKey = true;
            break;
        default:
            break;
        }
    }
    // A body cut short is refused by the parser, but only after it read the keys so far.
    return std::any_of(stack.begin(), stack.end(), [](Frame& frame) { return repeats(frame.keys); });
}

bool parse(const QByteArray& body, QJsonDocument* doc)
{
    if (hasDuplicateKeys(body)) {
        *doc = QJsonDocument();
        return false;
    }
    QJsonParseError error;
    *doc = QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError;
}

} // namespace JsonReply
