#include "app/UpdateCheck.h"

#include <ace/Time_Value.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include <wx/app.h>
#include <wx/window.h>

#include "app/BuildSettings.h"
#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "platform/DetachedMessage.h"
#include "platform/UiThread.h"

namespace {

constexpr char kNetDevice[] = "/device/system/net";
constexpr int kOutgoing = 1;
constexpr char kRequest[] = "GET /software/update.xml HTTP/1.1\r\n\r\n";
constexpr char kCaption[] = "墨岩保险柜";
constexpr char kMessageBefore[] = "有新的版本，请到官网";
constexpr char kMessageAfter[] = "下载，解压覆盖即可\r\n覆盖之前，请先备份密码文件ferrocask.db";
constexpr char kServerKey[] = "/config/update/server";
constexpr char kCheckOff[] = "off";

std::atomic<int> g_runningChecks{0};

ACE_Time_Value ToTimeValue(std::chrono::milliseconds limit) {
    ACE_Time_Value value;
    value.msec(static_cast<long>(limit.count()));
    return value;
}

// Repaints the main window over the place where the box was.
void RepaintMainWindow() {
    if (wxTheApp == nullptr) {
        return;
    }
    if (wxWindow* main = wxTheApp->GetTopWindow()) {
        main->Refresh(true);
    }
}

}  // namespace

UpdateCheckSettings DefaultUpdateCheckSettings() {
    UpdateCheckSettings settings;
    settings.server = buildsettings::kUpdateServer;
    settings.downloadPage = buildsettings::kDownloadPage;
    const std::string configured = Ombrix::Config::Instance().GetValue(kServerKey);
    if (configured == kCheckOff) {
        settings.server.clear();
    } else if (!configured.empty()) {
        settings.server = configured;
    }
    return settings;
}

std::string FetchUpdateReply(const std::string& server, std::chrono::milliseconds limit) {
    std::string reply;
    try {
        // Nothing to ask once the framework is shutting down: its registry would only be
        // made anew, empty.
        if (!Ombrix::g_running) {
            return reply;
        }
        std::unique_ptr<Ombrix::CircuitInterface> circuit =
            Ombrix::DeviceManager::Instance().GetCircuit(kNetDevice, server, kOutgoing, nullptr,
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

std::string UpdateMessageText(std::string_view downloadPage) {
    std::string text = kMessageBefore;
    text += downloadPage;
    text += kMessageAfter;
    return text;
}

bool RunUpdateCheck(const UpdateCheckSettings& settings) {
    std::this_thread::sleep_for(settings.delay);
    if (settings.server.empty()) {
        return false;
    }
    const std::string reply = FetchUpdateReply(settings.server, settings.limit);
    if (!UpdateReplyNeedsMessage(reply)) {
        return false;
    }
    // GTK belongs to the user-interface thread: the box is shown there, owned by no window.
    const wxString text = wxString::FromUTF8(UpdateMessageText(settings.downloadPage));
    return platform::RunOnUiThread([text] {
        platform::ShowDetachedMessage(text, wxString::FromUTF8(kCaption), RepaintMainWindow);
    });
}

void StartUpdateCheck(UpdateCheckSettings settings) {
    ++g_runningChecks;
    try {
        std::thread([settings = std::move(settings)] {
            try {
                RunUpdateCheck(settings);
            } catch (...) {
                // A failed check is a silent one.
            }
            --g_runningChecks;
        }).detach();
    } catch (...) {
        --g_runningChecks;  // no thread: no check this time
    }
}

bool UpdateCheckRunning() {
    return g_runningChecks.load() != 0;
}
