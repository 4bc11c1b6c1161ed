// Hands a file or web address to the desktop's default handler, as "xdg-open" does.
#pragma once

#include <string>

namespace platform {

// Starts "xdg-open target" (found on PATH) and returns at once; the handler runs on its own
// and is reaped when it ends. A relative file name is resolved against the current
// directory. When there is no handler, or it cannot be started, nothing happens. Returns
// whether a handler was started.
bool OpenWithDesktop(const std::string& target);

}  // namespace platform
