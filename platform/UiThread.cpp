#include "platform/UiThread.h"

#include <mutex>
#include <utility>

#include <wx/app.h>

namespace platform {

namespace {

std::mutex g_handOverLock;
bool g_handOverClosed = false;

}  // namespace

bool RunOnUiThread(std::function<void()> work) {
    // Held while queueing, so that closing the hand-over waits for a queueing in progress.
    std::lock_guard<std::mutex> lock(g_handOverLock);
    if (g_handOverClosed || wxTheApp == nullptr) {
        return false;
    }
    wxTheApp->CallAfter(std::move(work));
    return true;
}

void CloseUiHandOver() {
    std::lock_guard<std::mutex> lock(g_handOverLock);
    g_handOverClosed = true;
}

}  // namespace platform
