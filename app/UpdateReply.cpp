#include "app/UpdateReply.h"

namespace {

constexpr char kVersionMarker[] = "<flag>ferrocask.exe1.0.1.0</flag>";

}  // namespace

std::string UpdateReplyText(std::string_view received) {
    const std::string_view read = received.substr(0, kUpdateReplyLimit);
    return std::string(read.substr(0, read.find('\0')));
}

bool UpdateReplyNeedsMessage(std::string_view reply) {
    return !reply.empty() && reply.find(kVersionMarker) == std::string_view::npos;
}
