// The framework's containers: the growable byte buffer, secret text, the owning map and the
// work queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "framework/Data.h"
#include "framework/KeyVal.h"
#include "framework/Queue.h"
#include "framework/SecretString.h"

using namespace Ombrix;
using Clock = std::chrono::steady_clock;

namespace {

std::string Text(const Data<unsigned char>& data) {
    return std::string(reinterpret_cast<const char*>(data.m_pBuffer), data.m_nLength);
}

TEST(DataTest, KeepsEarlierBytesWhileGrowingEvenFromItsOwnBufferAndWipesItAll) {
    Data<unsigned char> data;
    const unsigned char text[] = "abcd";
    data.Append(text, 0);
    data.Append(text, -5);
    data.Append(nullptr, 4);
    data.Extend(-1);
    EXPECT_EQ(data.m_pBuffer, nullptr);  // nothing added, nothing allocated
    data.Append(text, 4);
    EXPECT_EQ(data.m_nCapacity, 8);               // twice the needed length
    data.Append(data.m_pBuffer, data.m_nLength);  // 8 bytes fit
    data.Append(data.m_pBuffer, data.m_nLength);  // 16 do not: the source moves mid-call
    EXPECT_EQ(Text(data), "abcdabcdabcdabcd");
    unsigned char* const grown = data.m_pBuffer;
    data.Extend(4);
    std::memcpy(data.m_pBuffer + 16, "wxyz", 4);
    data.Append(text, 2);
    EXPECT_EQ(data.m_pBuffer, grown);  // there was room: nothing moved
    EXPECT_EQ(Text(data), "abcdabcdabcdabcdwxyzab");

    data.Wipe();
    EXPECT_EQ(data.m_nLength, 22);
    EXPECT_EQ(std::count(grown, grown + data.m_nCapacity, 0), data.m_nCapacity);

    Data<unsigned char> sized(100);  // made to measure, as for a picture: never reallocated
    unsigned char* const made = sized.m_pBuffer;
    sized.Extend(60);
    sized.Append(text, 4);
    EXPECT_EQ(sized.m_pBuffer, made);
    EXPECT_EQ(sized.m_nLength, 64);
}

TEST(SecretStringTest, BehavesAsTextAndClearZeroesTheBytesItHeld) {
    SecretString text;
    EXPECT_STREQ(text.c_str(), "");
    text += 'a';
    text += "bc";
    text.push_back('&');
    EXPECT_STREQ(text.c_str(), "abc&");
    EXPECT_EQ(text.size(), 4u);
    SecretString copy = text;
    copy += 'x';
    EXPECT_EQ(text.view(), "abc&");
    SecretString moved = std::move(copy);
    EXPECT_EQ(moved.view(), "abc&x");
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): left empty and usable
    copy = "again";
    EXPECT_EQ(copy, SecretString("again"));
    EXPECT_NE(copy, moved);

    const char* const bytes = moved.data();  // the allocation is kept: inspected in place
    moved.clear();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(std::string(bytes, 5), std::string(5, '\0'));
}

// A value that records its own destruction.
struct Tracked {
    Tracked(std::string name, std::vector<std::string>* log) : name(std::move(name)), log(log) {}
    ~Tracked() { log->push_back(name); }
    std::string name;
    std::vector<std::string>* log;
};
using Names = std::vector<std::string>;

TEST(KeyValTest, OwnsItsValuesAndDeletesEachExactlyOnce) {
    Names gone;
    {
        KeyVal<std::string, Tracked, Loki::ObjectLevelLockable> map;
        EXPECT_EQ(map.Set("k", std::make_unique<Tracked>("first", &gone)), 0);
        EXPECT_EQ(map.Set("k", nullptr), 3);
        EXPECT_EQ(map.Get("k")->name, "first");
        map.Set("k", std::make_unique<Tracked>("second", &gone));
        map.Set("b", std::make_unique<Tracked>("b", &gone));
        map.Set("a", std::make_unique<Tracked>("a", &gone));
        EXPECT_EQ(map.Remove("absent"), 0);
        EXPECT_EQ(map.Remove("b"), 0);
        EXPECT_EQ(map.Get("b"), nullptr);
        EXPECT_EQ(gone, (Names{"first", "b"}));
    }
    EXPECT_EQ(gone, (Names{"first", "b", "a", "second"}));  // the rest in key order
}

TEST(QueueTest, KeepsOrderWaitsOnlyWhenEmptyAndDeletesLeftovers) {
    Names gone;
    {
        Queue<Tracked> queue;
        EXPECT_EQ(queue.Pop(nullptr), nullptr);
        EXPECT_EQ(queue.Push(nullptr), 3);
        for (const char* name : {"1", "2", "3"}) {
            EXPECT_EQ(queue.Push(std::make_unique<Tracked>(name, &gone)), 0);
        }
        const ACE_Time_Value longWait(60), shortWait(0, 150000);
        auto start = Clock::now();
        EXPECT_EQ(queue.Pop(&longWait)->name, "1");
        EXPECT_EQ(queue.Pop(&longWait)->name, "2");  // still signalled while items remain
        EXPECT_EQ(queue.Pop(&longWait)->name, "3");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        start = Clock::now();
        EXPECT_EQ(queue.Pop(&shortWait), nullptr);  // reset once empty: waits out its limit
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(120));
        queue.Push(std::make_unique<Tracked>("4", &gone));
    }
    EXPECT_EQ(gone, (Names{"1", "2", "3", "4"}));
}

}  // namespace
