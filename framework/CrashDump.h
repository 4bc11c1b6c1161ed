// The crash-report writer. When the process is about to die of a fatal signal (a bad memory
// access, an illegal instruction, an arithmetic fault, an abort) or of a C++ exception that
// no handler caught, it writes a report for the developer to
//     <output path>dump_<name>_YYYY_MM_DD_hh_mm_ss.dmp
// (local time of the crash; an older file of that name is replaced) and then lets the
// process die of the original signal, so that its exit status still shows the crash.
//
// The report holds the signal, its code and fault address, the instruction pointer, the
// process and thread ids, the reason for an uncaught exception, a backtrace of the failing
// thread and the process's memory map.
#pragma once

#include <cstddef>
#include <string>

namespace Ombrix {

// Installs the writer for the whole process. The dump name (empty: "ombrix") and the output
// path are taken now: a crashing process must not read the configuration, whose lock the
// failing thread may hold. The local time zone offset is taken now too, since converting
// the time at the crash through the C library is not safe inside a signal handler. May be
// called again to change the name or the path.
//
// A name too long for a file name (prefix, name and time stamp above kMaxDumpFileName
// bytes) is never cut, since a cut name could point into another folder: the report then
// goes to the standard error stream instead of a file.
void InstallCrashDumpWriter(const std::string& dumpName, const std::string& outputPath);

// The longest file name, in bytes, that the writer uses.
constexpr std::size_t kMaxDumpFileName = 4095;

// The file name the writer uses for a crash at the given local time.
std::string ComposeDumpFileName(const std::string& outputPath, const std::string& dumpName,
                                int year, int month, int day, int hour, int minute, int second);

// Gives the calling thread a stack of its own for signal handlers while the object lives,
// so that a thread that overflows its stack is still reported. Does nothing when the thread
// has one already.
class AlternateSignalStack {
public:
    AlternateSignalStack();
    ~AlternateSignalStack();
    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

private:
    void* m_memory = nullptr;
    std::size_t m_size = 0;
};

}  // namespace Ombrix
