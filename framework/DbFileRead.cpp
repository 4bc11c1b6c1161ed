#include "framework/DbFileRead.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Ombrix {

namespace {

// Where Berkeley DB keeps what this read needs, in the B-tree layout the library writes
// (version 9); every field is in the file's byte order, which must be this machine's.
namespace layout {
// Every page starts with this header.
constexpr std::size_t kHeaderBytes = 26;
constexpr std::size_t kPageNumberAt = 8;
constexpr std::size_t kPreviousAt = 12;
constexpr std::size_t kNextAt = 16;
constexpr std::size_t kEntriesAt = 20;
constexpr std::size_t kHighFreeAt = 22;  // on an overflow page: the value's bytes it holds
constexpr std::size_t kTypeAt = 25;
// Page types.
constexpr unsigned char kInternalPage = 3;
constexpr unsigned char kLeafPage = 5;
constexpr unsigned char kOverflowPage = 7;
constexpr unsigned char kMetaPage = 9;
// The meta page, page 0.
constexpr std::size_t kMagicAt = 12;
constexpr std::size_t kVersionAt = 16;
constexpr std::size_t kPageSizeAt = 20;
constexpr std::size_t kEncryptionAt = 24;
constexpr std::size_t kMetaFlagsAt = 26;  // checksums, partitions
constexpr std::size_t kTreeFlagsAt = 48;  // duplicates, record numbers, subdatabases, compression
constexpr std::size_t kRootAt = 88;
// Items on tree pages, found through the offsets that follow a page's header.
constexpr unsigned char kKeyDataItem = 1;
constexpr unsigned char kOverflowItem = 3;
constexpr std::size_t kItemTypeAt = 2;
constexpr std::size_t kKeyDataBytesAt = 3;
constexpr std::size_t kOverflowPageAt = 4;  // also the child page of an internal item
constexpr std::size_t kOverflowLengthAt = 8;
constexpr std::size_t kInternalKeyAt = 12;
}  // namespace layout

// A tree deeper than this is not one of ours.
constexpr int kMaxDepth = 16;
// The most pages one system call reads: three pieces of memory each, within the system's
// limit of 1,024.
constexpr std::size_t kMaxPagesPerCall = 256;

template <typename T>
T FieldAt(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

bool ReadPage(int fd, u_int32_t pageSize, u_int32_t number, std::vector<unsigned char>& page) {
    page.resize(pageSize);
    const off_t at = static_cast<off_t>(number) * pageSize;
    return ::pread(fd, page.data(), pageSize, at) == static_cast<ssize_t>(pageSize) &&
           FieldAt<u_int32_t>(page.data() + layout::kPageNumberAt) == number;
}

// The offset of item index on a tree page, when it and an item of minBytes fit the page.
bool ItemOffset(const std::vector<unsigned char>& page, std::size_t index, std::size_t minBytes,
                std::size_t* offset) {
    const std::size_t entries = FieldAt<u_int16_t>(page.data() + layout::kEntriesAt);
    const std::size_t tableEnd = layout::kHeaderBytes + 2 * entries;
    if (index >= entries || tableEnd > page.size()) {
        return false;
    }
    *offset = FieldAt<u_int16_t>(page.data() + layout::kHeaderBytes + 2 * index);
    return *offset >= tableEnd && *offset + minBytes <= page.size();
}

// The library's default order of keys: bytewise, a prefix before what continues it.
int CompareKeys(const unsigned char* a, std::size_t aLength, const void* b, std::size_t bLength) {
    const int common = std::memcmp(a, b, std::min(aLength, bLength));
    if (common != 0) {
        return common;
    }
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

// A key on a tree page, in bounds: its bytes start at offset + keyAt, and its length is the
// item's first two bytes.
bool KeyAt(const std::vector<unsigned char>& page, std::size_t offset, std::size_t keyAt,
           const unsigned char** key, std::size_t* length) {
    *length = FieldAt<u_int16_t>(page.data() + offset);
    *key = page.data() + offset + keyAt;
    return offset + keyAt + *length <= page.size();
}

// On an internal page, the child whose keys include key: that of the last item whose key is
// not after it (the first item's key stands before every key). The library finds it by a
// binary search; the two agree only on keys in strictly rising order, so a page whose keys
// are not is left to the library.
bool ChildFor(const std::vector<unsigned char>& page, const void* key, u_int32_t keyLength,
              u_int32_t* child) {
    const std::size_t entries = FieldAt<u_int16_t>(page.data() + layout::kEntriesAt);
    const unsigned char* previous = nullptr;
    std::size_t previousLength = 0;
    bool found = false;
    for (std::size_t i = 0; i < entries; ++i) {
        std::size_t offset = 0;
        const unsigned char* itemKey = nullptr;
        std::size_t length = 0;
        if (!ItemOffset(page, i, layout::kInternalKeyAt, &offset) ||
            page[offset + layout::kItemTypeAt] != layout::kKeyDataItem ||
            !KeyAt(page, offset, layout::kInternalKeyAt, &itemKey, &length)) {
            return false;
        }
        if (i > 0) {
            if (previous != nullptr &&
                CompareKeys(itemKey, length, previous, previousLength) <= 0) {
                return false;
            }
            previous = itemKey;
            previousLength = length;
        }
        if (i == 0 || CompareKeys(itemKey, length, key, keyLength) <= 0) {
            *child = FieldAt<u_int32_t>(page.data() + offset + layout::kOverflowPageAt);
            found = true;
        }
    }
    return found;
}

// On a leaf page (key and value items in turn), the first page and the length of key's
// value, when it is stored on overflow pages. As on internal pages, the keys must rise
// strictly for this page to be read as the library reads it.
bool OverflowValueOnLeaf(const std::vector<unsigned char>& page, const void* key,
                         u_int32_t keyLength, u_int32_t* first, u_int32_t* total) {
    const std::size_t entries = FieldAt<u_int16_t>(page.data() + layout::kEntriesAt);
    const unsigned char* previous = nullptr;
    std::size_t previousLength = 0;
    std::size_t match = entries;
    for (std::size_t i = 0; i + 1 < entries; i += 2) {
        std::size_t offset = 0;
        const unsigned char* itemKey = nullptr;
        std::size_t length = 0;
        if (!ItemOffset(page, i, layout::kKeyDataBytesAt, &offset)) {
            return false;
        }
        const unsigned char type = page[offset + layout::kItemTypeAt];
        if ((type & 0x7F) != layout::kKeyDataItem ||
            !KeyAt(page, offset, layout::kKeyDataBytesAt, &itemKey, &length) ||
            (previous != nullptr && CompareKeys(itemKey, length, previous, previousLength) <= 0)) {
            return false;
        }
        previous = itemKey;
        previousLength = length;
        if (CompareKeys(itemKey, length, key, keyLength) == 0) {
            if (type != layout::kKeyDataItem) {
                return false;  // a key marked deleted is left to the library
            }
            match = i;
        }
    }
    // A value kept on the page itself is the library's to read.
    std::size_t valueOffset = 0;
    if (match == entries ||
        !ItemOffset(page, match + 1, layout::kOverflowLengthAt + 4, &valueOffset) ||
        page[valueOffset + layout::kItemTypeAt] != layout::kOverflowItem) {
        return false;
    }
    *first = FieldAt<u_int32_t>(page.data() + valueOffset + layout::kOverflowPageAt);
    *total = FieldAt<u_int32_t>(page.data() + valueOffset + layout::kOverflowLengthAt);
    return true;
}

// Finds key's overflow value from the tree's root down, checking the file's layout on the
// way; false for a file or a value this read leaves to the library.
bool FindOverflowValue(int fd, u_int32_t pageSize, const void* key, u_int32_t keyLength,
                       u_int32_t* first, u_int32_t* total) {
    std::vector<unsigned char> page;
    if (!ReadPage(fd, pageSize, 0, page) ||
        FieldAt<u_int32_t>(page.data() + layout::kMagicAt) != DB_BTREEMAGIC ||
        FieldAt<u_int32_t>(page.data() + layout::kVersionAt) != DB_BTREEVERSION ||
        FieldAt<u_int32_t>(page.data() + layout::kPageSizeAt) != pageSize ||
        page[layout::kEncryptionAt] != 0 || page[layout::kTypeAt] != layout::kMetaPage ||
        page[layout::kMetaFlagsAt] != 0 ||
        FieldAt<u_int32_t>(page.data() + layout::kTreeFlagsAt) != 0) {
        return false;
    }
    u_int32_t number = FieldAt<u_int32_t>(page.data() + layout::kRootAt);
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        if (number == 0 || !ReadPage(fd, pageSize, number, page)) {
            return false;
        }
        switch (page[layout::kTypeAt]) {
            case layout::kInternalPage:
                if (!ChildFor(page, key, keyLength, &number)) {
                    return false;
                }
                break;
            case layout::kLeafPage:
                return OverflowValueOnLeaf(page, key, keyLength, first, total);
            default:
                return false;
        }
    }
    return false;
}

// Follows the chain of overflow pages from first and gathers the value's first length bytes
// (of total). The chain's pages are usually neighbours in the file, in either direction, so
// after each page the read guesses that the chain goes on in the same direction and reads
// that stretch of the file in one call: the headers into a side buffer, the bytes straight
// to their place in out. The stretch doubles while the guesses hold (up to maxPages) and falls
// back to one page where the chain jumps, so that a guess that fails costs at most as many
// pages as those already found in place. A page is taken only when the page before it names
// it; bytes that a wrong guess put in out lie past every page taken, and the page that
// belongs there overwrites them.
// Without take, out holds the whole value. With take, out holds maxPages pages' bytes: each
// call reads to its start, and the bytes of the pages taken are handed to take before the
// next call reuses it.
bool ReadChain(int fd, u_int32_t pageSize, std::uint64_t filePages, u_int32_t first,
               u_int32_t total, unsigned char* out, u_int32_t length, std::size_t maxPages,
               const ValuePieceTaker* take) {
    const std::size_t perPage = pageSize - layout::kHeaderBytes;
    const std::size_t pagesNeeded = (static_cast<std::size_t>(length) + perPage - 1) / perPage;
    std::vector<unsigned char> headers(kMaxPagesPerCall * layout::kHeaderBytes);
    std::vector<unsigned char> rest(perPage);  // the bytes of the last page past length
    std::vector<iovec> pieces;
    pieces.reserve(kMaxPagesPerCall * 3);
    std::size_t index = 0;       // the position in the chain of the next page to take
    u_int32_t number = first;    // and its page number
    u_int32_t previous = 0;      // the page before it, none for the first
    std::int64_t direction = 1;  // where the chain is guessed to go on
    std::size_t stretch = 1;     // how many pages the next call reads
    while (index < pagesNeeded) {
        // Page 0 is the meta page, and a chain never leaves the file.
        if (number == 0 || number >= filePages) {
            return false;
        }
        // No stretch reaches below page 1 or past the file's last page.
        std::size_t pages = std::min({stretch, maxPages, pagesNeeded - index});
        pages = std::min<std::uint64_t>(pages, direction < 0 ? number : filePages - number);
        const std::uint64_t lowest = direction > 0 ? number : number - (pages - 1);
        const std::size_t outStart = take != nullptr ? index * perPage : 0;  // where out begins
        pieces.clear();
        for (std::size_t inFile = 0; inFile < pages; ++inFile) {
            const std::size_t step = direction > 0 ? inFile : pages - 1 - inFile;
            const std::size_t start = (index + step) * perPage;
            const std::size_t wanted = std::min(perPage, length - start);
            pieces.push_back({headers.data() + step * layout::kHeaderBytes, layout::kHeaderBytes});
            pieces.push_back({out + (start - outStart), wanted});
            if (wanted < perPage) {
                pieces.push_back({rest.data(), perPage - wanted});
            }
        }
        const ssize_t read = ::preadv(fd, pieces.data(), static_cast<int>(pieces.size()),
                                      static_cast<off_t>(lowest * pageSize));
        if (read != static_cast<ssize_t>(pages * pageSize)) {
            return false;  // a failed read, or a file cut short meanwhile
        }
        std::size_t taken = 0;
        u_int32_t next = 0;
        for (std::size_t step = 0; step < pages; ++step) {
            const unsigned char* header = headers.data() + step * layout::kHeaderBytes;
            const std::size_t position = index + step;
            const std::size_t held = std::min<std::size_t>(perPage, total - position * perPage);
            const bool lastOfValue = (position + 1) * perPage >= total;
            next = FieldAt<u_int32_t>(header + layout::kNextAt);
            if (FieldAt<u_int32_t>(header + layout::kPageNumberAt) != number ||
                header[layout::kTypeAt] != layout::kOverflowPage ||
                FieldAt<u_int32_t>(header + layout::kPreviousAt) != previous ||
                FieldAt<u_int16_t>(header + layout::kHighFreeAt) != held ||
                (next == 0) != lastOfValue) {
                return false;  // not the page the chain named: damaged, or not our layout
            }
            ++taken;
            previous = number;
            number = next;
            if (step + 1 < pages && static_cast<std::int64_t>(next) != previous + direction) {
                break;  // the chain leaves the stretch; the pages after this one are not its
            }
        }
        if (take != nullptr && taken > 0) {
            (*take)(out, std::min(taken * perPage, length - outStart));
        }
        index += taken;
        const std::int64_t move = static_cast<std::int64_t>(next) - previous;
        if (move == direction) {
            stretch = std::min(maxPages, 2 * taken);
        } else {
            direction = move == -1 ? -1 : 1;
            stretch = 1;
        }
    }
    return true;
}

// The file of db and its page size, when this read can vouch for a value in it. Pages the
// handle holds unwritten are flushed first.
bool OpenForRead(Db* db, int* fd, u_int32_t* pageSize) {
    int swapped = 0;
    u_int32_t flags = 0;
    int (*compare)(Db*, const Dbt*, const Dbt*) = nullptr;
    size_t (*prefix)(Db*, const Dbt*, const Dbt*) = nullptr;
    // Keys in another order than bytewise would be found elsewhere in the tree.
    return db != nullptr && db->get_byteswapped(&swapped) == 0 && swapped == 0 &&
           db->get_pagesize(pageSize) == 0 && *pageSize > layout::kHeaderBytes &&
           db->get_flags(&flags) == 0 &&
           (flags & (DB_CHKSUM | DB_ENCRYPT | DB_DUP | DB_DUPSORT | DB_RECNUM)) == 0 &&
           db->get_bt_compare(&compare) == 0 && compare == nullptr &&
           db->get_bt_prefix(&prefix) == 0 && prefix == nullptr && db->fd(fd) == 0 &&
           db->sync(0) == 0;
}

bool ReadValue(Db* db, const void* key, u_int32_t keyLength, u_int32_t storedLength,
               unsigned char* out, u_int32_t length, std::size_t maxPages,
               const ValuePieceTaker* take) {
    int fd = -1;
    u_int32_t pageSize = 0;
    u_int32_t first = 0;
    u_int32_t total = 0;
    return length > 0 && maxPages > 0 && OpenForRead(db, &fd, &pageSize) &&
           FindOverflowValue(fd, pageSize, key, keyLength, &first, &total) &&
           total == storedLength && length <= total &&
           ReadChain(fd, pageSize, DbFileBytes(db) / pageSize, first, total, out, length, maxPages,
                     take);
}

}  // namespace

bool ReadOverflowValueFromFile(Db* db, const void* key, u_int32_t keyLength, u_int32_t storedLength,
                               void* buffer, u_int32_t length) {
    return buffer != nullptr &&
           ReadValue(db, key, keyLength, storedLength, static_cast<unsigned char*>(buffer), length,
                     kMaxPagesPerCall, nullptr);
}

bool ReadOverflowValueFromFileInPieces(Db* db, const void* key, u_int32_t keyLength,
                                       u_int32_t storedLength, u_int32_t length,
                                       std::size_t maxPagesPerPiece, const ValuePieceTaker& take) {
    u_int32_t pageSize = 0;
    if (db == nullptr || db->get_pagesize(&pageSize) != 0 || pageSize <= layout::kHeaderBytes) {
        return false;
    }
    const std::size_t maxPages = std::min(maxPagesPerPiece, kMaxPagesPerCall);
    std::vector<unsigned char> piece(maxPages * (pageSize - layout::kHeaderBytes));
    return ReadValue(db, key, keyLength, storedLength, piece.data(), length, maxPages, &take);
}

u_int64_t DbCacheBytes(Db* db) {
    u_int32_t gigabytes = 0;
    u_int32_t bytes = 0;
    int regions = 0;
    if (db == nullptr || db->get_cachesize(&gigabytes, &bytes, &regions) != 0) {
        return 0;
    }
    return (static_cast<u_int64_t>(gigabytes) << 30) + bytes;
}

u_int64_t DbFileBytes(Db* db) {
    int fd = -1;
    struct stat info;
    return db != nullptr && db->fd(&fd) == 0 && ::fstat(fd, &info) == 0
               ? static_cast<u_int64_t>(info.st_size)
               : 0;
}

}  // namespace Ombrix
