// The authentication reply: the clock step on the "Date" header, then _parseAuth on the body, then
// the header values the next request would carry. Input: the header's bytes up to the first
// newline, the body after it.
#include "FuzzSupport.h"
#include "monitor/ServerManager.h"
#include "monitor/Wsse.h"

#include <QDateTime>
#include <cstdint>

namespace {
constexpr qint64 previousOffset = 1234;
const QString previousSalt = QStringLiteral("$2b$04$previous.salt.value.");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const int newline = input.indexOf('\n');
    const QByteArray date = newline < 0 ? input : input.left(newline);
    const QByteArray body = newline < 0 ? QByteArray() : input.mid(newline + 1);

    const auto server = makeServer();
    server->clockOffset = previousOffset;
    server->salt = previousSalt;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!Wsse::takeClockOffset(date, now, &server->clockOffset))
        FUZZ_CHECK(server->clockOffset == previousOffset);

    QJsonDocument doc;
    if (parseReply(body, &doc)) {
        ServerManager::instance()->_parseAuth(doc, server);
        // An unusable entry never replaces the salt with nothing.
        FUZZ_CHECK(!server->salt.isEmpty());
    }

    // The next request's headers are built from whatever the step stored.
    const QString created = Wsse::createdStamp(QDateTime::currentDateTimeUtc(), server->clockOffset);
    const QString nonce = generateNonce(Wsse::nonceLength);
    const QString digest = Wsse::passwordDigest(nonce, created, QByteArrayLiteral("*0"));
    FUZZ_CHECK(digest.size() == 28);
    Wsse::xWsseValue(server->login, digest, nonce, created);
    return 0;
}
