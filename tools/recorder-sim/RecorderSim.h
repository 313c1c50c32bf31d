#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

// One request as the simulator received it, in arrival order.
struct RecordedRequest
{
    QString method;
    QString path;                                 // as sent on the request line, percent-encoding kept
    QList<QPair<QByteArray, QByteArray>> headers; // in the order received
    qint64 receivedMs = 0;                        // local clock, ms since the epoch
    QString login;                                // the recorder the request was routed to, empty when none matched
    int status = 0;    // the status the simulator answered with (0 when it hangs and never answers)
    QString authError; // why the WSSE check failed, empty when it passed or did not apply

    QByteArray header(const QByteArray& name) const; // case-insensitive, first match
};

// A recording-server simulator speaking the monitored servers' HTTP JSON API on 127.0.0.1.
//
// Scenario document:
// {
//   "recorders": [
//     {
//       "login": "admin",                 // routes "/api/v1.1/users/<login>/auth" and the X-WSSE Username
//       "password": "secret",
//       "salt": "$2b$04$...",             // bcrypt setting string handed out in the auth reply
//       "dateSkewSeconds": 0,             // server clock minus real clock; null: no "Date" header
//       "auth": { ... },                  // auth reply document; default {"auth":[{"type":"wsse","salt":<salt>}]}
//       "rejectReplayedNonces": false,    // answer 401 "Replayed nonce" to a nonce this recorder saw before
//       "endpoints": {                    // "auth", "health", "sysinfo", "license"
//         "health": {
//           "status": 200,                // default 200
//           "json": { ... },              // body as JSON (any JSON value) ...
//           "raw": "text",                // ... or as raw text
//           "bodyMiB": 0,                 // ... or a body of N MiB of filler
//           "headers": {"Date": "..."},  // extra or replacing headers; null removes one
//           "delayMs": 0,                 // wait before answering
//           "hang": false,                // accept and never answer
//           "dripBytesPerSecond": 0,      // send the body that many bytes a second
//           "resetAfterBytes": -1,        // close the connection after that many body bytes
//           "rawResponse": "HTTP/1.1 ...",// these exact bytes (one Latin-1 character each) as the
//                                         // whole response, then close
//           "headerBytes": 0,             // about that many bytes of extra headers
//           "noContentLength": "chunked"  // or "close": a body framed without Content-Length
//         }
//       }
//     }
//   ]
// }
// Authenticated endpoints check the WSSE headers as a real server would and answer
// 401 {"error": "..."} when a check fails.
class RecorderSim
{
public:
    RecorderSim();
    ~RecorderSim();
    RecorderSim(const RecorderSim&) = delete;
    RecorderSim& operator=(const RecorderSim&) = delete;

    bool loadScenario(const QJsonObject& scenario, QString* error = nullptr);
    bool loadScenarioFile(const QString& path, QString* error = nullptr);

    // Listens on 127.0.0.1 (port 0: any free port) and serves on background threads.
    bool start(quint16 port = 0);
    void stop();
    quint16 port() const;

    // Replaces one endpoint reply of one recorder while running.
    void setEndpoint(const QString& login, const QString& endpoint, const QJsonObject& reply);
    // Adds or replaces a recorder while running (same object as in "recorders").
    void setRecorder(const QJsonObject& recorder);

    QList<RecordedRequest> requests() const;
    void clearRequests();
    // Waits (without an event loop) until at least `count` requests have arrived.
    bool waitForRequests(int count, int timeoutMs) const;

    // Hashes every recorder's password now, on every core, so that no request waits for bcrypt. Hashes
    // found in cachePath are taken from there, and the file is written back with all of them.
    void hashAll(const QString& cachePath = QString());

    // The bcrypt string of password and setting, or the two-character failure token.
    static QByteArray bcrypt(const QByteArray& password, const QByteArray& setting);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
