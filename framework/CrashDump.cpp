#include "framework/CrashDump.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <typeinfo>

namespace Ombrix {

// Everything below that runs inside the signal handler is async-signal-safe: no heap, no
// stdio, no locks; numbers are formatted by hand into stack buffers and written with write.
namespace {

const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Settings taken at installation. They are written by Install (normally once, at start-up,
// before any other thread exists) and only read by the handler.
struct Settings {
    char namePrefix[kMaxDumpFileName + 1] = {};  // "<path>dump_<name>"
    std::size_t prefixLength = 0;
    bool nameFits = false;
    long utcOffsetSeconds = 0;
};
Settings g_settings;

// Why the process is being aborted, when the terminate handler knows it.
char g_reason[1024] = {};
std::atomic<bool> g_haveReason{false};

// The thread that writes the report; 0 while nobody does.
std::atomic<long> g_writer{0};

// The ".dmp" stamp: "_YYYY_MM_DD_hh_mm_ss.dmp".
constexpr std::size_t kStampLength = 24;

void WriteAll(int fd, const char* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t written = ::write(fd, data + done, n - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

std::size_t Length(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') {
        ++n;
    }
    return n;
}

// Appends to a fixed buffer and writes it out to a descriptor when full or flushed.
class Output {
public:
    explicit Output(int fd) : m_fd(fd) {}
    ~Output() { Flush(); }

    void Text(const char* text) { Bytes(text, Length(text)); }

    void Bytes(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (m_used == sizeof m_buffer) {
                Flush();
            }
            m_buffer[m_used++] = data[i];
        }
    }

    void Decimal(long long value, int width = 0) {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long long magnitude =
            negative ? 0ULL - static_cast<unsigned long long>(value) : value;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n < width) {
            digits[n++] = '0';
        }
        if (negative) {
            digits[n++] = '-';
        }
        while (n > 0) {
            Bytes(&digits[--n], 1);
        }
    }

    void Hex(std::uintptr_t value) {
        char digits[2 + 2 * sizeof value];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 0xF];
            value >>= 4;
        } while (value != 0);
        Text("0x");
        while (n > 0) {
            Bytes(&digits[--n], 1);
        }
    }

    void Flush() {
        WriteAll(m_fd, m_buffer, m_used);
        m_used = 0;
    }

private:
    int m_fd;
    char m_buffer[512];
    std::size_t m_used = 0;
};

// A writer into a fixed character array, for the file name.
struct NameBuffer {
    char text[kMaxDumpFileName + 1];
    std::size_t used = 0;

    void Put(char c) {
        if (used < kMaxDumpFileName) {
            text[used++] = c;
        }
        text[used] = '\0';
    }
    void Number(int value, int width) {
        char digits[12];
        int n = 0;
        unsigned magnitude = value < 0 ? 0u : static_cast<unsigned>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n < width) {
            digits[n++] = '0';
        }
        while (n > 0) {
            Put(digits[--n]);
        }
    }
};

struct CivilTime {
    int year, month, day, hour, minute, second;
};

