// Memory for secrets: wiped when given back, and kept out of swap while it lives as far as the
// process may lock memory.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "framework/Data.h"
#include "framework/MemoryLock.h"
#include "framework/SecretString.h"
#include "support/ChildProcess.h"

using namespace Ombrix;

namespace {

TEST(SecretMemoryTest, DataAndSecretStringsWipeTheBytesTheyHeld) {
    Data<unsigned char> data;
    data.Append(reinterpret_cast<const unsigned char*>("abcd"), 4);
    data.Append(data.m_pBuffer, data.m_nLength);  // 8 bytes fit the capacity of 8
    data.Append(data.m_pBuffer, data.m_nLength);  // 16 do not: the source moves mid-call
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.m_pBuffer), 16), "abcdabcdabcdabcd");
    data.Wipe();
    EXPECT_EQ(std::count(data.m_pBuffer, data.m_pBuffer + data.m_nCapacity, 0), data.m_nCapacity);

    SecretString text("abc");
    text += '&';
    const char* const bytes = text.data();  // the allocation is kept: inspected in place
    text.clear();
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
}

// A boxed secret is locked while it lives, whether it lies in one of the slots locked for
// the run or, once they are all taken or for a bigger object, on the heap; and the bytes it
// leaves in a slot are wiped.
TEST(SecretMemoryTest, BoxedSecretsAreLockedAndTheSlotsTheyLeaveAreWiped) {
    using Small = std::array<unsigned char, 200>;
    const unsigned char* left = nullptr;
    {
        LockedBox<Small> box;
        box->fill(0xA5);
        EXPECT_TRUE(PageKeptInMemory(box.get()) && PageKeptInMemory(box->data() + 199));
        left = box->data();
    }
    EXPECT_EQ(std::count(left, left + sizeof(Small), 0), static_cast<long>(sizeof(Small)));
    std::vector<std::unique_ptr<LockedBox<Small>>> many;
    std::set<const void*> places;
    for (int i = 0; i < 40; ++i) {
        many.push_back(std::make_unique<LockedBox<Small>>());
        (*many.back())->fill(static_cast<unsigned char>(i));
        places.insert(many.back()->get());
        EXPECT_TRUE(PageKeptInMemory(many.back()->get()) &&
                    PageKeptInMemory((*many.back())->data() + 199));
    }
    EXPECT_EQ(places.size(), many.size());
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(std::count((*many[i])->begin(), (*many[i])->end(), i), 200) << i;
    }
    LockedBox<std::array<unsigned char, 3000>> big;
    EXPECT_TRUE(PageKeptInMemory(big.get()) && PageKeptInMemory(big->data() + 2999));
}

// In a forked child, so that nothing else of the test process has memory locked.
TEST(SecretMemoryTest, SecretsAreLockedWhileTheyLiveAndStillWorkBeyondTheLimit) {
    const testsupport::ForkResult result = testsupport::RunForked([] {
        std::string failures;  // the text of every condition that failed
#define CHECK(condition) (failures += (condition) ? "" : #condition "; ")
        volatile std::uintptr_t where = 0;  // only the address: the block is gone when checked
        {
            SecretString password("master password 1");
            password += std::string(5000, 'x').c_str();  // regrown
            where = reinterpret_cast<std::uintptr_t>(password.data());
            CHECK(PageKeptInMemory(password.data()) && PageKeptInMemory(password.data() + 4999));
        }
        CHECK(LockedBlocksOnPage(reinterpret_cast<const void*>(where)) == 0);
        // Without the right to lock beyond the limit (root has it), and with no limit left.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ::syscall(SYS_capget, &header, caps);
        caps[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
        const rlimit none{0, 0};
        CHECK(::syscall(SYS_capset, &header, caps) == 0 && ::setrlimit(RLIMIT_MEMLOCK, &none) == 0);
        SecretString password("still usable");
        password += " text";
        CHECK(password.view() == "still usable text" && LockedBlocksOnPage(password.data()) >= 1);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // mlock() does nothing there
        CHECK(!PageKeptInMemory(password.data()));
#endif
        return failures;
    });
    ASSERT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0);
    EXPECT_EQ(result.report, "");
}

}  // namespace
