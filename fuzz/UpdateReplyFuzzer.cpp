// The update check's reading of a server's answer, on arbitrary bytes as one read delivers
// them: the text looked at is the first 4,096 bytes up to the first zero byte, and the
// message is called for exactly when that text is not empty and lacks this version's
// marker. Both are checked against a plain search of their own, with the marker placed
// into the input (whole or with one byte changed) so that both answers are reached.
//
// Input: a byte of choices, the place of the marker (two bytes), a byte position and value
// for a change to the marker, then the received bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/UpdateReply.h"
#include "fuzz/FuzzInput.h"

namespace {

const std::string kMarker = "<flag>ferrocask.exe1.0.1.0</flag>";

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

bool Contains(const std::string& text, const std::string& part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end()) != text.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::uint8_t choices = input.Byte();
    const std::size_t place = input.Word();
    const std::size_t changeAt = input.Byte() % kMarker.size();
    const char changeTo = static_cast<char>(input.Byte());
    std::string received = input.Rest();

    if (choices & 1) {
        std::string marker = kMarker;
        if (choices & 2) {
            marker[changeAt] = changeTo;
        }
        received.insert(std::min(place, received.size()), marker);
    }
    if (received.size() > 2 * kUpdateReplyLimit) {
        received.resize(2 * kUpdateReplyLimit);
    }

    const std::string text = UpdateReplyText(received);
    // The expected text, byte by byte.
    std::string expected;
    for (std::size_t i = 0; i < received.size() && i < 4096 && received[i] != '\0'; ++i) {
        expected += received[i];
    }
    Require(text == expected, "the text is the first 4,096 bytes up to the first zero byte");

    const bool needsMessage = UpdateReplyNeedsMessage(text);
    Require(needsMessage == (!text.empty() && !Contains(text, kMarker)),
            "the message comes exactly for a non-empty text without the marker");
    // The test on the raw bytes agrees wherever the text is all of them.
    if (received.size() <= 4096 && received.find('\0') == std::string::npos) {
        Require(UpdateReplyNeedsMessage(received) == needsMessage,
                "the test depends on the text only");
    }
    return 0;
}
