#include <gtest/gtest.h>

#include <string>

#include "app/UpdateReply.h"

using namespace std::string_literals;

TEST(UpdateReplyTest, OnlyANonEmptyReplyWithoutTheWholeMarkerCallsForTheMessage) {
    const std::string marker = "<flag>ferrocask.exe1.0.1.0</flag>";
    for (const std::string& reply : {""s, marker, "HTTP/1.1 200 OK\r\n\r\nx" + marker + "y"}) {
        EXPECT_FALSE(UpdateReplyNeedsMessage(reply)) << reply;
    }
    for (const std::string& reply : {" "s, "<flag>ferrocask.exe1.0.2.0</flag>"s,
                                     "<FLAG>ferrocask.exe1.0.1.0</FLAG>"s, marker.substr(1)}) {
        EXPECT_TRUE(UpdateReplyNeedsMessage(reply)) << reply;
    }
    // The text ends at the first zero byte and at the read limit; a marker that starts
    // inside the limit but ends beyond it is not seen.
    EXPECT_EQ(UpdateReplyText("ab\0cd"s), "ab");
    EXPECT_EQ(UpdateReplyText("\0abc"s), "");
    const std::string full(kUpdateReplyLimit, 'x');
    EXPECT_EQ(UpdateReplyText(full + "y"), full);
    const std::string inside = full.substr(marker.size()) + marker;
    EXPECT_FALSE(UpdateReplyNeedsMessage(UpdateReplyText(inside)));
    EXPECT_TRUE(UpdateReplyNeedsMessage(UpdateReplyText("x" + inside)));
}
