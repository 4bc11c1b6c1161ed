// The kernel keeps a file's cached pages in pieces as large as the writes that made them:
// a file a database wrote a page (8 KiB) at a time stays cached in 8 KiB pieces, and every
// later read of it costs two to three times what it costs from the large pieces the
// kernel's read-ahead makes. Pages already on disk can be dropped, so that the next read
// brings them back in those pieces.
#pragma once

#include <sys/types.h>

#include <string>

namespace Ombrix {

// Drops the cached pages of the file at path from byte from to its end; the next read of them
// goes to the disk. The pages must be on disk (the file synced since they were written): a
// page not yet written back would be kept as it is. Only advice to the kernel, so a failure
// changes nothing but the speed of later reads, and is not reported.
void DropCachedPagesFrom(const std::string& path, off_t from);

}  // namespace Ombrix
