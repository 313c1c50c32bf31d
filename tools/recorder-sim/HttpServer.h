#pragma once

#include <atomic>
#include <httplib.h>

class ConnectionStream;

// cpp-httplib's server with its own connection loop: handlers can reach the raw connection they
// serve, bodies are never compressed, and stopping ends idle, reading and writing connections at once.
class HttpServer : public httplib::Server
{
public:
    // The connection the calling handler thread is serving.
    static ConnectionStream* currentStream();

    void shutdown();

private:
    bool process_and_close_socket(socket_t sock) override;

    std::atomic<bool> stopping{false};
};
