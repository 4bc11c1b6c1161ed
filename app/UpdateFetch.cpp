#include "app/UpdateFetch.h"

#include <ace/Time_Value.h>

#include <cstring>
#include <memory>

#include "app/UpdateReply.h"
#include "framework/DeviceManager.h"

namespace {

constexpr char kNetDevice[] = "/device/system/net";
constexpr int kOutgoing = 1;
constexpr char kRequest[] = "GET /software/update.xml HTTP/1.1\r\n\r\n";

ACE_Time_Value ToTimeValue(std::chrono::milliseconds limit) {
    ACE_Time_Value value;
    value.msec(static_cast<long>(limit.count()));
    return value;
}

}  // namespace

std::string FetchUpdateReply(const std::string& server, std::chrono::milliseconds limit) {
    std::string reply;
    try {
        // The framework may be shutting down on the main thread right now: the circuit is
        // asked for in a way that never meets a registry being destroyed, and none is given
        // once the framework stops. The circuit keeps its device alive by itself.
        std::unique_ptr<Ombrix::CircuitInterface> circuit =
            Ombrix::DeviceManager::GetCircuitWhileRunning(kNetDevice, server, kOutgoing, nullptr,
                                                          nullptr);
        if (circuit) {
            const ACE_Time_Value timeout = ToTimeValue(limit);
            char request[sizeof kRequest];
            std::memcpy(request, kRequest, sizeof kRequest);
            circuit->Write(request, static_cast<int>(std::strlen(request)), &timeout);
            // One read only: whatever comes later is not looked at.
            auto buffer = std::make_unique<char[]>(kUpdateReplyLimit);
            const int received =
                circuit->Read(buffer.get(), static_cast<int>(kUpdateReplyLimit), &timeout);
            if (received > 0) {
                reply = UpdateReplyText(
                    std::string_view(buffer.get(), static_cast<std::size_t>(received)));
            }
        }
    } catch (...) {
        reply.clear();
    }
    return reply;
}
