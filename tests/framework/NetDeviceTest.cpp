// Both ends of every connection are circuits of the device: outgoing ones to 127.0.0.1 and
// incoming ones on ports the system picked.
#include "framework/NetDevice.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/Log.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;
using Circuit = std::unique_ptr<CircuitInterface>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kNetDevice = "/device/system/net";

// A port of the system's choice, held open (so taken) until the listener is closed.
int TakePort(ACE_SOCK_Acceptor& listener) {
    ACE_INET_Addr address(static_cast<u_short>(0));
    listener.open(address);
    listener.get_local_addr(address);
    return address.get_port_number();
}

int FreePort() {  // free a moment ago
    ACE_SOCK_Acceptor listener;
    const int port = TakePort(listener);
    listener.close();
    return port;
}

// The next bytes on the circuit as text, or the number Read returned when there were none.
std::string ReadText(CircuitInterface& circuit, const ACE_Time_Value& wait = ACE_Time_Value(10)) {
    char text[64];
    const int n = circuit.Read(text, sizeof text, &wait);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::to_string(n);
}

int Send(CircuitInterface& circuit, std::string text) {
    return circuit.Write(text.data(), static_cast<int>(text.size()), nullptr);
}

class NetDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add(kNetDevice, std::make_unique<NetDevice>());
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    Circuit Request(const std::string& address, int mode, int* error = nullptr,
                    const ACE_Time_Value* timeout = nullptr) {
        return DeviceManager::Instance().GetCircuit(kNetDevice, address, mode, error, timeout);
    }
    Circuit NextClient(const std::string& port, int* error = nullptr) {
        const ACE_Time_Value wait(10);
        return Request(port, 0, error, &wait);
    }
    // Connects to a local port, retrying while its listener starts on its own thread.
    Circuit Connect(int port) {
        int error = 1;
        Circuit circuit;
        for (int i = 0; i < 1000 && error != 0; ++i) {
            std::this_thread::sleep_for(milliseconds(i == 0 ? 0 : 10));
            circuit = Request("127.0.0.1:" + std::to_string(port), 1, &error);
        }
        EXPECT_EQ(error, 0) << "nobody listens on " << port;
        return circuit;
    }
    std::string LogText() {
        const auto files = testsupport::ListFiles(dir.Path(), "log_");
        return files.empty() ? std::string() : testsupport::ReadFile(dir.File(files[0]));
    }

    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
};

