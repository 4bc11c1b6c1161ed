#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {

int ListenOnLoopback(unsigned short& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

ScriptedServer::ScriptedServer(ServerScript script) : m_script(std::move(script)) {
    m_listener = ListenOnLoopback(m_port);
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        ::close(m_listener);
        throw std::runtime_error("pipe failed");
    }
    m_thread = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
    const char stop = 's';
    (void)!::write(m_stopPipe[1], &stop, 1);
    m_thread.join();
    ::close(m_listener);
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
}

std::string ScriptedServer::Address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string ScriptedServer::Request() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_request;
}

// True when fd became readable within the time; false on the stop signal or time-out.
bool ScriptedServer::WaitReadable(int fd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeoutMs);
    return ready > 0 && (fds[1].revents & POLLIN) == 0 && (fds[0].revents & POLLIN) != 0;
}

void ScriptedServer::Serve() {
    if (!WaitReadable(m_listener, -1)) {
        return;
    }
    const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        return;
    }
    m_connected = true;
    // The request ends with a blank line; a client that sends less is answered after a while.
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(connection, 2000)) {
        char buffer[512];
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_request = request;
    }
    if (m_script.answer) {
        for (std::size_t i = 0; i < m_script.packets.size(); ++i) {
            if (i > 0) {
                pollfd stop{m_stopPipe[0], POLLIN, 0};
                if (::poll(&stop, 1, m_script.pauseMs) != 0) {
                    break;
                }
            }
            const std::string& packet = m_script.packets[i];
            (void)!::send(connection, packet.data(), packet.size(), MSG_NOSIGNAL);
        }
    } else {
        pollfd stop{m_stopPipe[0], POLLIN, 0};
        ::poll(&stop, 1, -1);
    }
    ::close(connection);
}

unsigned short UnusedPort() {
    unsigned short port = 0;
    ::close(ListenOnLoopback(port));
    return port;
}

}  // namespace testsupport
