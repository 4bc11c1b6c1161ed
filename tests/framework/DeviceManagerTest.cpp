#include "framework/DeviceManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

using namespace Ombrix;

namespace {

// A device that counts its destruction and can hold CreateCircuit at a gate.
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
        asked = address + " " + std::to_string(mode);
        if (gate) {
            entered.set_value();
            gate->wait();
        }
        if (error != nullptr) {
            *error = 0;
        }
        return std::make_unique<Circuit>(this);
    }

    std::atomic<int>* destroyed;
    std::string asked;
    int writes = 0;
    std::optional<std::shared_future<void>> gate;
    std::promise<void> entered;
};

class DeviceManagerTest : public ::testing::Test {
protected:
    void TearDown() override { DeviceManager::DestroyInstance(); }
    std::unique_ptr<FakeDevice> Make() { return std::make_unique<FakeDevice>(&destroyed); }
    std::unique_ptr<CircuitInterface> Circuit(const std::string& name, int* error = nullptr) {
        return DeviceManager::Instance().GetCircuit(name, "/tmp/x.db", 1, error, nullptr);
    }
    std::atomic<int> destroyed{0};
};

TEST_F(DeviceManagerTest, DevicesAreAddedReplacedFoundAndRemovedByName) {
    DeviceManager& registry = DeviceManager::Instance();
    EXPECT_EQ(registry.Add("/device/x", nullptr), 1);
    EXPECT_EQ(registry.Add("", Make()), 1);
    EXPECT_EQ(destroyed, 1);  // the refused device is deleted
    auto device = Make();
    FakeDevice* raw = device.get();
    ASSERT_EQ(registry.Add("/device/x", Make()), 0);
    ASSERT_EQ(registry.Add("/device/x", std::move(device)), 0);
    EXPECT_EQ(destroyed, 2);  // replaced

    int error = -1;
    auto circuit = Circuit("/device/x", &error);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(raw->asked, "/tmp/x.db 1");
    EXPECT_EQ(circuit->Write(nullptr, 0, nullptr), 0);
    EXPECT_EQ(raw->writes, 1);
    // What a circuit does not provide itself: nothing to read, no items.
    char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(circuit->Read(buffer, 4, nullptr), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(circuit->GetInfo("/netcircuit/extinfo/ip"), nullptr);
    EXPECT_EQ(circuit->SetInfo("k", std::make_unique<_InfoItem>()), 1);
    circuit.reset();

    for (const char* name : {"", "/device/none"}) {
        error = -1;
        EXPECT_EQ(Circuit(name, &error), nullptr);
        EXPECT_EQ(error, 1) << name;
    }
    EXPECT_EQ(Circuit("/device/none"), nullptr);
    EXPECT_EQ(registry.Remove(""), 1);
    EXPECT_EQ(registry.Remove("/device/x"), 0);
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(registry.Remove("/device/x"), 0);
    EXPECT_EQ(Circuit("/device/x"), nullptr);
}

TEST_F(DeviceManagerTest, ADeviceLivesUntilItsLastCircuitIsGoneAndANewRegistryIsEmpty) {
    DeviceManager::Instance().Add("/device/a", Make());
    DeviceManager::Instance().Add("/device/b", Make());
    auto circuit = Circuit("/device/a");
    ASSERT_NE(circuit, nullptr);
    DeviceManager::Instance().Remove("/device/a");
    DeviceManager::DestroyInstance();
    EXPECT_EQ(destroyed, 1);                            // b only
    EXPECT_EQ(circuit->Write(nullptr, 0, nullptr), 0);  // still safe to use
    circuit.reset();
    EXPECT_EQ(destroyed, 2);
    DeviceManager::DestroyInstance();  // nothing left: harmless
    int error = 0;
    EXPECT_EQ(Circuit("/device/b", &error), nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(DeviceManagerTest, ADeviceRemovedDuringCreateCircuitOutlivesTheCall) {
    auto device = Make();
    FakeDevice* raw = device.get();
    std::promise<void> open;
    raw->gate = open.get_future().share();
    DeviceManager::Instance().Add("/device/slow", std::move(device));
    std::unique_ptr<CircuitInterface> circuit;
    std::thread caller([&] { circuit = Circuit("/device/slow"); });
    raw->entered.get_future().wait();
    DeviceManager::Instance().Remove("/device/slow");
    EXPECT_EQ(destroyed, 0);
    open.set_value();
    caller.join();
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(destroyed, 0);
    circuit.reset();
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
