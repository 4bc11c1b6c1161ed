#include "framework/NetDevice.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>
#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

#include "framework/DeviceManager.h"
#include "support/ProcessThreads.h"

using namespace Ombrix;
using Circuit = std::unique_ptr<CircuitInterface>;

namespace {

int FreePort() {  // free a moment ago
    ACE_SOCK_Acceptor listener(ACE_INET_Addr(static_cast<u_short>(0)));
    ACE_INET_Addr address;
    listener.get_local_addr(address);
    listener.close();
    return address.get_port_number();
}

// The oldest client on a local port within ten seconds, or only a look; starts a listener.
Circuit Accept(int port, bool wait = true) {
    const ACE_Time_Value seconds(10);
    return DeviceManager::Instance().GetCircuit("/device/system/net", std::to_string(port), 0,
                                                nullptr, wait ? &seconds : nullptr);
}

// A connection to a local port, retried while its listener starts on its own thread.
Circuit Connect(int port) {
    Circuit circuit;
    int error = 1;
    for (int i = 0; i < 1000 && error != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 0 : 10));
        circuit = DeviceManager::Instance().GetCircuit(
            "/device/system/net", "127.0.0.1:" + std::to_string(port), 1, &error, nullptr);
    }
    return error == 0 ? std::move(circuit) : nullptr;  // a failed connect still gives a circuit
}

// The next bytes on the circuit as text, or the number Read returned when there were none.
std::string ReadText(CircuitInterface& circuit, const ACE_Time_Value& wait = ACE_Time_Value(10)) {
    char text[64];
    const int n = circuit.Read(text, sizeof text, &wait);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::to_string(n);
}

class NetDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add("/device/system/net", std::make_unique<NetDevice>());
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }
};

TEST_F(NetDeviceTest, ConnectionsCarryBytesBothWaysAndTagTheAcceptedPeer) {
    const int port = FreePort();
    EXPECT_EQ(Accept(port, false), nullptr);
    Circuit client = Connect(port);
    Circuit other = Connect(port);
    Circuit server = Accept(port + 65536);  // only the low 16 bits count
    ASSERT_TRUE(client && other && server && Accept(port));
    ASSERT_NE(server->GetInfo("/netcircuit/extinfo/ip"), nullptr);
    EXPECT_EQ(server->GetInfo("/netcircuit/extinfo/ip")->m_strText, "127.0.0.1");
    EXPECT_EQ(client->GetInfo("/netcircuit/extinfo/ip"), nullptr);  // only accepted ones
    char text[] = "ping";
    EXPECT_EQ(client->Write(text, 4, nullptr), 0);
    EXPECT_EQ(ReadText(*server), "ping");  // the oldest client's
    EXPECT_EQ(server->Write(text, 2, nullptr), 0);
    EXPECT_EQ(ReadText(*client), "pi");
    server.reset();  // closes the connection
    EXPECT_EQ(ReadText(*client), "0");
    // Writing on to a peer that has gone: no broken-pipe signal ends the process.
    std::vector<char> block(64 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(client->Write(block.data(), static_cast<int>(block.size()), nullptr), 0);
    }
}

TEST_F(NetDeviceTest, SimultaneousFirstRequestsForAPortShareOneListener) {
    const int before = testsupport::BaselineThreadCount();
    for (int round = 0; round < 10; ++round) {
        const int port = FreePort();
        std::atomic<int> ready{0}, served{0};
        std::vector<std::thread> callers;
        for (int i = 0; i < 6; ++i) {
            callers.emplace_back([&] {
                for (++ready; ready < 6;) {
                    std::this_thread::yield();
                }
                served += Accept(port) != nullptr;
            });
        }
        std::vector<Circuit> clients;
        for (int i = 0; i < 6; ++i) {
            clients.push_back(Connect(port));
        }
        for (auto& caller : callers) {
            caller.join();
        }
        ASSERT_EQ(served, 6) << "round " << round;
        EXPECT_EQ(testsupport::CountProcessThreads(), before + round + 1);  // one per port
    }
}

// A client that cannot be taken in (no descriptor left) makes every accept fail at once. The
// listener must not spin on it, and takes the client in once descriptors are free again.
TEST_F(NetDeviceTest, AListenerOutOfDescriptorsPausesInsteadOfSpinningAndTakesTheClientLater) {
    const int port = FreePort();
    Accept(port, false);  // starts the listener, which is up once a client got through
    ASSERT_TRUE(Connect(port) && Accept(port));
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    rlimit original{};
    ::getrlimit(RLIMIT_NOFILE, &original);
    const rlimit few{std::min<rlim_t>(original.rlim_cur, 512), original.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(client)) >= 0;) {
        fillers.push_back(fd);
    }
    ACE_INET_Addr to(static_cast<u_short>(port), "127.0.0.1");
    ASSERT_EQ(::connect(client, static_cast<sockaddr*>(to.get_addr()), to.get_size()), 0);
    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuUsed = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    for (const int fd : fillers) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_LT(cpuUsed, 0.3) << "seconds of processor time in one second";  // spinning: ~1
    Circuit accepted = Accept(port);
    ASSERT_NE(accepted, nullptr);
    ASSERT_EQ(::send(client, "late", 4, MSG_NOSIGNAL), 4);
    EXPECT_EQ(ReadText(*accepted), "late");
    ::close(client);
}

}  // namespace
