// The helper of the fault-injection tests, on the vault in a program directory:
//     vault_fault_child <directory> <first operation>
//         runs the fault model's operations first, first + 1, ... until it is killed, and
//         reports "<n>" on standard output as soon as operation n has returned.
//     vault_fault_child <directory> <operation | master> <event> [torn | cut | cut-names]
//         runs that one operation ("master": a backup, then a change of the master password)
//         and stops just before the given event (counted from 1): a write, truncation,
//         rename, link or removal of a file, or a flush of a file or the folder, by the
//         database library or the program. It kills itself (SIGKILL), after writing half of
//         the write with "torn". With "cut" the power fails: the folder is laid out as the
//         disk is sure to hold it (the names as of the folder's last flush, each file's content
//         as of its last flush) and the helper exits; "cut-names" keeps the names as they
//         stand (a file system that writes names at once). Reports "<n> events <count>" when
//         the operation made fewer events.
#include <db.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "framework/DurableFile.h"
#include "vault/FaultModel.h"
#include "vault/VaultBackup.h"

namespace {

long g_stopAt = 0;   // 0: never stop
std::string g_mode;  // "", "torn", "cut" or "cut-names"
long g_events = 0;
std::string g_directory;

void Report(const std::string& line) {
    const std::string text = line + "\n";
    // One write call per line, so that a kill never leaves half a line.
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) {
        std::_Exit(3);
    }
}

// What the disk is sure to hold: each file's content as of its last flush, by inode, and the
// folder's names as of its last flush.
std::map<ino_t, std::string> g_durableContent;
std::map<std::string, ino_t> g_durableNames;

std::map<std::string, ino_t> CurrentNames() {
    std::map<std::string, ino_t> names;
    if (DIR* folder = ::opendir(g_directory.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
            struct stat info {};
            const std::string path = g_directory + entry->d_name;
            if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                names[entry->d_name] = info.st_ino;
            }
        }
        ::closedir(folder);
    }
    return names;
}

// Takes what path (a file, or the folder) holds now as flushed to disk.
void RecordFlush(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        g_durableNames = CurrentNames();
    } else {
        g_durableContent[info.st_ino] = testsupport::ReadFile(path);
    }
}

// Lays the folder out as it would be found after the power came back, then ends.
[[noreturn]] void CutPower() {
    const std::map<std::string, ino_t> names =
        g_mode == "cut-names" ? CurrentNames() : g_durableNames;
    for (const auto& [name, inode] : CurrentNames()) {
        ::unlink((g_directory + name).c_str());
    }
    for (const auto& [name, inode] : names) {
        const auto found = g_durableContent.find(inode);
        testsupport::WriteFile(g_directory + name,
                               found == g_durableContent.end() ? "" : found->second);
    }
    Report("cut " + std::to_string(g_events));
    std::_Exit(0);
}

// Counts the events and stops at the chosen one. Called with the arguments of a write (none
// for other events).
void BeforeEvent(int fd = -1, const void* data = nullptr, size_t size = 0, off_t offset = 0,
                 bool positioned = false) {
    if (++g_events != g_stopAt) {
        return;
    }
    if (g_mode.rfind("cut", 0) == 0) {
        CutPower();
    }
    if (g_mode == "torn" && data != nullptr) {
        const size_t half = size / 2;
        const ssize_t written =
            positioned ? ::pwrite(fd, data, half, offset) : ::write(fd, data, half);
        (void)written;
    }
    ::kill(::getpid(), SIGKILL);
}

ssize_t CountedWrite(int fd, const void* data, size_t size) {
    BeforeEvent(fd, data, size, 0, false);
    return ::write(fd, data, size);
}

int CountedFsync(int fd) {
    BeforeEvent();
    const int result = ::fsync(fd);
    if (result == 0) {
        RecordFlush("/proc/self/fd/" + std::to_string(fd));
    }
    return result;
}

// Every call that changes or flushes a file, of the database library and of the program's
// durable file writer, goes through BeforeEvent.
void CountEvents() {
    db_env_set_func_write(CountedWrite);
    db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
        BeforeEvent(fd, data, size, offset, true);
        return ::pwrite(fd, data, size, offset);
    });
    db_env_set_func_ftruncate(
        [](int fd, off_t length) { return BeforeEvent(), ::ftruncate(fd, length); });
    db_env_set_func_fsync(CountedFsync);
    db_env_set_func_rename(
        [](const char* from, const char* to) { return BeforeEvent(), std::rename(from, to); });
    db_env_set_func_unlink([](const char* path) { return BeforeEvent(), ::unlink(path); });
    Ombrix::FileCalls& calls = Ombrix::DurableFileCalls();
    calls.write = CountedWrite;
    calls.fsync = CountedFsync;
    calls.rename = [](const char* from, const char* to) {
        return BeforeEvent(), std::rename(from, to);
    };
    calls.link = [](const char* existing, const char* name) {
        return BeforeEvent(), ::link(existing, name);
    };
    calls.unlink = [](const char* path) { return BeforeEvent(), ::unlink(path); };
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
    // Opens the file before anything is counted, as the program does at start-up.
    if (!store.VaultExists(g_directory)) {
        Report("no vault");
        return 1;
    }
    RecordFlush(g_directory);
    for (const auto& [name, inode] : g_durableNames) {
        RecordFlush(g_directory + name);
    }
    g_events = 0;
    if (g_stopAt > 0) {
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
    } else {
        for (;; ++n) {
            faultmodel::RunOperation(n, store, g_directory);
            Report(std::to_string(n));
        }
    }
    vaulttest::CloseDevice();
    return 0;
}
