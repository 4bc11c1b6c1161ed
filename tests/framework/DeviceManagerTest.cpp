#include "framework/DeviceManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Ombrix;

namespace {

// A device that counts its life and can hold CreateCircuit until released.
struct FakeDevice : PlainBase, DevInterface {
    explicit FakeDevice(std::atomic<int>* destroyed) : destroyed(destroyed) {}
    ~FakeDevice() override { ++*destroyed; }

    struct Circuit : PlainBase, CircuitInterface {
        explicit Circuit(FakeDevice* device) : device(device), share(device) {}
        int Write(void*, int, const ACE_Time_Value*) override { return device->writes++, 0; }
        FakeDevice* device;
        DeviceShare share;
    };

    std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode, int* error,
                                                    const ACE_Time_Value*) override {
        lastAddress = address;
        lastMode = mode;
        if (gated) {
            std::unique_lock<std::mutex> lock(gate);
            entered = true;
            wake.notify_all();
            wake.wait(lock, [this] { return opened; });
        }
        if (error != nullptr) {
            *error = 0;
        }
        return std::make_unique<Circuit>(this);
    }

    std::atomic<int>* destroyed;
    std::string lastAddress;
    int lastMode = -1;
    int writes = 0;
    bool gated = false;
    std::mutex gate;
    std::condition_variable wake;
    bool entered = false;
    bool opened = false;
};

class DeviceManagerTest : public ::testing::Test {
protected:
    void TearDown() override { DeviceManager::DestroyInstance(); }
    std::atomic<int> destroyed{0};
};

TEST_F(DeviceManagerTest, CircuitsComeFromTheNamedDevice) {
    auto device = std::make_unique<FakeDevice>(&destroyed);
    FakeDevice* raw = device.get();
    ASSERT_EQ(DeviceManager::Instance().Add("/device/system/db", std::move(device)), 0);

    int error = -1;
    auto circuit =
        DeviceManager::Instance().GetCircuit("/device/system/db", "/tmp/x.db", 0, &error, nullptr);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(raw->lastAddress, "/tmp/x.db");
    EXPECT_EQ(raw->lastMode, 0);
    EXPECT_EQ(circuit->Write(nullptr, 0, nullptr), 0);
    EXPECT_EQ(raw->writes, 1);
}

TEST_F(DeviceManagerTest, UnknownOrEmptyNamesGiveNoCircuitAndErrorOne) {
    DeviceManager::Instance().Add("/device/system/db", std::make_unique<FakeDevice>(&destroyed));
    int error = -1;
    EXPECT_EQ(DeviceManager::Instance().GetCircuit("", "a", 0, &error, nullptr), nullptr);
    EXPECT_EQ(error, 1);
    error = -1;
    EXPECT_EQ(DeviceManager::Instance().GetCircuit("/device/none", "a", 0, &error, nullptr),
              nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(DeviceManager::Instance().GetCircuit("/device/none", "a", 0, nullptr, nullptr),
              nullptr);
}

TEST_F(DeviceManagerTest, AddRefusesEmptyNamesAndNullDevicesAndReplacesByName) {
    DeviceManager& registry = DeviceManager::Instance();
    EXPECT_EQ(registry.Add("/device/x", nullptr), 1);
    EXPECT_EQ(registry.Add("", std::make_unique<FakeDevice>(&destroyed)), 1);
    EXPECT_EQ(destroyed, 1);

    std::atomic<int> firstGone{0};
    registry.Add("/device/x", std::make_unique<FakeDevice>(&firstGone));
    registry.Add("/device/x", std::make_unique<FakeDevice>(&destroyed));
    EXPECT_EQ(firstGone, 1);
    EXPECT_NE(registry.Get("/device/x"), nullptr);
    EXPECT_EQ(destroyed, 1);
}

TEST_F(DeviceManagerTest, RemoveIsIdempotentAndRefusesAnEmptyName) {
    DeviceManager& registry = DeviceManager::Instance();
    registry.Add("/device/system/net", std::make_unique<FakeDevice>(&destroyed));
    EXPECT_EQ(registry.Remove("/device/system/net"), 0);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(registry.Remove("/device/system/net"), 0);
    EXPECT_EQ(registry.Remove(""), 1);
}

TEST_F(DeviceManagerTest, DestroyInstanceDropsEveryDeviceAndANewRegistryIsEmpty) {
    DeviceManager::Instance().Add("/device/a", std::make_unique<FakeDevice>(&destroyed));
    DeviceManager::Instance().Add("/device/b", std::make_unique<FakeDevice>(&destroyed));
    DeviceManager::DestroyInstance();
    EXPECT_EQ(destroyed, 2);
    DeviceManager::DestroyInstance();  // nothing left: harmless
    int error = 0;
    EXPECT_EQ(DeviceManager::Instance().GetCircuit("/device/a", "", 0, &error, nullptr), nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(DeviceManagerTest, ARemovedDeviceLivesUntilItsLastCircuitIsGone) {
    DeviceManager::Instance().Add("/device/a", std::make_unique<FakeDevice>(&destroyed));
    auto circuit = DeviceManager::Instance().GetCircuit("/device/a", "", 0, nullptr, nullptr);
    ASSERT_NE(circuit, nullptr);
    DeviceManager::Instance().Remove("/device/a");
    DeviceManager::DestroyInstance();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(circuit->Write(nullptr, 0, nullptr), 0);  // still safe to use
    circuit.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST_F(DeviceManagerTest, ADeviceRemovedDuringCreateCircuitOutlivesTheCall) {
    auto device = std::make_unique<FakeDevice>(&destroyed);
    FakeDevice* raw = device.get();
    raw->gated = true;
    DeviceManager::Instance().Add("/device/slow", std::move(device));

    std::unique_ptr<CircuitInterface> circuit;
    std::thread caller([&] {
        circuit = DeviceManager::Instance().GetCircuit("/device/slow", "", 1, nullptr, nullptr);
    });
    {
        std::unique_lock<std::mutex> lock(raw->gate);
        raw->wake.wait(lock, [raw] { return raw->entered; });
    }
    DeviceManager::Instance().Remove("/device/slow");
    EXPECT_EQ(destroyed, 0);
    {
        std::lock_guard<std::mutex> lock(raw->gate);
        raw->opened = true;
    }
    raw->wake.notify_all();
    caller.join();
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(destroyed, 0);
    circuit.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST_F(DeviceManagerTest, CircuitsWithoutItemsUseTheSharedDefaults) {
    FakeDevice::Circuit circuit(nullptr);
    char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(circuit.Read(buffer, 4, nullptr), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(circuit.GetInfo("/netcircuit/extinfo/ip"), nullptr);
    EXPECT_EQ(circuit.SetInfo("k", std::make_unique<_InfoItem>()), 1);
}

}  // namespace
