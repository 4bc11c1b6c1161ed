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

// The count to compare against later, after a thread was started and joined: some runtimes
// (the thread sanitizer's) start a helper thread of their own with the first new thread.
inline int BaselineThreadCount() {
    std::thread([] {}).join();
    return CountProcessThreads();
}

}  // namespace testsupport
