#include <gtest/gtest.h>

#include <string>

#include "app/UpdateReply.h"

namespace {

constexpr char kMarker[] = "<flag>ferrocask.exe1.0.1.0</flag>";

std::string Page(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<update>" + body + "</update>";
}

}  // namespace

TEST(UpdateReplyTest, OnlyANonEmptyReplyWithoutTheMarkerCallsForTheMessage) {
    EXPECT_FALSE(UpdateReplyNeedsMessage(""));
    EXPECT_FALSE(UpdateReplyNeedsMessage(kMarker));
    EXPECT_FALSE(UpdateReplyNeedsMessage(Page(std::string("x") + kMarker + "y")));
    EXPECT_TRUE(UpdateReplyNeedsMessage(" "));
    EXPECT_TRUE(UpdateReplyNeedsMessage(Page("<flag>ferrocask.exe1.0.2.0</flag>")));
    // Case matters, and the whole marker must be there.
    EXPECT_TRUE(UpdateReplyNeedsMessage("<FLAG>ferrocask.exe1.0.1.0</FLAG>"));
    EXPECT_TRUE(UpdateReplyNeedsMessage("<flag>ferrocask.exe1.0.1.0</flag"));
}

TEST(UpdateReplyTest, TextEndsAtTheFirstZeroByteAndAfterTheReadLimit) {
    using namespace std::string_literals;
    EXPECT_EQ(UpdateReplyText(""), "");
    EXPECT_EQ(UpdateReplyText("abc"), "abc");
    EXPECT_EQ(UpdateReplyText("ab\0cd"s), "ab");
    // A zero first byte leaves nothing, and nothing calls for no message.
    const std::string zeroFirst = "\0"s + Page("");
    EXPECT_EQ(UpdateReplyText(zeroFirst), "");
    EXPECT_FALSE(UpdateReplyNeedsMessage(UpdateReplyText(zeroFirst)));

    const std::string full(kUpdateReplyLimit, 'x');
    EXPECT_EQ(UpdateReplyText(full), full);
    EXPECT_EQ(UpdateReplyText(full + "y"), full);
    // A marker that starts inside the limit but ends beyond it is not seen.
    const std::string across = std::string(kUpdateReplyLimit - 10, 'x') + kMarker;
    EXPECT_TRUE(UpdateReplyNeedsMessage(UpdateReplyText(across)));
    const std::string inside = std::string(kUpdateReplyLimit - sizeof kMarker + 1, 'x') + kMarker;
    EXPECT_EQ(inside.size(), kUpdateReplyLimit);
    EXPECT_FALSE(UpdateReplyNeedsMessage(UpdateReplyText(inside)));
}
