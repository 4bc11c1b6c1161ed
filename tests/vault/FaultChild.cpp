// The helper of the fault-injection tests: runs the operations of the fault model on the
// vault in a program directory and reports each one as soon as it has returned, one line
// "<n>" per operation on standard output.
//
//     vault_fault_child <directory> <first operation>
//         runs operations first, first + 1, ... until it is killed.
//     vault_fault_child <directory> <operation> <write number> [torn]
//         runs that one operation and kills itself with SIGKILL just before the given change
//         of the database file (a write, or a truncation when the database frees its last
//         page; counted from 1), or, with "torn", after writing only the first half of it.
//         Reports "<n> writes <count>" when the operation made fewer changes.
#include <db.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "vault/FaultModel.h"

namespace {

long g_stopAtWrite = 0;  // 0: never stop
bool g_tearWrite = false;
long g_writes = 0;

void Report(const std::string& line) {
    const std::string text = line + "\n";
    // One write call per line, so that a kill never leaves half a line.
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) {
        std::_Exit(3);
    }
}

// Counts the changes of the file and dies at the chosen one. Called with the arguments of
// the write (none for a truncation).
void BeforeWrite(int fd, const void* data, size_t size, off_t offset, bool positioned) {
    if (++g_writes != g_stopAtWrite) {
        return;
    }
    if (g_tearWrite && data != nullptr) {
        const size_t half = size / 2;
        const ssize_t written =
            positioned ? ::pwrite(fd, data, half, offset) : ::write(fd, data, half);
        (void)written;
    }
    ::kill(::getpid(), SIGKILL);
}

ssize_t CountedWrite(int fd, const void* data, size_t size) {
    BeforeWrite(fd, data, size, 0, false);
    return ::write(fd, data, size);
}

ssize_t CountedPwrite(int fd, const void* data, size_t size, off_t offset) {
    BeforeWrite(fd, data, size, offset, true);
    return ::pwrite(fd, data, size, offset);
}

int CountedTruncate(int fd, off_t length) {
    BeforeWrite(fd, nullptr, 0, 0, false);
    return ::ftruncate(fd, length);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Report("usage: vault_fault_child <directory> <first operation> [write number [torn]]");
        return 2;
    }
    const std::string directory = argv[1];
    int n = std::atoi(argv[2]);
    if (argc > 3) {
        g_stopAtWrite = std::atol(argv[3]);
        g_tearWrite = argc > 4 && std::strcmp(argv[4], "torn") == 0;
        db_env_set_func_write(CountedWrite);
        db_env_set_func_pwrite(CountedPwrite);
        db_env_set_func_ftruncate(CountedTruncate);
    }

    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
    VaultStore store;
    // Opens the file before anything is counted, as the program does at start-up.
    if (!store.VaultExists(directory)) {
        Report("no vault");
        return 1;
    }
    g_writes = 0;
    if (g_stopAtWrite > 0) {
        faultmodel::RunOperation(n, store, directory);
        Report(std::to_string(n) + " writes " + std::to_string(g_writes));
    } else {
        for (;; ++n) {
            faultmodel::RunOperation(n, store, directory);
            Report(std::to_string(n));
        }
    }
    Ombrix::DeviceManager::DestroyInstance();
    return 0;
}
