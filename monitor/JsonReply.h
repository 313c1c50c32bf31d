#pragma once

#include <QByteArray>
#include <QJsonDocument>

// Reading the body of a reply from a server that may be hostile.
namespace JsonReply {

// Qt's JSON parser leaks the earlier value of a key given twice in one object, so a reply made of
// repeated keys would grow the process by hundreds of bytes per key at every poll. Such a body is
// found by a linear scan before it reaches the parser.
bool hasDuplicateKeys(const QByteArray& body);

// QJsonDocument::fromJson, refusing a body with a duplicate key as a parse error. Returns whether it parsed.
bool parse(const QByteArray& body, QJsonDocument* doc);

} // namespace JsonReply
