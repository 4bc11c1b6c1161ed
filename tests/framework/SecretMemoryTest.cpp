// Memory for secrets: wiped when given back, and kept out of swap page by page (seen through
// the module's own count and through what the kernel reports as locked, VmLck).
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "framework/Data.h"
#include "framework/MemoryLock.h"
#include "framework/SecretString.h"
#include "framework/SecureWipe.h"
#include "support/ChildProcess.h"

using namespace Ombrix;

namespace {

TEST(DataTest, KeepsItsBytesWhileGrowingEvenFromItselfAndWipesTheWholeAllocation) {
    Data<unsigned char> data;
    const unsigned char text[] = "abcd";
    data.Append(text, -5);
    data.Append(nullptr, 4);
    data.Extend(-1);
    EXPECT_EQ(data.m_pBuffer, nullptr);  // nothing added, nothing allocated
    data.Append(text, 4);
    data.Append(data.m_pBuffer, data.m_nLength);  // 8 bytes fit the capacity of 8
    data.Append(data.m_pBuffer, data.m_nLength);  // 16 do not: the source moves mid-call
    unsigned char* const grown = data.m_pBuffer;
    data.Extend(4);
    std::memcpy(data.m_pBuffer + 16, "wxyz", 4);
    data.Append(text, 2);
    EXPECT_EQ(data.m_pBuffer, grown);  // there was room (twice the length needed): not moved
    EXPECT_EQ(std::string(reinterpret_cast<char*>(grown), data.m_nLength),
              "abcdabcdabcdabcdwxyzab");
    data.Wipe();
    EXPECT_EQ(std::count(grown, grown + data.m_nCapacity, 0), data.m_nCapacity);
}

TEST(SecretStringTest, BehavesAsTextAndClearZeroesTheBytesItHeld) {
    SecretString text;
    text += 'a';
    text += "bc";
    text.push_back('&');
    EXPECT_STREQ(text.c_str(), "abc&");
    EXPECT_EQ(text.size(), 4u);
    SecretString copy = text;
    copy += 'x';
    SecretString moved = std::move(copy);
    EXPECT_EQ(text.view(), "abc&");
    EXPECT_EQ(moved.view(), "abc&x");
    EXPECT_STREQ(copy.c_str(), "");  // NOLINT(bugprone-use-after-move): left empty and usable
    copy = "again";
    EXPECT_EQ(copy, SecretString("again"));
    EXPECT_NE(copy, moved);
    const char* const bytes = moved.data();  // the allocation is kept: inspected in place
    moved.clear();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(std::string(bytes, 5), std::string(5, '\0'));
}

// AddressSanitizer and ThreadSanitizer turn mlock() into nothing: there the kernel's figure
// cannot follow, and its checks pass.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kKernelSeesLocks = false;
#else
constexpr bool kKernelSeesLocks = true;
#endif
const long kPage = ::sysconf(_SC_PAGESIZE);

long LockedKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmLck:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Runs body in a forked child, so that nothing else of the test process has memory locked;
// CHECK there collects the text of every condition that failed.
void InChild(const std::function<std::string()>& body) {
    const testsupport::ForkResult result = testsupport::RunForked(body);
    ASSERT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0);
    EXPECT_EQ(result.report, "");
}
#define CHECK(condition) (failures += (condition) ? "" : #condition "; ")
#define CHECK_KERNEL(condition) CHECK(!kKernelSeesLocks || (condition))

TEST(MemoryLockTest, APageStaysLockedWhileAnyBlockOnItLives) {
    InChild([] {
        std::string failures;
        char* pages = static_cast<char*>(std::aligned_alloc(kPage, 3 * kPage));
        const long before = LockedKilobytes();
        LockMemory(pages + 16, 32);
        LockMemory(pages + kPage / 2, 64);
        LockMemory(pages + kPage - 8, 16);  // across a page boundary: counts on both pages
        CHECK(LockedBlocksOnPage(pages) == 3 && LockedBlocksOnPage(pages + kPage) == 1);
        CHECK(LockedBlocksOnPage(pages + 2 * kPage) == 0 && PageKeptInMemory(pages + kPage));
        CHECK_KERNEL(LockedKilobytes() == before + 2 * kPage / 1024);
        UnlockMemory(pages + 16, 32);
        UnlockMemory(pages + kPage - 8, 16);
        CHECK(LockedBlocksOnPage(pages) == 1 && PageKeptInMemory(pages + kPage - 1));
        CHECK(LockedBlocksOnPage(pages + kPage) == 0 && !PageKeptInMemory(pages + kPage));
        CHECK_KERNEL(LockedKilobytes() == before + kPage / 1024);
        UnlockMemory(pages + kPage / 2, 64);
        CHECK(LockedBlocksOnPage(pages) == 0 && !PageKeptInMemory(pages));
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
            CHECK(LockedBlocksOnPage(password.data()) >= 1 && PageKeptInMemory(password.data()));
            CHECK_KERNEL(LockedKilobytes() > before);
            for (int i = 0; i < 5000; ++i) {
                password.push_back('x');  // regrows several times
            }
            where = reinterpret_cast<std::uintptr_t>(password.data());
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
        // A key inside an object of another library: locked before it is made, still locked
        // while its own destructor wipes it, released afterwards.
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
        CHECK(::syscall(SYS_capget, &header, caps) == 0);
        caps[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
        const rlimit none{0, 0};
        CHECK(::syscall(SYS_capset, &header, caps) == 0 && ::setrlimit(RLIMIT_MEMLOCK, &none) == 0);
        SecretString password("still usable");
        password += " text";
        CHECK(password.view() == "still usable text" && LockedBlocksOnPage(password.data()) >= 1);
        CHECK_KERNEL(!PageKeptInMemory(password.data()) && LockedKilobytes() == 0);
        return failures;
    });
}

}  // namespace
