// Secrets kept out of swap: the per-page counting, seen through its own functions and
// through what the kernel reports as locked (VmLck). Every case runs in a forked child, so
// that nothing else of the test process has memory locked.
#include "framework/MemoryLock.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "framework/Data.h"
#include "framework/SecretString.h"
#include "framework/SecureWipe.h"
#include "support/ChildProcess.h"

using namespace Ombrix;

namespace {

// AddressSanitizer and ThreadSanitizer turn mlock() into nothing: there the kernel's figure
// cannot follow, and its checks pass.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kKernelSeesLocks = false;
#else
constexpr bool kKernelSeesLocks = true;
#endif

// Kilobytes of this process's memory that the kernel keeps locked.
long LockedKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmLck:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Runs body in a forked child, where CHECK collects the text of every condition that failed.
void InChild(const std::function<std::string()>& body) {
    const testsupport::ForkResult result = testsupport::RunForked(body);
    ASSERT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0);
    EXPECT_EQ(result.report, "");
}
#define CHECK(condition) (failures += (condition) ? "" : #condition "; ")
#define CHECK_KERNEL(condition) CHECK(!kKernelSeesLocks || (condition))

const long kPage = ::sysconf(_SC_PAGESIZE);
const long kPageKb = kPage / 1024;

}  // namespace

TEST(MemoryLockTest, APageStaysLockedWhileAnyBlockOnItLives) {
    InChild([] {
        std::string failures;
        char* pages = static_cast<char*>(std::aligned_alloc(kPage, 3 * kPage));
        const long before = LockedKilobytes();
        char* a = pages + 16;
        char* b = pages + kPage / 2;
        LockMemory(a, 32);
        LockMemory(b, 64);
        CHECK(LockedBlocksOnPage(pages) == 2 && PageKeptInMemory(pages + kPage - 1));
        CHECK_KERNEL(LockedKilobytes() == before + kPageKb);
        UnlockMemory(a, 32);  // b still lives on the page
        CHECK(LockedBlocksOnPage(b) == 1 && PageKeptInMemory(b));
        CHECK_KERNEL(LockedKilobytes() == before + kPageKb);

        LockMemory(pages + kPage - 8, 16);  // across a page boundary: counts on both pages
        CHECK(LockedBlocksOnPage(pages) == 2 && LockedBlocksOnPage(pages + kPage) == 1);
        CHECK(LockedBlocksOnPage(pages + 2 * kPage) == 0);
        CHECK_KERNEL(LockedKilobytes() == before + 2 * kPageKb);
        UnlockMemory(b, 64);
        CHECK(LockedBlocksOnPage(pages) == 1);
        UnlockMemory(pages + kPage - 8, 16);
        CHECK(LockedBlocksOnPage(pages) == 0 && !PageKeptInMemory(pages));
        CHECK(LockedBlocksOnPage(pages + kPage) == 0);
        CHECK_KERNEL(LockedKilobytes() == before);

        UnlockMemory(pages, 10);  // without a lock, and empty blocks: nothing changes
        LockMemory(pages, 0);
        LockMemory(nullptr, 10);
        CHECK(LockedBlocksOnPage(pages) == 0);
        std::free(pages);
        return failures;
    });
}

TEST(MemoryLockTest, SecretsAreLockedWhileTheyLiveAndStillWorkBeyondTheLimit) {
    InChild([] {
        std::string failures;
        const long before = LockedKilobytes();
        volatile std::uintptr_t where = 0;  // only the address: the block is gone when checked
        const auto gone = [&where] { return reinterpret_cast<const void*>(where); };
        {
            SecretString password("master password 1");
            where = reinterpret_cast<std::uintptr_t>(password.data());
            CHECK(LockedBlocksOnPage(password.data()) >= 1 && PageKeptInMemory(password.data()));
            CHECK_KERNEL(LockedKilobytes() > before);
            for (int i = 0; i < 5000; ++i) {
                password.push_back('x');  // regrows several times
            }
            CHECK(PageKeptInMemory(password.data() + 4999));
        }
        CHECK(LockedBlocksOnPage(gone()) == 0);
        {
            Data<unsigned char> block;
            block.Extend(64 * 1024);  // about a picture block
            where = reinterpret_cast<std::uintptr_t>(block.m_pBuffer + 40000);
            CHECK(PageKeptInMemory(block.m_pBuffer + 40000));
        }
        CHECK(LockedBlocksOnPage(gone()) == 0);

        // A key held inside an object of another library: locked before it is made, still
        // locked while its own destructor wipes it, released afterwards.
        struct Key {
            unsigned char bytes[16] = {};
            bool* lockedAtWipe;
            explicit Key(bool* flag) : lockedAtWipe(flag) {}
            ~Key() {
                *lockedAtWipe = LockedBlocksOnPage(bytes) >= 1;
                SecureWipe(bytes, sizeof bytes);
            }
        };
        bool lockedAtWipe = false;
        {
            LockedBox<Key> box(&lockedAtWipe);
            where = reinterpret_cast<std::uintptr_t>(box->bytes);
            CHECK(LockedBlocksOnPage(box->bytes) >= 1 && PageKeptInMemory(box->bytes + 15));
        }
        CHECK(lockedAtWipe && LockedBlocksOnPage(gone()) == 0);
        CHECK_KERNEL(LockedKilobytes() == before);

        // Without the right to lock beyond the limit (root has it), and with no limit left.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        const rlimit none{0, 0};
        CHECK(::syscall(SYS_capget, &header, caps) == 0);
        caps[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
        CHECK(::syscall(SYS_capset, &header, caps) == 0);
        CHECK(::setrlimit(RLIMIT_MEMLOCK, &none) == 0);
        SecretString password("still usable");
        password += " text";
        CHECK(password.view() == "still usable text");
        CHECK(LockedBlocksOnPage(password.data()) >= 1);
        CHECK_KERNEL(!PageKeptInMemory(password.data()) && LockedKilobytes() == 0);
        return failures;
    });
}
