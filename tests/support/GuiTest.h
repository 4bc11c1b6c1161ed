// Helpers of the tests that drive real windows on the X server (Xvfb in the test runs):
// running the event loop, the pointer through XTest, screen captures, and answering the
// message boxes and file dialogs in place of a user.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wx/image.h>
#include <wx/region.h>
#include <wx/window.h>

#include "platform/MessageBox.h"
#include "support/ChildProcess.h"

namespace guitest {

// Runs the event loop for the given time.
void Pump(int milliseconds = 60);
// Runs the event loop until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds = 3000);

// The pointer, moved and pressed through the X server.
void MoveMouse(const wxWindow* window, wxPoint client);
void PressLeft();
void ReleaseLeft();
void ClickAt(const wxWindow* window, wxPoint client);

// The window's client area as the screen shows it now.
wxImage CaptureClient(const wxWindow* window);
// Saves the capture as a PNG file of that name in the build tree's screenshot folder.
void SaveScreenshot(const wxWindow* window, const std::string& name);

// Colour of a pixel of a capture.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
Rgb PixelAt(const wxImage& image, int x, int y);

// Answers every message box while it lives: with the queued answers first, then OK.
class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    // The texts of the boxes shown so far, as UTF-8.
    std::vector<std::string> Texts() const;
    const std::vector<platform::MessageBoxRequest>& Shown() const { return m_shown; }
    void Clear() { m_shown.clear(); }

    std::deque<int> answers;

private:
    std::vector<platform::MessageBoxRequest> m_shown;
};

// Chooses the given file (or cancels, for nothing) in every open-file dialog while it lives.
class FileChoice {
public:
    explicit FileChoice(std::optional<std::string> path);
    ~FileChoice();
    FileChoice(const FileChoice&) = delete;
    FileChoice& operator=(const FileChoice&) = delete;

    void Choose(std::optional<std::string> path) { m_path = std::move(path); }
    int Asked() const { return m_asked; }
    const wxString& Wildcard() const { return m_wildcard; }

private:
    std::optional<std::string> m_path;
    int m_asked = 0;
    wxString m_wildcard;
};

// Counts the paint events a window receives and remembers the last update region.
class PaintCounter {
public:
    explicit PaintCounter(wxWindow* window);
    ~PaintCounter();
    PaintCounter(const PaintCounter&) = delete;
    PaintCounter& operator=(const PaintCounter&) = delete;

    int Count() const { return m_count; }

private:
    void OnPaint(wxPaintEvent& event);
    wxWindow* m_window;
    int m_count = 0;
};

// The clipboard's text as another program would paste it, or nothing; and putting text there
// (a test fails when that cannot be done).
std::optional<std::string> ClipboardText();
void PutOnClipboard(const std::string& gb18030Text);

// What `xclip -o -selection <selection> [-t <target>]` prints, run as another program on
// the same display while this process's event loop keeps serving the selections it owns;
// nothing when xclip finds no such content.
std::optional<std::string> XclipRead(const std::string& selection, const std::string& target = "");

// Another program (xclip) that copies the text to the CLIPBOARD selection and serves it
// until some program takes the clipboard over, or the object goes.
class XclipCopy {
public:
    explicit XclipCopy(const std::string& utf8Text);
    ~XclipCopy();
    XclipCopy(const XclipCopy&) = delete;
    XclipCopy& operator=(const XclipCopy&) = delete;

    // True while xclip still serves the text.
    bool Serving();

private:
    std::string m_file;
    std::unique_ptr<testsupport::ChildProcess> m_xclip;
};

// Writes a picture file of the given size, filled by colour(x, y), in the format that the
// file name's extension names.
void WritePicture(const std::string& path, int width, int height,
                  const std::function<Rgb(int x, int y)>& colour);

}  // namespace guitest
