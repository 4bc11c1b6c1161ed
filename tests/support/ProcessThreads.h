// The number of threads of the running process, to check that nothing was left behind.
#pragma once

#include <filesystem>

namespace testsupport {

inline int CountProcessThreads() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

}  // namespace testsupport
