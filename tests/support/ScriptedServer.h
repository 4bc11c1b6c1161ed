// A TCP server on 127.0.0.1 for tests of clients: it takes one connection, reads the
// client's request and answers with scripted packets, or not at all.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A socket listening on 127.0.0.1, on a port the system chooses (in port).
inline int ListenOnLoopback(unsigned short& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A port on 127.0.0.1 on which nothing listens (it was just bound and released).
inline unsigned short UnusedPort() {
    unsigned short port = 0;
    ::close(ListenOnLoopback(port));
    return port;
}

struct ServerScript {
    std::vector<std::string> packets;  // sent pauseMs apart; then the server closes
    int pauseMs = 0;
    bool answer = true;  // false: then holds the connection until the server is destroyed
};

class ScriptedServer {
public:
    explicit ScriptedServer(ServerScript script)
        : m_script(std::move(script)), m_listener(ListenOnLoopback(m_port)) {
        if (::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        m_thread = std::thread([this] { Serve(); });
    }
    // Stops at once, whatever the server was doing.
    ~ScriptedServer() {
        (void)!::write(m_stopPipe[1], "s", 1);
        m_thread.join();
        for (const int fd : {m_listener, m_stopPipe[0], m_stopPipe[1]}) {
            ::close(fd);
        }
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // What the client sent before the server answered, up to its blank line.
    std::string Request() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_request;
    }
    bool Connected() const { return m_connected; }

private:
    // False on time-out or once the server is stopped.
    bool WaitReadable(int fd, int timeoutMs) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        return ::poll(fds, 2, timeoutMs) > 0 && fds[1].revents == 0 && fds[0].revents & POLLIN;
    }

    void Serve() {
        const int connection = WaitReadable(m_listener, -1)
                                   ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)
                                   : -1;
        if (connection < 0) {
            return;
        }
        m_connected = true;
        // A client that never sends the blank line is answered after a while.
        std::string request;
        char buffer[512];
        for (ssize_t n; request.find("\r\n\r\n") == std::string::npos &&
                        WaitReadable(connection, 2000) &&
                        (n = ::recv(connection, buffer, sizeof buffer, 0)) > 0;) {
            request.append(buffer, static_cast<std::size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_request = request;
        }
        // The stop pipe stays empty until the destructor: the pauses and the silence end there.
        pollfd stop{m_stopPipe[0], POLLIN, 0};
        for (std::size_t i = 0; i < m_script.packets.size(); ++i) {
            const std::string& packet = m_script.packets[i];
            if (i > 0 && ::poll(&stop, 1, m_script.pauseMs) != 0) {
                break;
            }
            (void)!::send(connection, packet.data(), packet.size(), MSG_NOSIGNAL);
        }
        if (!m_script.answer) {
            ::poll(&stop, 1, -1);
        }
        ::close(connection);
    }

    ServerScript m_script;
    unsigned short m_port = 0;
    int m_listener = -1;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_lock;
    std::string m_request;
    std::thread m_thread;
};

}  // namespace testsupport
