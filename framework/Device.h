// The two interfaces through which every framework service is reached: a device (one per
// kind of service, registered by name in the DeviceManager) hands out circuits (one working
// connection each) that are read, written and tagged.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "framework/Info.h"

class ACE_Time_Value;

namespace Ombrix {

// True while the framework runs; the background loops of the devices stop once it is false.
extern std::atomic<bool> g_running;

class CircuitInterface {
public:
    virtual ~CircuitInterface() = default;

    // Reads up to length bytes. By default there is nothing to read: 1, buffer untouched.
    virtual int Read(void* buffer, int length, const ACE_Time_Value* timeout);

    // 0 when done, non-zero when refused. What buffer holds depends on the device.
    virtual int Write(void* buffer, int length, const ACE_Time_Value* timeout) = 0;

    // The item under key, borrowed, or null. By default a circuit carries no items.
    virtual _InfoItem* GetInfo(std::string key);

    // Stores item under key, taking ownership. By default the item is deleted: 1.
    virtual int SetInfo(std::string key, std::unique_ptr<_InfoItem> item);
};

// A device lives as long as anybody uses it: the registry holds one share, and every call
// into CreateCircuit and every circuit that refers back to its device holds another. So a
// device removed while a circuit is still out (a slow connection at shut-down, say) is
// destroyed only when that circuit is gone, and never touched after it was freed.
class DevInterface {
public:
    virtual ~DevInterface() = default;

    virtual std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode,
                                                            int* error,
                                                            const ACE_Time_Value* timeout) = 0;

    void Retain() noexcept { m_shares.fetch_add(1, std::memory_order_relaxed); }

    // Gives up one share; the last one destroys the device.
    void Drop() noexcept {
        if (m_shares.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

private:
    std::atomic<int> m_shares{1};  // the creator's share, handed on to the registry
};

// Lets go of a device through its share count instead of deleting it outright.
struct DropDevice {
    void operator()(DevInterface* device) const noexcept {
        if (device != nullptr) {
            device->Drop();
        }
    }
};

// One share of a device, held by a circuit for as long as it may call back into it.
class DeviceShare {
public:
    explicit DeviceShare(DevInterface* device) noexcept : m_device(device) {
        if (m_device != nullptr) {
            m_device->Retain();
        }
    }
    ~DeviceShare() { DropDevice()(m_device); }
    DeviceShare(const DeviceShare&) = delete;
    DeviceShare& operator=(const DeviceShare&) = delete;

private:
    DevInterface* m_device;
};

}  // namespace Ombrix
