#pragma once

#include <atomic>
#include <httplib.h>
#include <string>

// One accepted connection as cpp-httplib reads and writes it. It keeps the bytes of the current
// request as they were consumed (so headers can be recorded in arrival order), lets a handler see
// whether the client went away, and gives up on every wait once the server is stopping.
class ConnectionStream : public httplib::Stream
{
public:
    ConnectionStream(socket_t sock, int timeoutMs, const std::atomic<bool>& stopping);
    ~ConnectionStream() override;
    ConnectionStream(const ConnectionStream&) = delete;
    ConnectionStream& operator=(const ConnectionStream&) = delete;

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    using httplib::Stream::write;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override;

    // Waits for the next request of a kept-alive connection.
    bool waitReadable(int timeoutMs) const;
    // True once the client closed its side (pending unread data counts as alive).
    bool peerClosed() const;

    const std::string& consumed() const { return consumedBytes; }
    void startRequest() { consumedBytes.clear(); }
    // Every later write fails, so a request that hung is never answered.
    void mute() { muted = true; }

private:
    bool waitFor(short events, int timeoutMs) const;

    socket_t sock;
    int timeoutMs;
    const std::atomic<bool>& stopping;
    std::string buffer;
    size_t bufferPos = 0;
    std::string consumedBytes;
    bool muted = false;
};
