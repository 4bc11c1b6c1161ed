// One running program per vault. Two copies on the same folder would each write the vault
// file through their own database handle and corrupt it, so the first copy locks the
// folder for its whole run and a second copy finds it locked.
//
// The lock is an exclusive flock() on a read-only descriptor of the folder itself: no file
// appears beside the vault, the kernel drops the lock when the holder ends in any way
// (crash, SIGKILL included), and programs the holder starts do not inherit it.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
public:
    enum class State {
        kHeld,           // this object holds the lock until it goes
        kHeldElsewhere,  // another program (or another lock object) holds it
        kUnavailable,    // the folder cannot be opened or locked: nothing is held
    };

    // Tries once, without waiting, to lock the folder.
    explicit InstanceLock(const std::string& folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State GetState() const { return m_state; }
    bool Held() const { return m_state == State::kHeld; }

private:
    int m_fd = -1;
    State m_state = State::kUnavailable;
};

}  // namespace platform
