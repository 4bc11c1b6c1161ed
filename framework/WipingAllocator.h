// An allocator that zeroes every block before giving it back, for containers of secrets
// (typed passwords, decrypted entries). Growth of a container then leaves no stale copy.
// While they live, the blocks are kept out of swap as far as the process may lock memory.
#pragma once

#include <cstddef>
#include <new>

#include "framework/MemoryLock.h"
#include "framework/SecureWipe.h"

namespace Ombrix {

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        T* p = static_cast<T*>(::operator new(n * sizeof(T)));
        LockMemory(p, n * sizeof(T));
        return p;
    }

    void deallocate(T* p, std::size_t n) noexcept {
        SecureWipe(p, n * sizeof(T));
        UnlockMemory(p, n * sizeof(T));
        ::operator delete(p);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const WipingAllocator<U>&) const noexcept {
        return false;
    }
};

}  // namespace Ombrix
