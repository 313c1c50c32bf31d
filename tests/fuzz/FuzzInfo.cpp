// The licence step on any body, as a hostile server may send anything: what it keeps comes from the
// report or was there before, and the only error it gives is its own.
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
    const QJsonObject previous{{QStringLiteral("serial_number"), QStringLiteral("\x01previous")}};
    server->license = previous;
    ServerManager::instance()->_parseLicense(doc, server);

    const bool kept = server->license == previous;
    FUZZ_CHECK(kept || server->license.isEmpty() || allValues(doc).contains(QJsonValue(server->license)));
    // An error leaves the licence shown before; a licence taken clears the error.
    FUZZ_CHECK(server->infoError.isEmpty() ||
               (kept && server->infoError == QLatin1String("Error while getting license data")));
    return 0;
}
