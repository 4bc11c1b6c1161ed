// Every connection stays on 127.0.0.1, on ports the system picks.
#include "framework/NetDevice.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/Log.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kNetDevice = "/device/system/net";

// A plain socket owned by the test.
class Socket {
public:
    explicit Socket(int fd = -1) : m_fd(fd) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    int fd() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd;
};

sockaddr_in Loopback(int port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int PortOf(const Socket& socket) {
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A socket bound to a port of the system's choice; listening when asked.
Socket Bound(bool listening, in_addr_t host = htonl(INADDR_LOOPBACK)) {
    Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    address.sin_addr.s_addr = host;
    EXPECT_EQ(::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (listening) {
        EXPECT_EQ(::listen(socket.fd(), 8), 0);
    }
    return socket;
}

// A port that was free a moment ago.
int FreePort() {
    return PortOf(Bound(false));
}

// Connects to the port, retrying while the listener is still being set up.
Socket ConnectTo(int port) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
        const sockaddr_in address = Loopback(port);
        if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0) {
            return socket;
        }
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "nobody listens on port " << port;
            return Socket();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// What the peer sent next; "" when it closed (or nothing came within ten seconds).
std::string Receive(const Socket& socket) {
    timeval limit = {10, 0};
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[64];
    const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class NetDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add(kNetDevice, std::make_unique<NetDevice>());
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    std::unique_ptr<CircuitInterface> Request(const std::string& address, int mode, int* error,
                                              const ACE_Time_Value* timeout = nullptr) {
        return DeviceManager::Instance().GetCircuit(kNetDevice, address, mode, error, timeout);
    }

    // Waits up to ten seconds for the next client on the port.
    std::unique_ptr<CircuitInterface> NextClient(const std::string& port, int* error) {
        const ACE_Time_Value wait(10);
        return Request(port, 0, error, &wait);
    }

    // Turns the log on, in a scratch folder; returns the log's text so far through LogText.
    void UseLog() {
        Config::Instance().SetValue("/config/system/log", "true");
        Log::Instance();
    }
    std::string LogText() {
        const auto files = testsupport::ListFiles(dir.Path(), "log_");
        return files.empty() ? std::string() : testsupport::ReadFile(dir.File(files[0]));
    }

    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
};

TEST_F(NetDeviceTest, AnOutgoingCircuitCarriesBytesBothWays) {
    Socket server = Bound(true);
    int error = -1;
    auto circuit = Request("127.0.0.1:" + std::to_string(PortOf(server)), 1, &error);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
    Socket peer(::accept(server.fd(), nullptr, nullptr));

    char hello[] = "hello";
    EXPECT_EQ(circuit->Write(hello, 5, nullptr), 0);
    EXPECT_EQ(Receive(peer), "hello");

    ::send(peer.fd(), "world", 5, 0);
    char buffer[16] = {};
    const ACE_Time_Value wait(10);
    EXPECT_EQ(circuit->Read(buffer, sizeof buffer, &wait), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");

    // Nothing more comes within a short limit; then the peer closes.
    const ACE_Time_Value brief(0, 100000);
    EXPECT_EQ(circuit->Read(buffer, sizeof buffer, &brief), -1);
    peer.Close();
    EXPECT_EQ(circuit->Read(buffer, sizeof buffer, &wait), 0);
    EXPECT_EQ(circuit->GetInfo("/netcircuit/extinfo/ip"), nullptr);
}

TEST_F(NetDeviceTest, AFailedConnectStillGivesACircuitThatCannotRead) {
    int error = -1;
    auto circuit = Request("127.0.0.1:" + std::to_string(FreePort()), 1, &error);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 1);
    char buffer[8] = "abc";
    EXPECT_EQ(circuit->Write(buffer, 3, nullptr), 0);
    EXPECT_EQ(circuit->Read(buffer, sizeof buffer, nullptr), -1);

    // An empty host (the colon comes first) names nothing.
    error = -1;
    auto noHost = Request(":" + std::to_string(FreePort()), 1, &error);
    ASSERT_NE(noHost, nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(NetDeviceTest, OutgoingPortsOutOfRangeGiveErrorThreeAndNoCircuit) {
    for (const char* address :
         {"127.0.0.1:65535", "127.0.0.1:-1", "127.0.0.1:99999999999", "127.0.0.1:70000"}) {
        int error = -1;
        EXPECT_EQ(Request(address, 1, &error), nullptr) << address;
        EXPECT_EQ(error, 3) << address;
    }
    EXPECT_EQ(Request("127.0.0.1:65535", 1, nullptr), nullptr);

    // The last port in range and the default port are tried (whether or not anybody
    // listens there).
    for (const char* address : {"127.0.0.1:65534", "127.0.0.1"}) {
        int error = -1;
        EXPECT_NE(Request(address, 1, &error), nullptr) << address;
        EXPECT_NE(error, 3) << address;
    }
}

TEST_F(NetDeviceTest, WritingToAPeerThatHasGoneDoesNotEndTheProcess) {
    Socket server = Bound(true);
    auto circuit = Request("127.0.0.1:" + std::to_string(PortOf(server)), 1, nullptr);
    ASSERT_NE(circuit, nullptr);
    Socket(::accept(server.fd(), nullptr, nullptr)).Close();
    std::vector<char> block(64 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(circuit->Write(block.data(), static_cast<int>(block.size()), nullptr), 0);
    }
    EXPECT_EQ(circuit->Write(nullptr, 4, nullptr), 1);
    EXPECT_EQ(circuit->Write(block.data(), -1, nullptr), 1);
}

TEST_F(NetDeviceTest, IncomingWithoutATimeLimitOnlyLooksAtWhatIsQueued) {
    const std::string port = std::to_string(FreePort());
    int error = -1;
    const auto start = Clock::now();
    EXPECT_EQ(Request(port, 0, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_LT(SecondsSince(start), 5.0);

    Socket client = ConnectTo(std::stoi(port));
    std::unique_ptr<CircuitInterface> circuit;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!circuit && Clock::now() < deadline) {
        circuit = Request(port, 0, &error);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);

    _InfoItem* peer = circuit->GetInfo("/netcircuit/extinfo/ip");
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->m_strText, "127.0.0.1");
    EXPECT_EQ(peer->m_data.m_nLength, 0);

    ::send(client.fd(), "ping", 4, 0);
    char buffer[8] = {};
    const ACE_Time_Value wait(10);
    EXPECT_EQ(circuit->Read(buffer, sizeof buffer, &wait), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    char pong[] = "pong";
    EXPECT_EQ(circuit->Write(pong, 4, nullptr), 0);
    EXPECT_EQ(Receive(client), "pong");

    // Deleting the circuit closes the connection.
    circuit.reset();
    EXPECT_EQ(Receive(client), "");
}

TEST_F(NetDeviceTest, ATimedOutRequestLeavesTheListenerForTheNextRequest) {
    const int port = FreePort();
    int error = -1;
    const ACE_Time_Value brief(0, 200000);
    const auto start = Clock::now();
    EXPECT_EQ(Request(std::to_string(port), 0, &error, &brief), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_GE(SecondsSince(start), 0.15);

    Socket first = ConnectTo(port);
    Socket second = ConnectTo(port);
    auto a = NextClient(std::to_string(port), &error);
    EXPECT_EQ(error, 0);
    auto b = NextClient(std::to_string(port), &error);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // Oldest first.
    ::send(first.fd(), "1", 1, 0);
    char byte = 0;
    const ACE_Time_Value wait(10);
    EXPECT_EQ(a->Read(&byte, 1, &wait), 1);
    EXPECT_EQ(byte, '1');
}

TEST_F(NetDeviceTest, IncomingPortsAreReducedToTheirLow16Bits) {
    int error = -1;
    EXPECT_EQ(Request("65535", 0, &error), nullptr);
    EXPECT_EQ(error, 3);
    error = -1;
    EXPECT_EQ(Request("-1", 0, &error), nullptr);
    EXPECT_EQ(error, 3);

    const int port = FreePort();
    const std::string wide = std::to_string(port + 65536);
    Request(wide, 0, &error);
    Socket client = ConnectTo(port);
    auto circuit = NextClient(wide, &error);
    EXPECT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
}

TEST_F(NetDeviceTest, SimultaneousFirstRequestsForAPortShareOneListener) {
    UseLog();
    const int before = testsupport::BaselineThreadCount();
    constexpr int kCallers = 6;
    constexpr int kPorts = 10;
    for (int round = 0; round < kPorts; ++round) {
        const std::string port = std::to_string(FreePort());
        std::atomic<int> ready{0};
        std::atomic<int> served{0};
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; ++i) {
            callers.emplace_back([&] {
                ++ready;
                while (ready < kCallers) {
                    std::this_thread::yield();
                }
                int error = -1;
                if (NextClient(port, &error) != nullptr && error == 0) {
                    ++served;
                }
            });
        }
        std::vector<Socket> clients;
        for (int i = 0; i < kCallers; ++i) {
            clients.push_back(ConnectTo(std::stoi(port)));
        }
        for (auto& caller : callers) {
            caller.join();
        }
        ASSERT_EQ(served, kCallers) << "round " << round;
        // One accept thread per port, all still running.
        EXPECT_EQ(testsupport::CountProcessThreads(), before + round + 1);
    }
    EXPECT_EQ(LogText().find("acceptor.open fail"), std::string::npos) << LogText();
}

TEST_F(NetDeviceTest, APortThatCannotBeOpenedIsLoggedAndNeverAnswers) {
    UseLog();
    Socket taken = Bound(true, htonl(INADDR_ANY));
    const std::string port = std::to_string(PortOf(taken));
    Request(port, 0, nullptr);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (LogText().find("acceptor.open fail") == std::string::npos && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(LogText().find("error:acceptor.open fail\n"), std::string::npos);
    int error = -1;
    const ACE_Time_Value brief(0, 100000);
    EXPECT_EQ(Request(port, 0, &error, &brief), nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(NetDeviceTest, RemovingTheDeviceStopsWaitingListenersAndClosesUnclaimedClients) {
    DeviceManager::DestroyInstance();
    const int before = testsupport::BaselineThreadCount();
    DeviceManager::Instance().Add(kNetDevice, std::make_unique<NetDevice>());
    const int port = FreePort();
    Request(std::to_string(port), 0, nullptr);
    Request(std::to_string(FreePort()), 0, nullptr);
    Socket unclaimed = ConnectTo(port);
    // Let the accept thread queue the connection.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(testsupport::CountProcessThreads(), before + 2);

    const auto start = Clock::now();
    DeviceManager::Instance().Remove(kNetDevice);
    EXPECT_LT(SecondsSince(start), 10.0);
    EXPECT_EQ(testsupport::CountProcessThreads(), before);
    EXPECT_EQ(Receive(unclaimed), "");
}

}  // namespace
