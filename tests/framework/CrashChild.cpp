// A program that installs the crash-report writer and then dies the way it is told to:
//     crash_child <how> [dump name] [output path]
// how: null-write, abort, throw, overflow, thread-throw, framework (starts the framework
// from config.txt in the working directory, then writes through a null pointer).
// With the prefix "undumpable-" it turns core dumps off first, as the program does at
// start-up; "undumpable-wait" then prints "ready" and waits to be killed.
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "framework/AppFramework.h"
#include "framework/CrashDump.h"
#include "framework/ProcessGuard.h"

// Exported (the program is linked with its symbols visible), so they show in the backtrace.
// The undefined-behaviour sanitizer would stop the program before the store faults.
extern "C" __attribute__((noinline, no_sanitize("undefined"))) void CrashChildNullWrite() {
    // Both the pointer and the target are volatile: the compiler can neither see that the
    // pointer is null nor drop the store.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

volatile bool g_deeper = true;  // always true; the compiler cannot know it

extern "C" __attribute__((noinline)) int CrashChildRecurse(int depth) {
    if (!g_deeper) {
        return depth;
    }
    volatile char ballast[1024];
    ballast[0] = static_cast<char>(depth);
    return CrashChildRecurse(depth + 1) + ballast[0];
}

extern "C" __attribute__((noinline)) void CrashChildThrow() {
    throw std::runtime_error("nobody catches this");
}

int main(int argc, char** argv) {
    // No core file: the report is what the test looks at.
    const rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);

    if (argc < 2) {
        std::cerr << "usage: crash_child <how> [dump name] [output path]\n";
        return 2;
    }
    std::string how = argv[1];
    const std::string undumpable = "undumpable-";
    if (how.compare(0, undumpable.size(), undumpable) == 0) {
        if (!Ombrix::DisableCoreDumps()) {
            std::cerr << "core dumps could not be turned off\n";
            return 4;
        }
        how.erase(0, undumpable.size());
        if (how == "wait") {
            std::cout << "ready" << std::endl;
            for (;;) {
                ::pause();
            }
        }
    }
    if (how == "framework") {
        Ombrix::MyFramework::Instance().Init();
        CrashChildNullWrite();
        return 0;
    }
    Ombrix::InstallCrashDumpWriter(argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "");
    if (how == "null-write") {
        CrashChildNullWrite();
    } else if (how == "abort") {
        std::abort();
    } else if (how == "throw") {
        CrashChildThrow();
    } else if (how == "overflow") {
        return CrashChildRecurse(0);
    } else if (how == "thread-throw") {
        std::thread([] { CrashChildThrow(); }).join();
    }
    return 3;
}
