#include "tools/recorder-sim/ConnectionStream.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Waits are cut into slices so that a stopping server is noticed quickly.
constexpr int sliceMs = 50;
// Only the request head is of interest; a large body is not kept whole.
constexpr size_t maxConsumed = 64 * 1024;

int pollOne(socket_t sock, short events, int timeoutMs)
{
#ifdef _WIN32
    WSAPOLLFD fd{sock, events, 0};
    return WSAPoll(&fd, 1, timeoutMs);
#else
    pollfd fd{sock, events, 0};
    return ::poll(&fd, 1, timeoutMs);
#endif
}

void closeSocket(socket_t sock)
{
#ifdef _WIN32
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
#else
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
#endif
}

bool wouldBlock()
{
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

void describe(const sockaddr_storage& address, std::string& ip, int& port)
{
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

} // namespace

ConnectionStream::ConnectionStream(socket_t sock, int timeoutMs, const std::atomic<bool>& stopping)
    : sock(sock), timeoutMs(timeoutMs), stopping(stopping)
{
}

ConnectionStream::~ConnectionStream()
{
    closeSocket(sock);
}

bool ConnectionStream::waitFor(short events, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stopping) {
        const int ready = pollOne(sock, events, sliceMs);
        if (ready != 0)
            return ready > 0;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return false;
}

bool ConnectionStream::waitReadable(int timeoutMs) const
{
    return bufferPos < buffer.size() || waitFor(POLLIN, timeoutMs);
}

bool ConnectionStream::is_readable() const
{
    return waitReadable(timeoutMs);
}

bool ConnectionStream::is_writable() const
{
    return !muted && waitFor(POLLOUT, timeoutMs);
}

ssize_t ConnectionStream::read(char* ptr, size_t size)
{
    if (bufferPos == buffer.size()) {
        if (!waitFor(POLLIN, timeoutMs))
            return -1;
        buffer.resize(4096);
        const auto received = ::recv(sock, &buffer[0], static_cast<int>(buffer.size()), 0);
        if (received <= 0) {
            buffer.clear();
            bufferPos = 0;
            return received;
        }
        buffer.resize(static_cast<size_t>(received));
        bufferPos = 0;
    }
    const size_t count = std::min(size, buffer.size() - bufferPos);
    std::copy_n(buffer.data() + bufferPos, count, ptr);
    if (consumedBytes.size() < maxConsumed)
        consumedBytes.append(ptr, count);
    bufferPos += count;
    return static_cast<ssize_t>(count);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size)
{
#ifdef MSG_NOSIGNAL
    constexpr int flags = MSG_NOSIGNAL;
#else
    constexpr int flags = 0;
#endif
    size_t written = 0;
    while (written < size) {
        if (muted || !waitFor(POLLOUT, timeoutMs))
            return -1;
        const int chunk = static_cast<int>(std::min<size_t>(size - written, INT_MAX));
        const auto sent = ::send(sock, ptr + written, chunk, flags);
        if (sent < 0 && !wouldBlock())
            return -1;
        if (sent > 0)
            written += static_cast<size_t>(sent);
    }
    return static_cast<ssize_t>(size);
}

bool ConnectionStream::peerClosed() const
{
    if (bufferPos < buffer.size() || pollOne(sock, POLLIN, 0) <= 0)
        return false;
    char byte;
    const auto peeked = ::recv(sock, &byte, 1, MSG_PEEK);
    return peeked == 0 || (peeked < 0 && !wouldBlock());
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        describe(address, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        describe(address, ip, port);
}

socket_t ConnectionStream::socket() const
{
    return sock;
}
