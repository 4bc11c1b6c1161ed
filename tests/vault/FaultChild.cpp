// The helper of the fault-injection tests, on the vault in a program directory:
//   vault_fault_child <directory> <first operation>: runs the fault model's operations from
//     that one on until it is killed, reporting "<n>" as soon as operation n has returned.
//   vault_fault_child <directory> <operation | master> <event> [torn | cut | cut-names]: runs
//     that operation ("master": a backup, then a change of the master password) and stops
//     before the given event (a write, truncation, rename, link or removal of a file, or a
//     flush): it kills itself, after half of the write with "torn"; "cut" lays the folder out
//     as the disk is sure to hold it after a power cut (names and contents as of their last
//     flush), "cut-names" with the names as they stand. Reports "<operation> events <count>"
//     when the operation made fewer events.
#include <db.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/DurableFile.h"
#include "vault/VaultBackup.h"
#include "vault/VaultTestSupport.h"

namespace {

long g_stopAt = 0;  // 0: never stop
long g_events = 0;
std::string g_mode, g_directory;
// What the disk is sure to hold: each file's content by inode, and the folder's names.
std::map<ino_t, std::string> g_durableContent;
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

// Lays the folder out as it would be found after the power came back, then ends.
[[noreturn]] void CutPower() {
    const auto names = g_mode == "cut-names" ? CurrentNames() : g_durableNames;
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

// Counts the events and stops at the chosen one; given a write's arguments for a write.
void BeforeEvent(int fd = -1, const void* data = nullptr, size_t size = 0, off_t offset = -1) {
    if (++g_events != g_stopAt) {
        return;
    }
    if (g_mode.rfind("cut", 0) == 0) {
        CutPower();
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

// Every call of the database library and of the program's durable file writer that changes
// or flushes a file goes through BeforeEvent.
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
    if (g_stopAt == 0) {
        for (;; ++n) {
            faultmodel::RunOperation(n, store, g_directory);
            Report(std::to_string(n));
        }
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
