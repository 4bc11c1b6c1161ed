// A TCP socket listening on 127.0.0.1, for tests of clients. A client can connect and send
// its request at once; the test takes the connection when it likes and answers, or not.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace testsupport {

class LoopbackServer {
public:
    LoopbackServer() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackServer() {
        Close();
        ::close(m_listener);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Takes the connection and reads the request to its blank line, each within timeoutMs.
    const std::string& Request(int timeoutMs) {
        pollfd ready{m_listener, POLLIN, 0};
        if (m_connection < 0 && ::poll(&ready, 1, timeoutMs) > 0) {
            m_connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        ready.fd = m_connection;
        char buffer[512];
        for (ssize_t n; m_connection >= 0 && m_request.find("\r\n\r\n") == std::string::npos &&
                        ::poll(&ready, 1, timeoutMs) > 0 &&
                        (n = ::recv(m_connection, buffer, sizeof buffer, 0)) > 0;) {
            m_request.append(buffer, static_cast<std::size_t>(n));
        }
        return m_request;
    }
    bool Connected() {
        Request(0);
        return m_connection >= 0;
    }
    void Send(const std::string& bytes) {
        (void)!::send(m_connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void Close() {
        ::close(m_connection);
        m_connection = -1;
    }

private:
    int m_listener;
    int m_connection = -1;
    unsigned short m_port = 0;
    std::string m_request;
};

// An address on 127.0.0.1 on which nothing listens (it was just bound and released).
inline std::string UnusedAddress() {
    return LoopbackServer().Address();
}

}  // namespace testsupport
