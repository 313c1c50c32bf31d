// The health report: _parseHealth on any body, with properties of the lines it makes that do not
// depend on how it reads the report.
#include "FuzzSupport.h"
#include "monitor/ServerManager.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>

namespace {

QStringList linesOf(const QJsonDocument& doc)
{
    const auto server = makeServer();
    const QStringList stale{QStringLiteral("\x01stale")};
    server->recorderErrors = server->camerasErrors = server->hardwareErrors = stale;
    ServerManager::instance()->_parseHealth(doc, server);
    return server->recorderErrors + server->camerasErrors + server->hardwareErrors;
}

// The same document with every string emptied, its shape kept.
QJsonValue blanked(const QJsonValue& value)
{
    if (value.isString())
        return QString();
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& element : value.toArray())
            array.append(blanked(element));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = blanked(it.value());
        return object;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    QJsonDocument doc;
    const bool parsed = parseReply(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)), &doc);
    const QStringList lines = linesOf(doc);
    // A document the parser refuses leaves no line behind, not even an earlier one.
    if (!parsed)
        FUZZ_CHECK(lines.isEmpty());

    // Only array elements of the report become lines, one line at most each.
    int elements = 0;
    for (const QJsonValue& value : allValues(doc))
        elements += value.isArray() ? value.toArray().size() : 0;
    FUZZ_CHECK(lines.size() <= elements);

    // Every line is made from text of the report: without its text, a line holds only the fixed words of its kind.
    const QStringList frames{QString(), QStringLiteral("\"\" on stream \"\": "), QStringLiteral(" (): ")};
    for (const QString& line : linesOf(QJsonDocument(blanked(doc.object()).toObject())))
        FUZZ_CHECK(frames.contains(line));
    return 0;
}
