#include "framework/Data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using Ombrix::Data;

namespace {

TEST(DataTest, AppendOfNothingLeavesTheBufferUnallocated) {
    Data<unsigned char> data;
    const unsigned char byte = 7;
    data.Append(&byte, 0);
    data.Append(&byte, -5);
    data.Append(nullptr, 4);
    data.Extend(0);
    data.Extend(-1);
    EXPECT_EQ(data.m_pBuffer, nullptr);
    EXPECT_EQ(data.m_nCapacity, 0);
    EXPECT_EQ(data.m_nLength, 0);
}

TEST(DataTest, GrowsToTwiceTheNeededLength) {
    Data<unsigned char> data;
    const unsigned char one = 0x42;
    data.Append(&one, 1);
    EXPECT_EQ(data.m_nCapacity, 2);
    EXPECT_EQ(data.m_nLength, 1);
    EXPECT_EQ(data.m_pBuffer[0], 0x42);

    Data<unsigned char> pieces;
    std::vector<unsigned char> ten(10, 1), fifteen(15, 2);
    pieces.Append(ten.data(), 10);
    EXPECT_EQ(pieces.m_nCapacity, 20);
    pieces.Append(fifteen.data(), 15);
    EXPECT_EQ(pieces.m_nCapacity, 50);
    ASSERT_EQ(pieces.m_nLength, 25);
    EXPECT_EQ(std::memcmp(pieces.m_pBuffer, ten.data(), 10), 0);
    EXPECT_EQ(std::memcmp(pieces.m_pBuffer + 10, fifteen.data(), 15), 0);
}

TEST(DataTest, ExtendThenAppendKeepsEarlierBytesInPlace) {
    Data<unsigned char> data;
    data.Extend(100);
    EXPECT_EQ(data.m_nCapacity, 200);
    EXPECT_EQ(data.m_nLength, 100);
    for (int i = 0; i < 100; ++i) {
        data.m_pBuffer[i] = static_cast<unsigned char>(i);
    }
    unsigned char* before = data.m_pBuffer;
    std::vector<unsigned char> more(100, 0xEE);
    data.Append(more.data(), 100);
    EXPECT_EQ(data.m_pBuffer, before);
    EXPECT_EQ(data.m_nCapacity, 200);
    EXPECT_EQ(data.m_nLength, 200);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(data.m_pBuffer[i], i);
    }
    EXPECT_EQ(data.m_pBuffer[199], 0xEE);
}

TEST(DataTest, PictureSizedBufferIsReusedWithoutReallocation) {
    Data<unsigned char> data(49152);
    EXPECT_EQ(data.m_nCapacity, 49152);
    EXPECT_EQ(data.m_nLength, 0);
    unsigned char* before = data.m_pBuffer;
    std::vector<unsigned char> picture(49152, 9);
    data.Append(picture.data(), 49152);
    EXPECT_EQ(data.m_pBuffer, before);
    EXPECT_EQ(data.m_nCapacity, 49152);

    data.m_nLength = 0;
    data.Extend(49152);
    EXPECT_EQ(data.m_pBuffer, before);
    EXPECT_EQ(data.m_nLength, 49152);
}

TEST(DataTest, AppendingItsOwnContentWhileGrowingCopiesTheOldBytes) {
    Data<unsigned char> data;
    const unsigned char text[] = "abcd";
    data.Append(text, 4);
    data.Append(data.m_pBuffer, data.m_nLength);  // 8 bytes fit the capacity of 8
    data.Append(data.m_pBuffer, data.m_nLength);  // 16 do not: the source moves mid-call
    ASSERT_EQ(data.m_nLength, 16);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.m_pBuffer), 16), "abcdabcdabcdabcd");
}

TEST(DataTest, WipeZeroesTheWholeAllocation) {
    Data<unsigned char> data;
    std::vector<unsigned char> secret(30, 0xA5);
    data.Append(secret.data(), 30);
    data.Wipe();
    EXPECT_EQ(data.m_nLength, 30);
    for (int i = 0; i < data.m_nCapacity; ++i) {
        ASSERT_EQ(data.m_pBuffer[i], 0) << "byte " << i;
    }
}

}  // namespace
