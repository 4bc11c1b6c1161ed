// The open-file dialog, with a hook through which tests choose a file instead of a user.
#pragma once

#include <functional>
#include <optional>

#include <wx/string.h>

namespace platform {

// Turns a filter of the form "description|pattern|description|pattern||" (patterns
// separated by ';') into the widget library's wildcard. Patterns match regardless of
// letter case (pictures often come as "*.JPG"), and "*.*" matches every file,
// also names without a dot.
wxString TranslateFileFilter(const wxString& filter);

// Chooses a file in place of the user while installed: receives the translated wildcard,
// returns the chosen path or nothing for a cancelled dialog. An empty hook restores the
// real dialog.
using FileDialogHook = std::function<std::optional<wxString>(const wxString& wildcard)>;
void SetFileDialogHook(FileDialogHook hook);

// Shows a modal open-file dialog (no owner window, no default name or extension) with the
// filter and returns the full path of the chosen file, or nothing when cancelled.
std::optional<wxString> ChooseFileToOpen(const wxString& filter);

}  // namespace platform
