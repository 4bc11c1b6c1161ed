#include "app/UpdateCheck.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <wx/app.h>
#include <wx/window.h>

#include "app/BuildSettings.h"
#include "framework/Config.h"
#include "platform/DetachedMessage.h"
#include "platform/UiThread.h"

namespace {

constexpr char kCaption[] = "墨岩保险柜";
constexpr char kMessageBefore[] = "有新的版本，请到官网";
constexpr char kMessageAfter[] = "下载，解压覆盖即可\r\n覆盖之前，请先备份密码文件ferrocask.db";
constexpr char kServerKey[] = "/config/update/server";
constexpr char kCheckOff[] = "off";

// The checks whose work has not finished, and the threads that ran them, which are joined
// once their work is done (EndUpdateChecks) rather than left to end on their own beside the
// program's exit.
std::atomic<int> g_runningChecks{0};
std::mutex g_checksLock;

// Threads not joined by the time the program ends some other way are let go, as a
// std::thread still joinable at its destruction would end the program.
struct CheckThreads : std::vector<std::thread> {
    ~CheckThreads() {
        for (std::thread& check : *this) {
            if (check.joinable()) {
                check.detach();
            }
        }
    }
};
CheckThreads g_checks;

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
    std::lock_guard<std::mutex> guard(g_checksLock);
    ++g_runningChecks;
    try {
        g_checks.emplace_back([settings = std::move(settings)] {
            try {
                RunUpdateCheck(settings);
            } catch (...) {
                // A failed check is a silent one.
            }
            --g_runningChecks;
        });
    } catch (...) {
        --g_runningChecks;  // no thread: no check this time
    }
}

bool UpdateCheckRunning() {
    return g_runningChecks.load() != 0;
}

bool EndUpdateChecks() {
    std::lock_guard<std::mutex> guard(g_checksLock);
    if (UpdateCheckRunning()) {
        return false;
    }
    // Every check is past its last step; joining waits only for the threads to end, so that
    // nothing of them runs beside what the program does next.
    for (std::thread& check : g_checks) {
        check.join();
    }
    g_checks.clear();
    return true;
}
