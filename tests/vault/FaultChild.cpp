// The helper of the fault-injection tests: runs the operations of the fault model on the
// vault in a program directory and reports each one as soon as it has returned, one line
// "<n>" per operation on standard output.
//
//     vault_fault_child <directory> <first operation>
//         runs operations first, first + 1, ... until it is killed.
//     vault_fault_child <directory> <operation> <event> [torn | cut | cut-names]
//         runs that one operation (or "master": a backup, then a change of the master
//         password) and stops at the given event (counted from 1): a change of a file (a
//         write, a truncation, a rename, a link, a removal) or a flush (of a file or a
//         folder), whoever makes it, the database library or the program.
//         Without a mode it kills itself with SIGKILL just before the event; with "torn" it
//         first writes half of a write. With "cut" the power fails just before the event: the
//         folder is put back to what the disk is sure to hold, the names as of the folder's
//         last flush and each file's content as of its last flush (nothing for a file never
//         flushed), and the helper exits. "cut-names" keeps every name as it is (as a file
//         system that writes names at once would) with the same contents.
//         Reports "<n> events <count>" when the operation made fewer events.
#include <db.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "framework/DurableFile.h"
#include "vault/FaultModel.h"
#include "vault/VaultBackup.h"

namespace {

enum class Stop { kKill, kTorn, kCut, kCutNames };

long g_stopAt = 0;  // 0: never stop
Stop g_stop = Stop::kKill;
long g_events = 0;
std::string g_directory;

void Report(const std::string& line) {
    const std::string text = line + "\n";
    // One write call per line, so that a kill never leaves half a line.
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) {
        std::_Exit(3);
    }
}

std::string Content(int fd) {
    std::string content;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got <= 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        at += got;
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

void RecordFlush(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        g_durableNames = CurrentNames();
        return;
    }
    const int reader = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY);
    g_durableContent[info.st_ino] = Content(reader);
    ::close(reader);
}

void RecordEverything() {
    g_durableNames = CurrentNames();
    for (const auto& [name, inode] : g_durableNames) {
        const int fd = ::open((g_directory + name).c_str(), O_RDONLY);
        g_durableContent[inode] = Content(fd);
        ::close(fd);
    }
}

// Lays the folder out as it would be found after the power came back, then ends.
[[noreturn]] void CutPower() {
    const std::map<std::string, ino_t> names =
        g_stop == Stop::kCutNames ? CurrentNames() : g_durableNames;
    std::map<std::string, std::string> files;
    for (const auto& [name, inode] : names) {
        auto found = g_durableContent.find(inode);
        files[name] = found == g_durableContent.end() ? std::string() : found->second;
    }
    for (const auto& [name, inode] : CurrentNames()) {
        ::unlink((g_directory + name).c_str());
    }
    for (const auto& [name, content] : files) {
        const int fd = ::open((g_directory + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 ||
            ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
            std::_Exit(4);
        }
        ::close(fd);
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
    if (g_stop == Stop::kCut || g_stop == Stop::kCutNames) {
        CutPower();
    }
    if (g_stop == Stop::kTorn && data != nullptr) {
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

ssize_t CountedPwrite(int fd, const void* data, size_t size, off_t offset) {
    BeforeEvent(fd, data, size, offset, true);
    return ::pwrite(fd, data, size, offset);
}

int CountedTruncate(int fd, off_t length) {
    BeforeEvent();
    return ::ftruncate(fd, length);
}

int CountedFsync(int fd) {
    BeforeEvent();
    const int result = ::fsync(fd);
    if (result == 0) {
        RecordFlush(fd);
    }
    return result;
}

int CountedRename(const char* from, const char* to) {
    BeforeEvent();
    return std::rename(from, to);
}

int CountedLink(const char* existing, const char* name) {
    BeforeEvent();
    return ::link(existing, name);
}

int CountedUnlink(const char* path) {
    BeforeEvent();
    return ::unlink(path);
}

void CountEvents() {
    db_env_set_func_write(CountedWrite);
    db_env_set_func_pwrite(CountedPwrite);
    db_env_set_func_ftruncate(CountedTruncate);
    db_env_set_func_fsync(CountedFsync);
    db_env_set_func_rename(CountedRename);
    db_env_set_func_unlink(CountedUnlink);
    Ombrix::FileCalls& calls = Ombrix::DurableFileCalls();
    calls.write = CountedWrite;
    calls.fsync = CountedFsync;
    calls.rename = CountedRename;
    calls.link = CountedLink;
    calls.unlink = CountedUnlink;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Report("usage: vault_fault_child <directory> <first operation> [event [mode]]");
        return 2;
    }
    g_directory = argv[1];
    const bool master = std::strcmp(argv[2], "master") == 0;
    int n = master ? 0 : std::atoi(argv[2]);
    if (argc > 3) {
        g_stopAt = std::atol(argv[3]);
        const std::string mode = argc > 4 ? argv[4] : "";
        g_stop = mode == "torn"        ? Stop::kTorn
                 : mode == "cut"       ? Stop::kCut
                 : mode == "cut-names" ? Stop::kCutNames
                                       : Stop::kKill;
        CountEvents();
    }

    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
    VaultStore store;
    // Opens the file before anything is counted, as the program does at start-up.
    if (!store.VaultExists(g_directory)) {
        Report("no vault");
        return 1;
    }
    RecordEverything();
    g_events = 0;
    if (g_stopAt > 0) {
        if (master) {
            Ombrix::Data<unsigned char> picture;
            faultmodel::MakeRunPicture(picture, 2);
            BackupVaultFile(g_directory);
            store.SetMasterPassword(picture, g_directory, faultmodel::kNewMasterPassword,
                                    faultmodel::kMasterPassword);
        } else {
            faultmodel::RunOperation(n, store, g_directory);
        }
        Report(std::string(argv[2]) + " events " + std::to_string(g_events));
    } else {
        for (;; ++n) {
            faultmodel::RunOperation(n, store, g_directory);
            Report(std::to_string(n));
        }
    }
    Ombrix::DeviceManager::DestroyInstance();
    return 0;
}
