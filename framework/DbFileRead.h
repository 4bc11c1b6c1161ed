// A read of one big value straight from a Berkeley DB file, beside the library's own.
//
// The library copies a value that outgrew its page into a chain of overflow pages, and reads
// it back page by page through its cache: one system call per page, and every page copied
// twice. A value bigger than the whole cache can never stay in it, so each read of it costs
// a trip through the cache for every page, and the cost per byte grows with the value. This
// read follows the same chain in the file itself, a few hundred pages per system call,
// straight into the caller's memory.
//
// It only ever answers with bytes it has checked: the tree's pages on the way to the key
// must hold their keys in strictly rising order (where the library's binary search and this
// read's scan agree), and every page of the chain must be the one the chain names, of the
// overflow kind, linked back to the page before it and holding the bytes the value's length
// gives it. A file of another layout (other byte order, checksums, encryption, duplicates or
// other tree flags, keys in an order of the caller's, another page size) or anything found
// out of place makes it decline, and the caller reads through the library, which then
// reports any damage as it always has.
//
// The file must change only through this handle: another handle writing the same file,
// or a write through this one during the read, can leave the file different from what the
// library would read. The program writes its vault through a copy that replaces the file.
#pragma once

#include <db_cxx.h>

#include <cstddef>
#include <functional>

namespace Ombrix {

// Copies the first length bytes of the value stored under key into buffer, from the file
// of db (a B-tree database without duplicates). storedLength is the value's whole length as
// the library reports it; the file must say the same. Pages the handle holds unwritten are
// flushed first, so that the file holds what the library itself would read. True when
// buffer holds those bytes; false when this read declines (see above), and buffer's content
// is then unspecified.
bool ReadOverflowValueFromFile(Db* db, const void* key, u_int32_t keyLength, u_int32_t storedLength,
                               void* buffer, u_int32_t length);

// Receives a value's bytes piece by piece, in order: a piece is only valid during the call.
using ValuePieceTaker = std::function<void(const unsigned char* piece, std::size_t bytes)>;

// The same read of the value's first length bytes, handed to take in pieces of at most
// maxPagesPerPiece overflow pages' bytes, each checked before it is handed on, instead of
// into one buffer as long as the value: the pieces pass through one buffer of the read's
// own, which stays in the processor's caches. True when every byte was handed on. False
// when the read declines, which it may do after some pieces were handed on: the caller must
// then forget them, and read through the library.
bool ReadOverflowValueFromFileInPieces(Db* db, const void* key, u_int32_t keyLength,
                                       u_int32_t storedLength, u_int32_t length,
                                       std::size_t maxPagesPerPiece, const ValuePieceTaker& take);

// The size in bytes of the cache db was opened with; 0 when it cannot be known.
u_int64_t DbCacheBytes(Db* db);

// The size in bytes of db's file; 0 when it cannot be known.
u_int64_t DbFileBytes(Db* db);

}  // namespace Ombrix
