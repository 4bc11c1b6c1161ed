// File changes that survive a crash of the process and a loss of power: a copy is flushed
// before it is used, a rename is followed by a flush of the folder that holds the name.
//
// The calls that change files go through DurableFileCalls(), so that the fault tests can
// count them, stop the process at any one of them or make one fail, in the same way as
// Berkeley DB lets them replace its own system calls.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace Ombrix {

struct FileCalls {
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* existing, const char* name);
    int (*unlink)(const char* path);
};

// The calls in use; the system's own unless a test replaced them.
FileCalls& DurableFileCalls();

// The folder part of path, ending in '/' ("./" for a bare name).
std::string FolderOf(const std::string& path);

// Flushes the folder itself, so that names made, renamed or removed in it are on disk.
bool SyncFolder(const std::string& folder);

// Flushes the content of the file at path.
bool SyncFile(const std::string& path);

// Copies source to target, which must not exist yet (an existing file is never replaced),
// with the source's permissions. A copy that fails part-way is removed again. The copy is
// not flushed: the caller flushes it once it is complete (SyncFile).
bool CopyToNewFile(const std::string& source, const std::string& target);

// The same, for a copy that must never be seen half made, not even after a crash: the copy
// is made under a name of its own, flushed, given the name target only if no file has it
// yet, and the folder is flushed, so that the copy keeps its name across a power cut.
bool PublishCopy(const std::string& source, const std::string& target);

// Renames from over to and flushes the folder of to. False when the rename did not happen
// (to is as it was) or the folder could not be flushed (the rename did happen).
bool RenameDurably(const std::string& from, const std::string& to, bool* renamed = nullptr);

// Removes the file at path; true when no file of that name is left.
bool RemoveFile(const std::string& path);

}  // namespace Ombrix
