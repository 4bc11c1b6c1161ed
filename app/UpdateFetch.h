// The network half of the update check: one request to the maker's server and its one reply.
// Free of the widget library, so that it can be run and tested on any thread, also while
// the framework shuts down under it.
#pragma once

#include <chrono>
#include <string>

// Asks server ("host:port") on the network device "/device/system/net": sends the request,
// reads once at most 4,096 bytes, each with the time limit, and returns the text received
// up to its first zero byte (UpdateReplyText). Empty when no connection came about, nothing
// arrived, the framework stopped running, or anything went wrong.
std::string FetchUpdateReply(const std::string& server, std::chrono::milliseconds limit);
