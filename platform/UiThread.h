// Work that another thread hands to the user-interface thread: GTK may only be touched from
// the thread that runs the event loop.
#pragma once

#include <functional>

namespace platform {

// Queues work to run on the user-interface thread at its next turn of the event loop. Safe
// from any thread. Returns false (and drops the work) when there is no application or the
// hand-over was closed.
bool RunOnUiThread(std::function<void()> work);

// Refuses every later hand-over: called when the program shuts down, so that no thread
// queues work on an application that is going away. Work queued before still runs if the
// event loop turns again.
void CloseUiHandOver();

}  // namespace platform
