// The authentication reply: the clock step on the "Date" header, then _parseAuth on the body. Input:
// the header's bytes up to the first newline, the body after it.
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
        // The salt kept is the earlier one or a string of the report, never nothing.
        FUZZ_CHECK(server->salt == previousSalt ||
                   (!server->salt.isEmpty() && allValues(doc).contains(QJsonValue(server->salt))));
    }
    return 0;
}
