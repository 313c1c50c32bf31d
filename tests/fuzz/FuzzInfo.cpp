// The system-information and licence steps: the same body is taken as both replies, as a hostile
// server may send anything to either.
#include "FuzzSupport.h"
#include "monitor/ServerManager.h"

#include <QJsonObject>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    QJsonDocument doc;
    if (!parseReply(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)), &doc))
        return 0;

    const auto server = makeServer();
    const QJsonObject previous{{QStringLiteral("serial_number"), QStringLiteral("QV-1")}};
    server->license = previous;
    server->infoError = QStringLiteral("stale");

    server->infoError.clear();
    server->sysInfo = doc.object();
    ServerManager::instance()->_parseLicense(doc, server);

    const QJsonValue license = doc.object().value(QStringLiteral("license"));
    if (license.isNull() || license.isUndefined()) {
        FUZZ_CHECK(!server->infoError.isEmpty());
        FUZZ_CHECK(server->license == previous);
    } else {
        FUZZ_CHECK(server->infoError.isEmpty());
        FUZZ_CHECK(server->license == license.toObject());
    }
    return 0;
}
