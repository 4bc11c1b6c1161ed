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
    // Sent one after the other, with pauseMs between two packets; the connection is closed
    // after the last one. Ignored when answer is false.
    std::vector<std::string> packets;
    int pauseMs = 0;
    // False: the server reads the request and then holds the connection without a word
    // until it is destroyed.
    bool answer = true;
};

class ScriptedServer {
public:
    // Listens on a port that the system chooses.
    explicit ScriptedServer(ServerScript script);
    // Stops at once, whatever it was doing, and closes every connection.
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // "127.0.0.1:<port>".
    std::string Address() const;
    // What the client sent before the server answered (the request up to its blank line).
    std::string Request() const;
    // Whether a client connected.
    bool Connected() const { return m_connected; }

private:
    void Serve();
    bool WaitReadable(int fd, int timeoutMs);

    ServerScript m_script;
    int m_listener = -1;
    int m_stopPipe[2] = {-1, -1};
    unsigned short m_port = 0;
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_lock;
    std::string m_request;
    std::thread m_thread;
};

// A port on 127.0.0.1 on which nothing listens (it was just bound and released).
unsigned short UnusedPort();

}  // namespace testsupport
