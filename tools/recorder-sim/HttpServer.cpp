#include "tools/recorder-sim/HttpServer.h"

#include "tools/recorder-sim/ConnectionStream.h"

namespace {

thread_local ConnectionStream* servedStream = nullptr;

} // namespace

ConnectionStream* HttpServer::currentStream()
{
    return servedStream;
}

void HttpServer::shutdown()
{
    stopping = true;
    stop();
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    const int timeoutMs = static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000);
    ConnectionStream stream(sock, timeoutMs, stopping);
    servedStream = &stream;
    // A body sent as the scenario gives it: no compression even when the client offers it.
    const auto identityEncoding = [](httplib::Request& request) { request.headers.erase("Accept-Encoding"); };
    bool ok = true;
    for (size_t left = keep_alive_max_count_; ok && left > 0; --left) {
        if (!stream.waitReadable(static_cast<int>(keep_alive_timeout_sec_ * 1000)))
            break;
        stream.startRequest();
        bool closed = false;
        ok = process_request(stream, left == 1, closed, identityEncoding) && !closed;
    }
    servedStream = nullptr;
    return ok;
}
