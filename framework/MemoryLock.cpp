#include "framework/MemoryLock.h"

#include <sys/mman.h>
#include <unistd.h>

#include <bitset>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

#include "framework/SecureWipe.h"

namespace Ombrix {

namespace {

struct PageState {
    int blocks = 0;
    bool locked = false;  // the kernel accepted mlock() for it
};

class PageTable {
public:
    static PageTable& Instance() {
        // Never destroyed: blocks are freed (and unlocked) until the very end of the process,
        // after static objects are gone.
        static PageTable* table = new PageTable;
        return *table;
    }

    void Lock(const void* data, std::size_t size) {
        if (data == nullptr || size == 0) {
            return;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        // Pages counted for the first time are locked in runs, one call for each run of
        // neighbouring pages: a large buffer then costs one system call, not one per page.
        PageRun run;
        ForEachPage(data, size, [this, &run](std::uintptr_t page) {
            if (m_pages[page].blocks++ == 0) {
                if (!run.Extends(page, m_pageSize)) {
                    LockRun(run);
                    run = PageRun{page, 0};
                }
                ++run.pages;
            }
        });
        LockRun(run);
    }

    void Unlock(const void* data, std::size_t size) {
        if (data == nullptr || size == 0) {
            return;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        PageRun run;
        ForEachPage(data, size, [this, &run](std::uintptr_t page) {
            const auto found = m_pages.find(page);
            if (found == m_pages.end()) {
                return;
            }
            if (--found->second.blocks <= 0) {
                if (found->second.locked) {
                    if (!run.Extends(page, m_pageSize)) {
                        UnlockRun(run);
                        run = PageRun{page, 0};
                    }
                    ++run.pages;
                }
                m_pages.erase(found);
            }
        });
        UnlockRun(run);
    }

    PageState State(const void* address) {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_pages.find(PageOf(reinterpret_cast<std::uintptr_t>(address)));
        return found == m_pages.end() ? PageState{} : found->second;
    }

private:
    PageTable() {
        const long size = ::sysconf(_SC_PAGESIZE);
        m_pageSize = size > 0 ? static_cast<std::size_t>(size) : 4096;
    }

    std::uintptr_t PageOf(std::uintptr_t address) const { return address - address % m_pageSize; }

    // Neighbouring pages, from first on.
    struct PageRun {
        std::uintptr_t first = 0;
        std::size_t pages = 0;
        bool Extends(std::uintptr_t page, std::size_t pageSize) const {
            return pages != 0 && page == first + pages * pageSize;
        }
    };

    // When the kernel refuses the whole run (the limit), each page is tried on its own, so
    // that as much as the limit allows is still kept in memory.
    void LockRun(const PageRun& run) {
        if (run.pages == 0) {
            return;
        }
        if (::mlock(reinterpret_cast<void*>(run.first), run.pages * m_pageSize) == 0) {
            for (std::size_t i = 0; i < run.pages; ++i) {
                m_pages[run.first + i * m_pageSize].locked = true;
            }
            return;
        }
        for (std::size_t i = 0; i < run.pages; ++i) {
            const std::uintptr_t page = run.first + i * m_pageSize;
            m_pages[page].locked = ::mlock(reinterpret_cast<void*>(page), m_pageSize) == 0;
        }
    }

    void UnlockRun(const PageRun& run) {
        if (run.pages != 0) {
            ::munlock(reinterpret_cast<void*>(run.first), run.pages * m_pageSize);
        }
    }

    template <class Visit>
    void ForEachPage(const void* data, std::size_t size, Visit visit) const {
        const auto first = reinterpret_cast<std::uintptr_t>(data);
        const std::uintptr_t last = first + (size - 1);
        for (std::uintptr_t page = PageOf(first); page <= PageOf(last); page += m_pageSize) {
            visit(page);
            if (page == PageOf(last)) {
                break;  // also ends the loop at the top of the address space
            }
        }
    }

    std::mutex m_mutex;
    std::size_t m_pageSize = 4096;
    std::unordered_map<std::uintptr_t, PageState> m_pages;
};

// The slots for small locked objects: one block of pages, locked as one block when the first
// slot is taken and kept for the whole run. Sixteen slots are more than the program ever
// holds at once (one key schedule per read or write); beyond them the objects go to the heap.
class LockedSlots {
public:
    static LockedSlots& Instance() {
        // Never destroyed, like the page table: boxes may go until the very end.
        static LockedSlots* slots = new LockedSlots;
        return *slots;
    }

    void* Take(std::size_t size) {
        if (size > kLockedSlotBytes) {
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_block == nullptr) {
            m_block = static_cast<unsigned char*>(
                ::operator new (kBlockBytes, std::align_val_t{kBlockAlignment}, std::nothrow));
            if (m_block == nullptr) {
                return nullptr;
            }
            LockMemory(m_block, kBlockBytes);
        }
        for (std::size_t i = 0; i < kSlots; ++i) {
            if (!m_taken[i]) {
                m_taken[i] = true;
                return m_block + i * kLockedSlotBytes;
            }
        }
        return nullptr;
    }

    bool GiveBack(void* slot) {
        const auto at = reinterpret_cast<std::uintptr_t>(slot);
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto first = reinterpret_cast<std::uintptr_t>(m_block);
        if (m_block == nullptr || at < first || at >= first + kBlockBytes ||
            (at - first) % kLockedSlotBytes != 0) {
            return false;
        }
        SecureWipe(slot, kLockedSlotBytes);
        m_taken[(at - first) / kLockedSlotBytes] = false;
        return true;
    }

private:
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kBlockBytes = kSlots * kLockedSlotBytes;
    static constexpr std::size_t kBlockAlignment = 4096;

    std::mutex m_mutex;
    unsigned char* m_block = nullptr;
    std::bitset<kSlots> m_taken;
};

}  // namespace

void* TakeLockedSlot(std::size_t size) {
    return LockedSlots::Instance().Take(size);
}

bool GiveBackLockedSlot(void* slot) {
    return LockedSlots::Instance().GiveBack(slot);
}

void LockMemory(const void* data, std::size_t size) {
    PageTable::Instance().Lock(data, size);
}

void UnlockMemory(const void* data, std::size_t size) {
    PageTable::Instance().Unlock(data, size);
}

int LockedBlocksOnPage(const void* address) {
    return PageTable::Instance().State(address).blocks;
}

bool PageKeptInMemory(const void* address) {
    return PageTable::Instance().State(address).locked;
}

}  // namespace Ombrix
