#include "framework/DurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace Ombrix {

namespace {

// A file descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now; false when the system reports that written data was lost.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool Flush(int fd) {
    int result;
    do {
        result = DurableFileCalls().fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = DurableFileCalls().write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The kernel keeps a file's cached pages in pieces as large as the writes that made them, and
// later reads of the file copy from big pieces faster: a big file is copied a mebibyte at a
// time, a small one in one piece.
constexpr off_t kCopyPieceBytes = 1 << 20;

bool CopyContent(int source, int target, off_t sourceBytes) {
    std::vector<char> piece(
        static_cast<std::size_t>(std::clamp<off_t>(sourceBytes, 1, kCopyPieceBytes)));
    for (;;) {
        const ssize_t got = ::read(source, piece.data(), piece.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(target, piece.data(), static_cast<std::size_t>(got))) {
            return false;
        }
    }
}

}  // namespace

FileCalls& DurableFileCalls() {
    static FileCalls calls{::write, ::fsync, ::rename, ::link, ::unlink};
    return calls;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool SyncFolder(const std::string& folder) {
    Descriptor fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() && Flush(fd.Get());
}

bool SyncFile(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.Valid() && Flush(fd.Get());
}

bool CopyToNewFile(const std::string& source, const std::string& target) {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.Valid() || ::fstat(in.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const mode_t mode = info.st_mode & 07777;
    Descriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!out.Valid()) {
        return false;  // exists already, or cannot be made: left as it is
    }
    // The creation mode passed the umask; the copy gets exactly the source's mode.
    const bool copied =
        ::fchmod(out.Get(), mode) == 0 && CopyContent(in.Get(), out.Get(), info.st_size);
    if (!out.Close() || !copied) {
        RemoveFile(target);
        return false;
    }
    return true;
}

bool PublishCopy(const std::string& source, const std::string& target) {
    const std::string partial = target + ".part";
    if (!RemoveFile(partial) || !CopyToNewFile(source, partial) || !SyncFile(partial)) {
        RemoveFile(partial);
        return false;
    }
    // A link, unlike a rename, never replaces a file that already has the name.
    const bool linked = DurableFileCalls().link(partial.c_str(), target.c_str()) == 0;
    RemoveFile(partial);
    return linked && SyncFolder(FolderOf(target));
}

bool RenameDurably(const std::string& from, const std::string& to, bool* renamed) {
    const bool moved = DurableFileCalls().rename(from.c_str(), to.c_str()) == 0;
    if (renamed != nullptr) {
        *renamed = moved;
    }
    return moved && SyncFolder(FolderOf(to));
}

bool RemoveFile(const std::string& path) {
    return DurableFileCalls().unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace Ombrix
