#include "FuzzSupport.h"

#include "monitor/JsonReply.h"
#include "monitor/Server.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "quelvane-fuzz";
    static char* argv[] = {name, nullptr};
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    new QCoreApplication(argc, argv);
}

std::shared_ptr<Server> makeServer()
{
    return std::make_shared<Server>(QStringLiteral("Hall"), QStringLiteral("127.0.0.1"), 8080, QStringLiteral("admin"),
                                    QStringLiteral("secret"));
}

bool parseReply(const QByteArray& body, QJsonDocument* doc)
{
    if (!JsonReply::parse(body, doc))
        return false;
    // Qt writes every key once: a scan that found a repeat there would refuse good replies.
    FUZZ_CHECK(!JsonReply::hasDuplicateKeys(doc->toJson(QJsonDocument::Compact)));
    FUZZ_CHECK(!JsonReply::hasDuplicateKeys(doc->toJson(QJsonDocument::Indented)));
    return true;
}

QList<QJsonValue> allValues(const QJsonDocument& doc)
{
    QList<QJsonValue> values;
    QList<QJsonValue> pending{doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object())};
    while (!pending.isEmpty()) {
        const QJsonValue value = pending.takeLast();
        values << value;
        if (value.isArray()) {
            for (const QJsonValue& element : value.toArray())
                pending << element;
        } else if (value.isObject()) {
            for (const QJsonValue& member : value.toObject())
                pending << member;
        }
    }
    return values;
}
