// Keeps memory that holds secrets (the master password, typed text, decrypted entries, the
// picture block) out of swap, as far as the process may lock memory (RLIMIT_MEMLOCK).
//
// The kernel locks whole pages and one munlock() unlocks a page whatever number of mlock()
// calls covered it, so the blocks are counted per page: a page stays locked while any
// locked block on it lives. Locking is best effort: when the kernel refuses (the limit is
// reached), the block is still counted and used, only not kept in memory. Thread-safe.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace Ombrix {

// Counts the block on each page it touches and locks the pages that were not locked yet.
void LockMemory(const void* data, std::size_t size);

// Takes the block's count off its pages and unlocks the pages no locked block is left on.
// Must match an earlier LockMemory() of the same block.
void UnlockMemory(const void* data, std::size_t size);

// The number of locked blocks on the page that holds address (the address is not read).
int LockedBlocksOnPage(const void* address);

// Whether the kernel keeps the page that holds address in memory for this counting.
bool PageKeptInMemory(const void* address);

// Room for one small object (up to kLockedSlotBytes) on pages locked once for the whole
// run, so that the short-lived secrets made for every read (a key schedule) cost no system
// call each, as they would locked and unlocked one by one; nullptr when the object is larger
// or every slot is taken. The slots are aligned to kLockedSlotBytes.
constexpr std::size_t kLockedSlotBytes = 512;
void* TakeLockedSlot(std::size_t size);

// Wipes a slot that TakeLockedSlot gave and makes it free again; false (and nothing done)
// for memory that is not such a slot.
bool GiveBackLockedSlot(void* slot);

// One object whose bytes are locked for as long as it lives: for secrets that live inside
// objects of other libraries (a cipher's key schedule, a fixed-size key), which would
// otherwise sit on the stack or in memory nobody locks. The object's own destructor does the
// wiping. A small object lies in a locked slot while one is free, a larger one on the heap.
template <class T>
class LockedBox {
public:
    template <class... Args>
    explicit LockedBox(Args&&... args) : m_storage(TakeLockedSlot(sizeof(T))) {
        static_assert(alignof(T) <= kLockedSlotBytes, "a slot's alignment");
        // Locked before the object is made, so that no secret is ever in it unlocked.
        if (m_storage == nullptr) {
            m_storage = ::operator new(sizeof(T));
            LockMemory(m_storage, sizeof(T));
        }
        try {
            m_object = new (m_storage) T(std::forward<Args>(args)...);
        } catch (...) {
            Release();
            throw;
        }
    }
    ~LockedBox() {
        m_object->~T();
        Release();
    }
    LockedBox(const LockedBox&) = delete;
    LockedBox& operator=(const LockedBox&) = delete;

    T& operator*() const { return *m_object; }
    T* operator->() const { return m_object; }
    T* get() const { return m_object; }

private:
    void Release() {
        if (!GiveBackLockedSlot(m_storage)) {
            UnlockMemory(m_storage, sizeof(T));
            ::operator delete(m_storage);
        }
    }

    void* m_storage;
    T* m_object = nullptr;
};

}  // namespace Ombrix
