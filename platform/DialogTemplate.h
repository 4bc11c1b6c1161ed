// Dialog templates as data: every window of the program is described by a table of
// controls (id, kind, text, position and size in dialog units), and one routine turns such a
// table into real controls on a window.
#pragma once

#include <vector>

class wxWindow;

namespace platform {

// The id of controls that are never addressed (group boxes, labels).
constexpr int kNoControlId = -1;

enum class ControlKind {
    PushButton,
    DefaultPushButton,  // the button that Enter presses while its window is shown
    StaticLeft,         // static text, left-aligned
    StaticCentred,      // static text, centred horizontally
    GroupBox,
    Edit,     // single-line edit box with border, scrolling horizontally
    ListBox,  // notifies its parent, unsorted, vertical scroll bar
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;         // UTF-8; may be empty
    int x, y, width, height;  // dialog units
    bool flat;                // a flat button; GTK buttons keep the theme's look either way
};

enum class WindowKind {
    Child,     // a panel laid over another window, no caption
    TopLevel,  // caption, system menu and modal frame
};

struct DialogTemplate {
    int id;
    WindowKind kind;
    const char* caption;  // UTF-8; empty for child panels
    int width, height;    // client area, dialog units
    const char* fontFace;
    int fontPoints;
    std::vector<ControlTemplate> controls;
};

// Creates the template's controls as children of window, in template order, and gives
// window the template's font. A control without an id gets a fresh one.
void BuildControls(wxWindow* window, const DialogTemplate& dialog);

// Client size of the template in pixels.
int TemplateWidthPixels(const DialogTemplate& dialog);
int TemplateHeightPixels(const DialogTemplate& dialog);

}  // namespace platform
