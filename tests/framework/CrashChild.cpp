// A program that installs the crash-report writer and then dies the way it is told to:
//     crash_child <how> [dump name] [output path]
// how: null-write, abort, throw or overflow.
#include <sys/resource.h>

#include <stdexcept>
#include <string>

#include "framework/CrashDump.h"

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

int main(int argc, char** argv) {
    const rlimit noCore = {0, 0};  // no core file: the report is what the test looks at
    ::setrlimit(RLIMIT_CORE, &noCore);
    const std::string how = argc > 1 ? argv[1] : "";
    Ombrix::InstallCrashDumpWriter(argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "");
    if (how == "null-write") {
        CrashChildNullWrite();
    } else if (how == "abort") {
        std::abort();
    } else if (how == "throw") {
        throw std::runtime_error("nobody catches this");
    } else if (how == "overflow") {
        return CrashChildRecurse(0);
    }
    return 3;
}
