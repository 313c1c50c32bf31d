#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QList>
#include <memory>

class Server;

// What every fuzz target needs before its first input: an application object for Qt's network and
// file classes, made once for the whole run.
void ensureApplication();

// A fresh record, as the server manager would create it.
std::shared_ptr<Server> makeServer();

// The body as the reply handlers read it: whether it parsed, as they decide it.
bool parseReply(const QByteArray& body, QJsonDocument* doc);

// Every value of the document, depth first: what the properties of a reader compare its results with.
QList<QJsonValue> allValues(const QJsonDocument& doc);

// A broken invariant stops the run with a crash the fuzzer records.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            qFatal("fuzz check failed: %s (%s:%d)", #condition, __FILE__, __LINE__);                                   \
    } while (false)
