// Helpers of the tests that drive real windows on the X server: the event loop, the pointer
// through XTest, screen captures, message boxes and file dialogs, the clipboard.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/stopwatch.h>
#include <wx/uiaction.h>
#include <wx/utils.h>
#include <wx/window.h>

#include "platform/Clipboard.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace guitest {

// Runs the event loop until done() holds or the time is up; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds = 3000) {
    for (wxStopWatch watch; !done(); wxMilliSleep(2)) {
        if (watch.Time() > timeoutMilliseconds) {
            return done();
        }
        wxTheApp->Yield(true);
    }
    return true;
}
inline void Pump(int milliseconds = 60) {
    PumpUntil([] { return false; }, milliseconds);
}

// Runs action, waits for the window's next paint and then until no paint came for quietMs.
inline bool Repainted(wxWindow* window, const std::function<void()>& action, int quietMs = 100) {
    int paints = 0;
    const auto count = [&paints](wxPaintEvent& event) {
        ++paints;
        event.Skip();
    };
    window->Bind(wxEVT_PAINT, count);
    action();
    const bool painted = PumpUntil([&] { return paints > 0; });
    for (int seen = -1; seen != paints; Pump(quietMs)) {
        seen = paints;
    }
    window->Unbind(wxEVT_PAINT, count);
    return painted;
}

inline void MoveMouse(const wxWindow* window, wxPoint client) {
    wxUIActionSimulator().MouseMove(window->ClientToScreen(client));
    PumpUntil([&] { return window->ScreenToClient(wxGetMousePosition()) == client; }, 2000);
    Pump(20);
}
inline void PressLeft() {
    wxUIActionSimulator().MouseDown();
    Pump(40);
}
inline void ReleaseLeft() {
    wxUIActionSimulator().MouseUp();
    Pump(40);
}
inline void ClickAt(const wxWindow* window, wxPoint client) {
    MoveMouse(window, client);
    PressLeft();
    ReleaseLeft();
}
inline void ClickCentre(const wxWindow* window, const wxRect& rect) {
    ClickAt(window, rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
}

// The window's client area as the X server shows it now.
wxImage CaptureClient(const wxWindow* window);
// Saves the capture as <name>.png in the build tree's screenshot folder.
void SaveScreenshot(const wxWindow* window, const std::string& name);

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
inline Rgb PixelAt(const wxImage& image, int x, int y) {
    return Rgb{image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
}
// Pixels that differ between two captures of the same size, outside ignored.
inline int Differences(const wxImage& a, const wxImage& b, const wxRect& ignored = wxRect()) {
    int differences = 0;
    for (int at = 0; at < a.GetWidth() * a.GetHeight(); ++at) {
        const int x = at % a.GetWidth(), y = at / a.GetWidth();
        differences += !ignored.Contains(x, y) && !(PixelAt(a, x, y) == PixelAt(b, x, y));
    }
    return differences;
}

// Writes a picture filled by colour(x, y) in the format that the file name's extension names.
inline void WritePicture(const std::string& path, int width, int height,
                         const std::function<Rgb(int x, int y)>& colour) {
    wxImage image(width, height, false);
    for (int at = 0; at < width * height; ++at) {
        const Rgb c = colour(at % width, at / width);
        image.SetRGB(at % width, at / width, c.r, c.g, c.b);
    }
    ASSERT_TRUE(image.SaveFile(wxString::FromUTF8(path))) << path;
}

// Answers every message box with OK while it lives.
class MessageBoxes {
public:
    MessageBoxes() {
        platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& request) {
            m_shown.push_back(request);
            return platform::kAnswerOk;
        });
    }
    ~MessageBoxes() { platform::SetMessageBoxHook(nullptr); }
    // The texts shown since the last call, as UTF-8.
    std::vector<std::string> Take() {
        std::vector<std::string> texts;
        for (const platform::MessageBoxRequest& request : m_shown) {
            texts.emplace_back(request.text.utf8_str());
        }
        m_shown.clear();
        return texts;
    }
    const std::vector<platform::MessageBoxRequest>& Shown() const { return m_shown; }
    void Clear() { m_shown.clear(); }

private:
    std::vector<platform::MessageBoxRequest> m_shown;
};

// Chooses path (or cancels, for nothing) in every open-file dialog while it lives.
struct FileChoice {
    FileChoice() {
        platform::SetFileDialogHook([this](const wxString&) -> std::optional<wxString> {
            return path ? std::optional<wxString>(wxString::FromUTF8(*path)) : std::nullopt;
        });
    }
    ~FileChoice() { platform::SetFileDialogHook(nullptr); }
    std::optional<std::string> path;
};

// What `xclip -o -selection <selection> -t <target>` prints, nothing when xclip fails. It
// runs on a thread of its own while the event loop here serves this process's selections.
inline std::optional<std::string> XclipRead(const std::string& selection,
                                            const std::string& target = "UTF8_STRING") {
    const std::vector<std::string> argv{"xclip", "-o", "-selection", selection, "-t", target};
    std::string output;
    std::future<int> code =
        std::async(std::launch::async, [&] { return testsupport::RunCommand(argv, &output); });
    PumpUntil([&] { return code.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              15000);
    return code.get() == 0 ? std::optional<std::string>(output) : std::nullopt;
}

// Another program (xclip) that copies the text to the clipboard and serves it until some
// program takes the clipboard over, or the object goes.
class XclipCopy {
public:
    explicit XclipCopy(const std::string& utf8Text) {
        testsupport::WriteFile(m_dir.File("text"), utf8Text);
        // -quiet keeps xclip in the foreground, so that it can be waited for and ended.
        m_xclip = std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{"xclip", "-quiet", "-i", "-selection", "clipboard",
                                     m_dir.File("text")},
            "/dev/null");
        // Copied once xclip serves the text without this program's secret marker (the text
        // may be the one this program put there).
        PumpUntil(
            [&] {
                return XclipRead("clipboard", "TARGETS")
                               .value_or(platform::kPasswordHintFormat)
                               .find(platform::kPasswordHintFormat) == std::string::npos &&
                       XclipRead("clipboard") == utf8Text;
            },
            10000);
    }
    bool Serving() { return m_xclip->Running(); }

private:
    testsupport::TempDir m_dir;
    std::unique_ptr<testsupport::ChildProcess> m_xclip;
};

}  // namespace guitest