// Local calendar time from the clock and the offset taken at installation: days since the
// epoch to a proleptic Gregorian date by integer arithmetic.
CivilTime NowLocal() {
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    long long seconds = static_cast<long long>(now.tv_sec) + g_settings.utcOffsetSeconds;
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    t.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    t.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    return t;
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

std::uintptr_t InstructionPointer(void* context) {
    if (context == nullptr) {
        return 0;
    }
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

void CopyMemoryMap(int fd) {
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) {
        return;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(maps, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        WriteAll(fd, chunk, static_cast<std::size_t>(n));
    }
    ::close(maps);
}

void WriteReport(int fd, int signal, const siginfo_t* info, void* context, long thread,
                 const CivilTime& t) {
    {
        Output out(fd);
        out.Text("Ombrix crash report\ntime: ");
        out.Decimal(t.year, 4);
        out.Text("-");
        out.Decimal(t.month, 2);
        out.Text("-");
        out.Decimal(t.day, 2);
        out.Text(" ");
        out.Decimal(t.hour, 2);
        out.Text(":");
        out.Decimal(t.minute, 2);
        out.Text(":");
        out.Decimal(t.second, 2);
        out.Text("\nsignal: ");
        out.Decimal(signal);
        out.Text(" (");
        out.Text(SignalName(signal));
        out.Text(")\nsignal code: ");
        out.Decimal(info != nullptr ? info->si_code : 0);
        if (info != nullptr && info->si_code > 0) {
            // Raised by the processor: the address that could not be used.
            out.Text("\nfault address: ");
            out.Hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
        } else if (info != nullptr) {
            out.Text("\nsent by process id: ");
            out.Decimal(info->si_pid);
        }
        out.Text("\ninstruction pointer: ");
        out.Hex(InstructionPointer(context));
        out.Text("\nprocess id: ");
        out.Decimal(::getpid());
        out.Text("\nthread id: ");
        out.Decimal(thread);
        if (g_haveReason.load()) {
            out.Text("\nreason: ");
            out.Text(g_reason);
        }
        out.Text("\n\nbacktrace:\n");
    }
    void* frames[128];
    const int depth = ::backtrace(frames, 128);
    ::backtrace_symbols_fd(frames, depth, fd);
    Output(fd).Text("\nmemory map:\n");
    CopyMemoryMap(fd);
}

[[noreturn]] void DieOf(int signal) {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: the default action ends the process
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (!g_writer.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            DieOf(signal);  // the writer itself failed: give up on the report
        }
        // Another thread is writing the report and will end the process.
        for (;;) {
            ::pause();
        }
    }
    const CivilTime t = NowLocal();
    int fd = -1;
    NameBuffer name;
    if (g_settings.nameFits) {
        for (std::size_t i = 0; i < g_settings.prefixLength; ++i) {
            name.Put(g_settings.namePrefix[i]);
        }
        name.Put('_');
        name.Number(t.year, 4);
        for (int part : {t.month, t.day, t.hour, t.minute, t.second}) {
            name.Put('_');
            name.Number(part, 2);
        }
        for (const char* end = ".dmp"; *end != '\0'; ++end) {
            name.Put(*end);
        }
        fd = ::open(name.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    if (fd >= 0) {
        WriteReport(fd, signal, info, context, self, t);
        ::close(fd);
        Output err(STDERR_FILENO);
        err.Text("fatal signal ");
        err.Decimal(signal);
        err.Text(", crash report written to ");
        err.Text(name.text);
        err.Text("\n");
    } else {
        WriteReport(STDERR_FILENO, signal, info, context, self, t);
    }
    errno = savedErrno;
    DieOf(signal);
}

// Appends text to the reason, cutting it at the buffer's end.
void AddReason(std::size_t& used, const char* text) {
    while (*text != '\0' && used + 1 < sizeof g_reason) {
        g_reason[used++] = *text++;
    }
    g_reason[used] = '\0';
}

// An exception escaped every handler: note what it was, then abort, which the signal
// handler reports. This runs in ordinary (not signal) context, so it may allocate.
void OnTerminate() {
    std::size_t used = 0;
    std::exception_ptr current = std::current_exception();
    if (!current) {
        AddReason(used, "terminate called without an active exception");
    } else {
        AddReason(used, "uncaught exception");
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            AddReason(used, " of type ");
            AddReason(used, status == 0 && readable != nullptr ? readable : type->name());
            std::free(readable);
        }
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            AddReason(used, ": ");
            AddReason(used, e.what());
        } catch (...) {
        }
    }
    g_haveReason.store(true);
    std::abort();
}

long LocalUtcOffset() {
    const std::time_t now = std::time(nullptr);
    struct tm local = {};
    if (::localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

}  // namespace

std::string ComposeDumpFileName(const std::string& outputPath, const std::string& dumpName,
                                int year, int month, int day, int hour, int minute, int second) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "_%04d_%02d_%02d_%02d_%02d_%02d.dmp", year, month, day, hour,
                  minute, second);
    return outputPath + "dump_" + dumpName + stamp;
}

void InstallCrashDumpWriter(const std::string& dumpName, const std::string& outputPath) {
    const std::string prefix = outputPath + "dump_" + (dumpName.empty() ? "ombrix" : dumpName);
    g_settings.nameFits = prefix.size() + kStampLength <= kMaxDumpFileName;
    g_settings.prefixLength = g_settings.nameFits ? prefix.size() : 0;
    std::memcpy(g_settings.namePrefix, prefix.data(), g_settings.prefixLength);
    g_settings.namePrefix[g_settings.prefixLength] = '\0';
    g_settings.utcOffsetSeconds = LocalUtcOffset();

    // The first backtrace may load the unwinder and allocate; do it now, not in a crash. One
    // frame is enough for that: each frame more looks up the unwind tables of another
    // function, which only brings more of the program's file into memory.
    void* frames[1];
    ::backtrace(frames, 1);

    // The installing thread (the main thread) keeps its signal stack for the whole run.
    static AlternateSignalStack mainThreadStack;

    struct sigaction action = {};
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (int signal : kFatalSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    std::set_terminate(&OnTerminate);
}

AlternateSignalStack::AlternateSignalStack() {
    stack_t current = {};
    if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
        return;  // the thread has one already (or it cannot be asked)
    }
    const long minimum = ::sysconf(_SC_MINSIGSTKSZ);
    std::size_t size = 64 * 1024;
    if (minimum > 0 && static_cast<std::size_t>(minimum) * 4 > size) {
        size = static_cast<std::size_t>(minimum) * 4;
    }
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return;
    }
    stack_t stack = {};
    stack.ss_sp = memory;
    stack.ss_size = size;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, size);
        return;
    }
    m_memory = memory;
    m_size = size;
}

AlternateSignalStack::~AlternateSignalStack() {
    if (m_memory == nullptr) {
        return;
    }
    stack_t off = {};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(m_memory, m_size);
}

}  // namespace Ombrix
