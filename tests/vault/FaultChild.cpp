// The fault-injection helper. "<directory> <n>": runs operations n, n + 1, ..., reporting
// each as it returns. "<directory> <n | master> <event> [torn | cut | cut-names]": stops that
// operation (master: a backup and a master-password change) before the given file change or
// flush, killed (after half the write if torn), or as a power cut leaves the folder: names
// as of the folder's last flush (or as they stand) and contents as of each file's last flush.
#include <db.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/DurableFile.h"
#include "vault/VaultBackup.h"
#include "vault/VaultTestSupport.h"

namespace {
long g_stopAt = 0, g_events = 0;
std::string g_mode, g_directory;
std::map<ino_t, std::string> g_durableContent;  // by inode
std::map<std::string, ino_t> g_durableNames;

void Report(const std::string& line) {
    const std::string text = line + "\n";  // one write, so a kill never leaves half a line
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

std::map<std::string, ino_t> CurrentNames() {
    std::map<std::string, ino_t> names;
    for (const std::string& name : testsupport::ListFiles(g_directory)) {
        struct stat info {};
        if (::stat((g_directory + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            names[name] = info.st_ino;
        }
    }
    return names;
}

void RecordFlush(const std::string& path) {
    struct stat info {};
    (void)::stat(path.c_str(), &info);
    if (S_ISDIR(info.st_mode)) {
        g_durableNames = CurrentNames();
    } else if (S_ISREG(info.st_mode)) {
        g_durableContent[info.st_ino] = testsupport::ReadFile(path);
    }
}

void BeforeEvent(int fd = -1, const void* data = nullptr, size_t size = 0, off_t offset = -1) {
    if (++g_events != g_stopAt) {
        return;
    }
    if (g_mode.rfind("cut", 0) == 0) {
        const auto names = g_mode == "cut-names" ? CurrentNames() : g_durableNames;
        for (const auto& [name, inode] : CurrentNames()) {
            ::unlink((g_directory + name).c_str());
        }
        for (const auto& [name, inode] : names) {
            testsupport::WriteFile(g_directory + name, g_durableContent[inode]);
        }
        Report("cut " + std::to_string(g_events));
        std::_Exit(0);
    }
    if (g_mode == "torn" && data != nullptr) {
        (void)(offset < 0 ? ::write(fd, data, size / 2) : ::pwrite(fd, data, size / 2, offset));
    }
    ::kill(::getpid(), SIGKILL);
}

ssize_t CountedWrite(int fd, const void* data, size_t size) {
    return BeforeEvent(fd, data, size), ::write(fd, data, size);
}
int CountedFsync(int fd) {
    BeforeEvent();
    const int result = ::fsync(fd);
    if (result == 0) {
        RecordFlush("/proc/self/fd/" + std::to_string(fd));
    }
    return result;
}
int CountedRename(const char* from, const char* to) {
    return BeforeEvent(), std::rename(from, to);
}
int CountedUnlink(const char* path) {
    return BeforeEvent(), ::unlink(path);
}

void CountEvents() {
    db_env_set_func_write(CountedWrite);
    db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
        return BeforeEvent(fd, data, size, offset), ::pwrite(fd, data, size, offset);
    });
    db_env_set_func_ftruncate(
        [](int fd, off_t size) { return BeforeEvent(), ::ftruncate(fd, size); });
    db_env_set_func_fsync(CountedFsync);
    db_env_set_func_rename(CountedRename);
    db_env_set_func_unlink(CountedUnlink);
    Ombrix::FileCalls& calls = Ombrix::DurableFileCalls();
    calls.write = CountedWrite;
    calls.fsync = CountedFsync;
    calls.rename = CountedRename;
    calls.link = [](const char* from, const char* to) { return BeforeEvent(), ::link(from, to); };
    calls.unlink = CountedUnlink;
}
}  // namespace

int main(int argc, char** argv) {
    g_directory = argv[1];
    const std::string operation = argv[2];
    int n = std::atoi(argv[2]);  // 0 for "master"
    if (argc > 3) {
        g_stopAt = std::atol(argv[3]);
        g_mode = argc > 4 ? argv[4] : "";
        CountEvents();
    }
    vaulttest::OpenDevice();
    VaultStore store;
    store.VaultExists(g_directory);  // opens the file before anything counts, as at start-up
    RecordFlush(g_directory);
    for (const auto& [name, inode] : g_durableNames) {
        RecordFlush(g_directory + name);
    }
    g_events = 0;
    for (; g_stopAt == 0; ++n) {
        faultmodel::RunOperation(n, store, g_directory);
        Report(std::to_string(n));
    }
    if (operation == "master") {
        Ombrix::Data<unsigned char> picture;
        vaulttest::MakePicture(picture, 2);
        BackupVaultFile(g_directory);
        store.SetMasterPassword(picture, g_directory, faultmodel::kNewMasterPassword,
                                faultmodel::kMasterPassword);
    } else {
        faultmodel::RunOperation(n, store, g_directory);
    }
    Report(operation + " events " + std::to_string(g_events));
    vaulttest::CloseDevice();
}