TEST_F(NetDeviceTest, ConnectionsCarryBytesBothWaysAndTagTheAcceptedPeer) {
    const int port = FreePort();
    const std::string wide = std::to_string(port + 65536);  // only the low 16 bits count
    int error = -1;
    EXPECT_EQ(Request(std::to_string(port), 0, &error), nullptr);  // no time limit: a look
    EXPECT_EQ(error, 1);
    const ACE_Time_Value brief(0, 200000);
    const auto start = Clock::now();
    EXPECT_EQ(Request(wide, 0, &error, &brief), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_GE(Clock::now() - start, milliseconds(150));

    Circuit client = Connect(port);
    Circuit other = Connect(port);
    Circuit server = NextClient(wide, &error);  // the oldest client first
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_NE(NextClient(wide), nullptr);
    ASSERT_NE(server->GetInfo("/netcircuit/extinfo/ip"), nullptr);
    EXPECT_EQ(server->GetInfo("/netcircuit/extinfo/ip")->m_strText, "127.0.0.1");
    EXPECT_EQ(client->GetInfo("/netcircuit/extinfo/ip"), nullptr);

    EXPECT_EQ(Send(*client, "ping"), 0);
    EXPECT_EQ(ReadText(*server), "ping");
    EXPECT_EQ(Send(*server, "pong"), 0);
    EXPECT_EQ(ReadText(*client), "pong");
    EXPECT_EQ(ReadText(*client, ACE_Time_Value(0, 100000)), "-1");  // nothing more in time

    server.reset();  // closes the connection
    EXPECT_EQ(ReadText(*client), "0");
    // Writing on to a peer that has gone: no broken-pipe signal ends the process.
    std::vector<char> block(64 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(client->Write(block.data(), static_cast<int>(block.size()), nullptr), 0);
    }
    EXPECT_EQ(client->Write(nullptr, 4, nullptr), 1);
    EXPECT_EQ(client->Write(block.data(), -1, nullptr), 1);
}

TEST_F(NetDeviceTest, BadPortsGiveNoCircuitAndAFailedConnectACircuitThatCannotRead) {
    for (const char* address : {"127.0.0.1:65535", "127.0.0.1:-1", "127.0.0.1:99999999999",
                                "127.0.0.1:70000", "65535", "-1"}) {
        int error = -1;
        EXPECT_EQ(Request(address, address[0] == '1' ? 1 : 0, &error), nullptr) << address;
        EXPECT_EQ(error, 3) << address;
    }
    for (const char* address : {"127.0.0.1:65534", "127.0.0.1"}) {  // 65534 and 80 are tried
        int error = -1;
        EXPECT_NE(Request(address, 1, &error), nullptr) << address;
        EXPECT_NE(error, 3) << address;
    }
    for (const std::string& address :
         {"127.0.0.1:" + std::to_string(FreePort()), ":" + std::to_string(FreePort())}) {
        int error = -1;
        Circuit circuit = Request(address, 1, &error);
        ASSERT_NE(circuit, nullptr) << address;
        EXPECT_EQ(error, 1) << address;
        const auto start = Clock::now();
        EXPECT_EQ(Send(*circuit, "abc"), 0);
        EXPECT_EQ(ReadText(*circuit), "-1");
        // At once, not after the ten seconds the read would wait for data.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    }
}

TEST_F(NetDeviceTest, SimultaneousFirstRequestsForAPortShareOneListener) {
    Config::Instance().SetValue("/config/system/log", "true");
    Log::Instance();
    const int before = testsupport::BaselineThreadCount();
    constexpr int kCallers = 6;
    for (int round = 0; round < 10; ++round) {
        const int port = FreePort();
        std::atomic<int> ready{0}, served{0};
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; ++i) {
            callers.emplace_back([&] {
                for (++ready; ready < kCallers;) {
                    std::this_thread::yield();
                }
                served += NextClient(std::to_string(port)) != nullptr;
            });
        }
        std::vector<Circuit> clients;
        for (int i = 0; i < kCallers; ++i) {
            clients.push_back(Connect(port));
        }
        for (auto& caller : callers) {
            caller.join();
        }
        ASSERT_EQ(served, kCallers) << "round " << round;
        EXPECT_EQ(testsupport::CountProcessThreads(), before + round + 1);  // one per port
    }
    EXPECT_EQ(LogText(), "");

    // A port that cannot be opened is logged, and nobody is ever taken in on it.
    ACE_SOCK_Acceptor taken;
    const std::string port = std::to_string(TakePort(taken));
    Request(port, 0);
    for (int i = 0; i < 1000 && LogText().empty(); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_NE(LogText().find("error:acceptor.open fail\n"), std::string::npos) << LogText();
    int error = -1;
    const ACE_Time_Value brief(0, 100000);
    EXPECT_EQ(Request(port, 0, &error, &brief), nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(NetDeviceTest, RemovingTheDeviceClosesClientsNobodyClaimed) {
    const int port = FreePort();
    Request(std::to_string(port), 0);
    Circuit unclaimed = Connect(port);
    std::this_thread::sleep_for(milliseconds(100));  // let it be queued
    DeviceManager::Instance().Remove(kNetDevice);
    EXPECT_EQ(ReadText(*unclaimed), "0");
}

// A waiting client that cannot be taken in (the process has no descriptor left for it) makes
// every accept fail at once. The listener must not spin on it, and takes the client in once
// descriptors are free again.
TEST_F(NetDeviceTest, AListenerOutOfDescriptorsPausesInsteadOfSpinningAndTakesTheClientLater) {
    const int port = FreePort();
    Request(std::to_string(port), 0);  // starts the listener
    Connect(port);                     // which is up once this one got through
    ASSERT_NE(NextClient(std::to_string(port)), nullptr);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit few = original;
    few.rlim_cur = std::min<rlim_t>(original.rlim_cur, 512);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(client)) >= 0;) {
        fillers.push_back(fd);
    }
    ASSERT_EQ(errno, EMFILE);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuUsed = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    for (const int fd : fillers) {
        ::close(fd);
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
    EXPECT_LT(cpuUsed, 0.3) << "seconds of processor time in one second";  // spinning: ~1
    Circuit accepted = NextClient(std::to_string(port));
    ASSERT_NE(accepted, nullptr);
    ASSERT_EQ(::send(client, "late", 4, MSG_NOSIGNAL), 4);
    EXPECT_EQ(ReadText(*accepted), "late");
    ::close(client);
}

}  // namespace
