// What the update check makes of the bytes the server sent: pure functions, without the
// widget library or the network, so that they can be tested and fuzzed on their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most the update check reads from the server, in one read.
inline constexpr std::size_t kUpdateReplyLimit = 4096;

// The text of one read: at most the first kUpdateReplyLimit bytes received, up to the first
// zero byte among them.
std::string UpdateReplyText(std::string_view received);

// True when the reply is not empty and does not carry this version's marker.
bool UpdateReplyNeedsMessage(std::string_view reply);
