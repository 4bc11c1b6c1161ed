// The number of threads of the running process, to check that nothing was left behind.
#pragma once

#include <filesystem>
#include <iterator>
#include <thread>

namespace testsupport {

inline int CountProcessThreads() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

// The count after a first thread, with which some runtimes (TSan's) start one of their own.
inline int BaselineThreadCount() {
    std::thread([] {}).join();
    return CountProcessThreads();
}

}  // namespace testsupport
