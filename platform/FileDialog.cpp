#include "platform/FileDialog.h"

#include <utility>

#include <wx/filedlg.h>
#include <wx/tokenzr.h>

namespace platform {

namespace {

FileDialogHook& Hook() {
    static FileDialogHook hook;
    return hook;
}

// "*.jpg" becomes "*.[jJ][pP][gG]"; the file chooser compares patterns case-sensitively.
wxString CaseInsensitivePattern(const wxString& pattern) {
    if (pattern == "*.*") {
        return "*";
    }
    wxString result;
    for (wxUniChar c : pattern) {
        const wxUniChar lower = wxTolower(c);
        const wxUniChar upper = wxToupper(c);
        if (lower != upper) {
            result << '[' << lower << upper << ']';
        } else {
            result << c;
        }
    }
    return result;
}

}  // namespace

wxString TranslateFileFilter(const wxString& filter) {
    // Fields up to the first empty one; the "||" that ends the filter is that empty field.
    wxArrayString fields;
    wxStringTokenizer tokens(filter, "|", wxTOKEN_RET_EMPTY_ALL);
    while (tokens.HasMoreTokens()) {
        const wxString field = tokens.GetNextToken();
        if (field.empty()) {
            break;
        }
        fields.push_back(field);
    }
    wxString wildcard;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        wxString patterns;
        wxStringTokenizer each(fields[i + 1], ";", wxTOKEN_STRTOK);
        while (each.HasMoreTokens()) {
            if (!patterns.empty()) {
                patterns << ';';
            }
            patterns << CaseInsensitivePattern(each.GetNextToken().Strip(wxString::both));
        }
        if (!wildcard.empty()) {
            wildcard << '|';
        }
        wildcard << fields[i] << '|' << patterns;
    }
    return wildcard;
}

void SetFileDialogHook(FileDialogHook hook) {
    Hook() = std::move(hook);
}

std::optional<wxString> ChooseFileToOpen(const wxString& filter) {
    const wxString wildcard = TranslateFileFilter(filter);
    if (Hook()) {
        return Hook()(wildcard);
    }
    wxFileDialog dialog(nullptr, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString, wildcard,
                        wxFD_OPEN);
    if (dialog.ShowModal() != wxID_OK) {
        return std::nullopt;
    }
    return dialog.GetPath();
}

}  // namespace platform
