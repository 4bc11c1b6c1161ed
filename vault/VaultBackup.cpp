#include "vault/VaultBackup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vault/VaultStore.h"

namespace {

// A file descriptor that closes itself.
class FileHandle {
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now; false when the system reports that the data could not be written.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies every byte of source into target, which is open for writing.
bool CopyContent(int source, int target) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(source, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(target, buffer, static_cast<std::size_t>(got))) {
            return false;
        }
    }
}

// Copies source to a new file target with the source's permissions. Never replaces an
// existing target; a copy that fails part-way is removed again.
bool CopyToNewFile(const std::string& source, const std::string& target) {
    FileHandle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.Valid() || ::fstat(in.Get(), &info) != 0) {
        return false;
    }
    const mode_t mode = info.st_mode & 07777;
    FileHandle out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!out.Valid()) {
        return false;  // exists already, or cannot be made: left as it is
    }
    // The creation mode passed the umask; the backup gets exactly the source's mode.
    const bool copied = ::fchmod(out.Get(), mode) == 0 && CopyContent(in.Get(), out.Get()) &&
                        ::fsync(out.Get()) == 0;
    if (!out.Close() || !copied) {
        ::unlink(target.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string VaultBackupPath(const std::string& directory, const Ombrix::LocalTime& when) {
    // Only the fixed-width part goes through a buffer; the directory is joined as a string,
    // so that no length of it can overrun anything or be cut.
    char name[64];
    std::snprintf(name, sizeof name, "ferrocask_%04d%02d%02d%02d%02d%02d.db", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
    return directory + name;
}

bool BackupVaultFile(const std::string& directory) {
    const Ombrix::LocalTime now = Ombrix::CurrentLocalTime();
    return CopyToNewFile(VaultFilePath(directory), VaultBackupPath(directory, now));
}
