// The registry of named devices ("/device/system/db", ...). Application code asks it for a
// circuit on a device by name and owns the circuit it gets.
#pragma once

#include <memory>
#include <string>

#include "framework/Device.h"
#include "framework/KeyVal.h"

namespace Ombrix {

class DeviceManager
    : public KeyVal<std::string, DevInterface, Loki::ObjectLevelLockable, DropDevice> {
public:
    // The registry, created on first use. After DestroyInstance a new, empty one is made.
    static DeviceManager& Instance();
    // Destroys the registry and lets go of every device still registered.
    static void DestroyInstance();

    // Registers device under name, replacing an older device of that name. 1 (and the
    // device deleted) for an empty name or a null device.
    int Add(std::string name, std::unique_ptr<DevInterface> device);

    // Forgets the device of that name; 1 for an empty name, else 0.
    int Remove(std::string name);

    // For a thread that may run while the framework shuts down: a circuit of the named
    // device of the registry as it stands, never making a registry anew. Null with *error = 1
    // once the framework stops running (g_running false) or the registry is gone. The
    // registry is not destroyed while the device is looked up; the circuit then holds a
    // share of its device, so that a connect still under way when the framework stops is
    // safe too.
    static std::unique_ptr<CircuitInterface> GetCircuitWhileRunning(std::string deviceName,
                                                                    std::string address, int mode,
                                                                    int* error,
                                                                    const ACE_Time_Value* timeout);

    // A new circuit on the named device, owned by the caller, or null with *error = 1 when
    // the name is empty or unknown; otherwise the device's result and error.
    std::unique_ptr<CircuitInterface> GetCircuit(std::string deviceName, std::string address,
                                                 int mode, int* error,
                                                 const ACE_Time_Value* timeout);

private:
    DeviceManager() = default;

    // The named device with a share taken for the caller, or null.
    DevInterface* RetainDevice(const std::string& deviceName);
    static std::unique_ptr<CircuitInterface> CircuitOf(DevInterface* device, std::string address,
                                                       int mode, int* error,
                                                       const ACE_Time_Value* timeout);
};

}  // namespace Ombrix
