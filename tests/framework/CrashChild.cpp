// A program that installs the crash-report writer and then dies the way it is told to:
//     crash_child <how> [dump name] [output path]
// how: null-write, abort, throw, overflow, thread-throw, framework (starts the framework
// from config.txt in the working directory, then writes through a null pointer).
// With the prefix "undumpable-" it turns core dumps off first, as the program does at
// start-up; "undumpable-wait" then prints "ready" and waits to be killed.
#include <sys/resource.h>
#include <unistd.h>

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
    volatile int* volatile nowhere = nullptr;  // the compiler can neither see nor drop it
    *nowhere = 1;
}

volatile bool g_deeper = true;  // always true; the compiler cannot know it

extern "C" __attribute__((noinline)) int CrashChildRecurse(int depth) {
    volatile char ballast[1024];
    ballast[0] = static_cast<char>(depth);
    return g_deeper ? CrashChildRecurse(depth + 1) + ballast[0] : depth;
}

extern "C" __attribute__((noinline)) void CrashChildThrow() {
    throw std::runtime_error("nobody catches this");
}

int main(int argc, char** argv) {
    const rlimit noCore = {0, 0};  // no core file: the report is what the test looks at
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::string how = argc > 1 ? argv[1] : "";
    if (how.rfind("undumpable-", 0) == 0) {
        if (!Ombrix::DisableCoreDumps()) {
            return 4;
        }
        how.erase(0, std::string("undumpable-").size());
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
