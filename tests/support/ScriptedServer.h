// A TCP server on 127.0.0.1 for tests of clients: it takes one connection, reads the
// client's request and answers with scripted packets, or not at all.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ServerScript {
    std::vector<std::string> packets;  // sent pauseMs apart; then the server closes
    int pauseMs = 0;
    bool answer = true;  // false: the server holds the connection without a word
};

class ScriptedServer {
public:
    explicit ScriptedServer(ServerScript script);  // on a port the system chooses
    ~ScriptedServer();                             // stops at once, whatever it was doing
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // What the client sent before the server answered, up to its blank line.
    std::string Request() const;
    bool Connected() const { return m_connected; }

private:
    void Serve();
    bool WaitReadable(int fd, int timeoutMs);  // false on time-out or when stopped

    ServerScript m_script;
    unsigned short m_port = 0;
    int m_listener = -1;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_lock;
    std::string m_request;
    std::thread m_thread;
};

// A port on 127.0.0.1 on which nothing listens (it was just bound and released).
unsigned short UnusedPort();

}  // namespace testsupport
