#include "framework/DeviceManager.h"

#include <atomic>

namespace Ombrix {

std::atomic<bool> g_running{true};

int CircuitInterface::Read(void*, int, const ACE_Time_Value*) {
    return 1;
}

_InfoItem* CircuitInterface::GetInfo(std::string) {
    return nullptr;
}

int CircuitInterface::SetInfo(std::string, std::unique_ptr<_InfoItem>) {
    return 1;
}

namespace {

std::atomic<DeviceManager*> g_instance{nullptr};

// Guards creation and destruction of the registry. The registry's own lock may be taken
// inside it (GetCircuitWhileRunning), never the other way round.
struct RegistryCreation {};
using CreationLock = Loki::ClassLevelLockable<RegistryCreation, Loki::Mutex>;

}  // namespace

DeviceManager& DeviceManager::Instance() {
    DeviceManager* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        CreationLock::Lock guard;
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new DeviceManager;
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

void DeviceManager::DestroyInstance() {
    CreationLock::Lock guard;
    delete g_instance.exchange(nullptr, std::memory_order_acq_rel);
}

int DeviceManager::Add(std::string name, std::unique_ptr<DevInterface> device) {
    if (name.empty() || !device) {
        return kRefused;
    }
    return Set(std::move(name), std::move(device));
}

int DeviceManager::Remove(std::string name) {
    if (name.empty()) {
        return kRefused;
    }
    return KeyVal::Remove(std::move(name));
}

DevInterface* DeviceManager::RetainDevice(const std::string& deviceName) {
    DevInterface* device = nullptr;
    if (!deviceName.empty()) {
        // The share is taken under the registry lock, so a concurrent Remove cannot free the
        // device while this call is inside it.
        VisitLocked(deviceName, [&device](DevInterface* found) {
            if (found != nullptr) {
                found->Retain();
                device = found;
            }
        });
    }
    return device;
}

std::unique_ptr<CircuitInterface> DeviceManager::CircuitOf(DevInterface* device,
                                                           std::string address, int mode,
                                                           int* error,
                                                           const ACE_Time_Value* timeout) {
    if (error != nullptr) {
        *error = device == nullptr ? kRefused : kOk;
    }
    if (device == nullptr) {
        return nullptr;
    }
    std::unique_ptr<DevInterface, DropDevice> share(device);
    return device->CreateCircuit(std::move(address), mode, error, timeout);
}

std::unique_ptr<CircuitInterface> DeviceManager::GetCircuit(std::string deviceName,
                                                            std::string address, int mode,
                                                            int* error,
                                                            const ACE_Time_Value* timeout) {
    return CircuitOf(RetainDevice(deviceName), std::move(address), mode, error, timeout);
}

std::unique_ptr<CircuitInterface> DeviceManager::GetCircuitWhileRunning(
    std::string deviceName, std::string address, int mode, int* error,
    const ACE_Time_Value* timeout) {
    DevInterface* device = nullptr;
    {
        // Held against DestroyInstance only while the device is looked up, never during the
        // device's own work (a connect may take long).
        CreationLock::Lock guard;
        DeviceManager* instance = g_instance.load(std::memory_order_acquire);
        if (instance != nullptr && g_running) {
            device = instance->RetainDevice(deviceName);
        }
    }
    return CircuitOf(device, std::move(address), mode, error, timeout);
}

}  // namespace Ombrix
