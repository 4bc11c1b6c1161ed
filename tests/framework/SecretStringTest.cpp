#include "framework/SecretString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "framework/WipingAllocator.h"

using Ombrix::SecretString;

namespace {

// Records what an allocator's block held at the moment it was given back.
struct Spy {
    static inline std::vector<char> lastFreed;
};

template <class T>
struct SpyingAllocator : Ombrix::WipingAllocator<T> {
    using value_type = T;
    SpyingAllocator() = default;
    template <class U>
    SpyingAllocator(const SpyingAllocator<U>&) {}
    void deallocate(T* p, std::size_t n) noexcept {
        Ombrix::SecureWipe(p, n * sizeof(T));
        const char* bytes = reinterpret_cast<const char*>(p);
        Spy::lastFreed.assign(bytes, bytes + n * sizeof(T));
        Ombrix::UnlockMemory(p, n * sizeof(T));
        ::operator delete(p);
    }
};

TEST(WipingAllocatorTest, BlocksAreZeroWhenGivenBack) {
    {
        std::vector<char, SpyingAllocator<char>> secret(40, 'S');
        secret.push_back('T');  // grows: the first block goes back
        EXPECT_EQ(Spy::lastFreed.size(), 40u);
        EXPECT_EQ(std::count(Spy::lastFreed.begin(), Spy::lastFreed.end(), 0), 40);
    }
    EXPECT_EQ(std::count(Spy::lastFreed.begin(), Spy::lastFreed.end(), 'S'), 0);
}

TEST(SecretStringTest, BehavesAsText) {
    SecretString text;
    EXPECT_TRUE(text.empty());
    EXPECT_STREQ(text.c_str(), "");
    text += 'a';
    text += "bc";
    text.push_back('&');
    EXPECT_EQ(text.view(), "abc&");
    EXPECT_EQ(text.size(), 4u);
    EXPECT_STREQ(text.c_str(), "abc&");

    SecretString copy = text;
    EXPECT_EQ(copy, text);
    copy += 'x';
    EXPECT_NE(copy, text);

    SecretString moved = std::move(copy);
    EXPECT_EQ(moved.view(), "abc&x");
    EXPECT_TRUE(copy.empty());
    copy = "again";
    EXPECT_EQ(copy.view(), "again");
}

TEST(SecretStringTest, ClearZeroesTheBytesItHeld) {
    SecretString text("hunter22hunter22");
    const char* bytes = text.data();
    const std::size_t length = text.size();
    text.clear();
    EXPECT_TRUE(text.empty());
    // The allocation is kept, so the old bytes can be inspected in place.
    for (std::size_t i = 0; i < length; ++i) {
        EXPECT_EQ(bytes[i], 0) << i;
    }
}

}  // namespace
