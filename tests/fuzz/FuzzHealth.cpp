// The health report: _parseHealth on any body that parses, with the line counts checked against
// the document.
#include "FuzzSupport.h"
#include "monitor/ServerManager.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    QJsonDocument doc;
    if (!parseReply(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)), &doc))
        return 0;

    const auto server = makeServer();
    server->recorderErrors = QStringList{QStringLiteral("stale")};
    ServerManager::instance()->_parseHealth(doc, server);

    const QJsonObject root = doc.object();
    const QJsonObject health = root.value(QStringLiteral("health")).toObject();
    const QJsonObject details = root.value(QStringLiteral("errorDetails")).toObject();
    const auto lines = [&](const char* key) {
        return health.value(QLatin1String(key)) == QJsonValue(true)
                   ? 0
                   : details.value(QLatin1String(key)).toArray().size();
    };
    FUZZ_CHECK(server->recorderErrors.size() == lines("recorder"));
    FUZZ_CHECK(server->camerasErrors.size() == lines("cameras"));
    if (health.value(QStringLiteral("hardware")) == QJsonValue(true))
        FUZZ_CHECK(server->hardwareErrors.isEmpty());
    FUZZ_CHECK(server->recorderOk() == server->recorderErrors.isEmpty());
    return 0;
}
