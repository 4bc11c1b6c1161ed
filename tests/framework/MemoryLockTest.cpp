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
using testsupport::RunForked;

namespace {

// AddressSanitizer and ThreadSanitizer turn mlock() into nothing: there the kernel's figure
// cannot follow.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kKernelSeesLocks = false;
#else
constexpr bool kKernelSeesLocks = true;
#endif

// Kilobytes of this process's memory that the kernel keeps locked (-1 where it cannot tell).
long LockedKilobytes() {
    if (!kKernelSeesLocks) {
        return -1;
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmLck:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Runs the checks in a child; they report failures as text, "" when all held.
void InChild(const std::function<std::string()>& checks) {
    const testsupport::ForkResult result = RunForked(checks);
    ASSERT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0);
    EXPECT_EQ(result.report, "");
}

std::string Expect(bool holds, const std::string& what) {
    return holds ? "" : what + "; ";
}

// A check of the kernel's figure, passed where it cannot tell.
std::string ExpectKernel(bool holds, const std::string& what) {
    return Expect(holds || !kKernelSeesLocks, what);
}

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
        failures += Expect(LockedBlocksOnPage(pages) == 2, "two blocks on the first page");
        failures += Expect(PageKeptInMemory(pages + kPage - 1), "first page locked");
        failures += ExpectKernel(LockedKilobytes() == before + kPageKb, "one page in VmLck");

        UnlockMemory(a, 32);  // b still lives on the page
        failures += Expect(LockedBlocksOnPage(b) == 1, "one block left");
        failures += Expect(PageKeptInMemory(b), "page still locked");
        failures += ExpectKernel(LockedKilobytes() == before + kPageKb, "page still in VmLck");

        // A block across a page boundary counts on both pages.
        LockMemory(pages + kPage - 8, 16);
        failures += Expect(LockedBlocksOnPage(pages) == 2, "boundary block on the first page");
        failures += Expect(LockedBlocksOnPage(pages + kPage) == 1, "and on the second");
        failures += Expect(LockedBlocksOnPage(pages + 2 * kPage) == 0, "not on the third");
        failures += ExpectKernel(LockedKilobytes() == before + 2 * kPageKb, "two pages in VmLck");

        UnlockMemory(b, 64);
        failures += Expect(LockedBlocksOnPage(pages) == 1, "the boundary block keeps page one");
        UnlockMemory(pages + kPage - 8, 16);
        failures += Expect(LockedBlocksOnPage(pages) == 0 && !PageKeptInMemory(pages), "all gone");
        failures += Expect(LockedBlocksOnPage(pages + kPage) == 0, "second page free");
        failures += ExpectKernel(LockedKilobytes() == before, "VmLck back");

        // An unlock without a lock, and empty blocks, change nothing.
        UnlockMemory(pages, 10);
        LockMemory(pages, 0);
        LockMemory(nullptr, 10);
        failures += Expect(LockedBlocksOnPage(pages) == 0, "nothing counted");
        std::free(pages);
        return failures;
    });
}

TEST(MemoryLockTest, SecretTextAndVaultBuffersAreLockedWhileTheyLive) {
    InChild([] {
        std::string failures;
        const long before = LockedKilobytes();
        volatile std::uintptr_t where = 0;  // only the address: the block is gone when checked
        {
            SecretString password("master password 1");
            where = reinterpret_cast<std::uintptr_t>(password.data());
            failures += Expect(LockedBlocksOnPage(password.data()) >= 1, "password counted");
            failures += Expect(PageKeptInMemory(password.data()), "password page locked");
            failures += ExpectKernel(LockedKilobytes() > before, "VmLck grew");
            for (int i = 0; i < 5000; ++i) {
                password.push_back('x');  // regrows several times
            }
            failures += Expect(PageKeptInMemory(password.data() + 4999), "grown text locked");
        }
        failures += Expect(LockedBlocksOnPage(reinterpret_cast<const void*>(where)) == 0,
                           "password page released");

        volatile std::uintptr_t picture = 0;  // only the address: the block is gone when checked
        {
            Data<unsigned char> block;
            block.Extend(64 * 1024);  // about a picture block
            picture = reinterpret_cast<std::uintptr_t>(block.m_pBuffer + 40000);
            failures += Expect(PageKeptInMemory(block.m_pBuffer + 40000), "picture block locked");
        }
        failures += Expect(LockedBlocksOnPage(reinterpret_cast<const void*>(picture)) == 0,
                           "picture block released");

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
        volatile std::uintptr_t key = 0;
        {
            LockedBox<Key> box(&lockedAtWipe);
            key = reinterpret_cast<std::uintptr_t>(box->bytes);
            failures += Expect(LockedBlocksOnPage(box->bytes) >= 1, "boxed key counted");
            failures += Expect(PageKeptInMemory(box->bytes + 15), "boxed key locked");
        }
        failures += Expect(lockedAtWipe, "boxed key still locked while wiped");
        failures += Expect(LockedBlocksOnPage(reinterpret_cast<const void*>(key)) == 0,
                           "boxed key released");
        failures += ExpectKernel(LockedKilobytes() == before, "VmLck back");
        return failures;
    });
}

TEST(MemoryLockTest, BeyondTheLimitSecretsStillWorkUnlocked) {
    InChild([] {
        // Without the right to lock beyond the limit (root has it), and with no limit left.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        if (::syscall(SYS_capget, &header, caps) != 0) {
            return std::string("capget failed");
        }
        caps[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
        if (::syscall(SYS_capset, &header, caps) != 0) {
            return std::string("capset failed");
        }
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_MEMLOCK, &none) != 0) {
            return std::string("setrlimit failed");
        }
        std::string failures;
        SecretString password("still usable");
        password += " text";
        failures += Expect(password.view() == "still usable text", "text intact");
        failures += Expect(LockedBlocksOnPage(password.data()) >= 1, "counted");
        failures += ExpectKernel(!PageKeptInMemory(password.data()), "not locked");
        failures += ExpectKernel(LockedKilobytes() == 0, "nothing in VmLck");
        return failures;
    });
}
