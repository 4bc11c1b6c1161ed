// The number of threads of the running process, to check that nothing was left behind.
#pragma once

#include <filesystem>
#include <thread>

namespace testsupport {

inline int CountProcessThreads() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

// The count to compare against later. A thread is started and joined first: some runtimes
// (the thread sanitizer's) start a helper thread of their own with the first new thread.
inline int BaselineThreadCount() {
    std::thread([] {}).join();
    return CountProcessThreads();
}

}  // namespace testsupport
