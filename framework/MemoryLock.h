// Keeps memory that holds secrets (the master password, typed text, decrypted entries, the
// picture block) out of swap, as far as the process may lock memory (RLIMIT_MEMLOCK).
//
// The kernel locks whole pages and one munlock() unlocks a page whatever number of mlock()
// calls covered it, so the blocks are counted per page: a page stays locked while any
// locked block on it lives. Locking is best effort: when the kernel refuses (the limit is
// reached), the block is still counted and used, only not kept in memory. Thread-safe.
#pragma once

#include <cstddef>

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

}  // namespace Ombrix
