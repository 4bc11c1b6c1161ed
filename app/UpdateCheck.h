// Once per start, a background thread asks the maker's web server for its current version
// marker; when the answer lacks this version's marker, the user is told, in a box that
// keeps no window from being used, where to download the new version.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "app/UpdateFetch.h"
#include "app/UpdateReply.h"

// What one check does; the program's values come from DefaultUpdateCheckSettings.
struct UpdateCheckSettings {
    std::string server;  // "host:port"; empty: no check at all
    std::chrono::milliseconds delay{1000};
    std::chrono::milliseconds limit{16000};  // for the one write and the one read each
    std::string downloadPage;
};

// The built-in server and download page, and the wait and limit of one second and sixteen
// seconds. The configuration key "/config/update/server" may name another "host:port", or
// be "off", which switches the check off (empty server). Reads the configuration store.
UpdateCheckSettings DefaultUpdateCheckSettings();

// The text of the new-version message, with the download page inside it.
std::string UpdateMessageText(std::string_view downloadPage);

// One whole check, on the calling thread: waits the delay, fetches the reply and, when it
// calls for it, hands the message box to the user-interface thread, which repaints the
// application's main window once the box is closed. Returns whether the message was handed
// over.
bool RunUpdateCheck(const UpdateCheckSettings& settings);

// Starts RunUpdateCheck on a thread of its own, which only the end of the program waits for,
// and only once the check is done (EndUpdateChecks).
void StartUpdateCheck(UpdateCheckSettings settings);

// True while a check started by StartUpdateCheck has not finished its work.
bool UpdateCheckRunning();

// At the end of the program: when no check is still at work, waits for the threads of the
// finished ones to end and returns true; otherwise returns false at once (a check may wait
// on the network for long) and the program must end without running exit-time destructors
// under it.
bool EndUpdateChecks();
