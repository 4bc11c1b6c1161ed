#include "framework/MemoryLock.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>

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
        ForEachPage(data, size, [this](std::uintptr_t page) {
            PageState& state = m_pages[page];
            if (state.blocks++ == 0) {
                state.locked = ::mlock(reinterpret_cast<void*>(page), m_pageSize) == 0;
            }
        });
    }

    void Unlock(const void* data, std::size_t size) {
        if (data == nullptr || size == 0) {
            return;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        ForEachPage(data, size, [this](std::uintptr_t page) {
            const auto found = m_pages.find(page);
            if (found == m_pages.end()) {
                return;
            }
            if (--found->second.blocks <= 0) {
                if (found->second.locked) {
                    ::munlock(reinterpret_cast<void*>(page), m_pageSize);
                }
                m_pages.erase(found);
            }
        });
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

}  // namespace

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
