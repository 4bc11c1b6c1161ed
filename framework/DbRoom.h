// Room on the disk for a database write, found before the write begins.
//
// A database without a log changes its pages in its cache and writes them out when it is
// flushed. On a full disk the pages that overwrite the file are written and those that
// extend it are not, which leaves a file whose pages point to pages it does not have. So a
// writer first makes sure that the file can grow by as much as the write may need.
#pragma once

#include <db_cxx.h>

namespace Ombrix {

// Whether the file of db can grow by enough pages to store a value of valueBytes anew:
// within the process's file size limit, and with that many disk blocks set aside beyond the
// file's end (which the database's next extension of the file then uses). True as well on a
// file system that cannot set blocks aside, where nothing can be known in advance.
bool DbMakeRoomFor(Db* db, u_int32_t valueBytes);

}  // namespace Ombrix
