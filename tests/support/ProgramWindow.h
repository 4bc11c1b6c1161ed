// The real program started and driven from outside as a user drives it: through the X
// server of DISPLAY (xdriver: clicks and keys by XTest, screen captures, close requests) and
// the program's dialog templates (ProgramWindow).
#pragma once

#include <gtest/gtest.h>
#include <wx/gdicmn.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/DialogTemplate.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TestVault.h"

struct _XDisplay;

namespace xdriver {

// A piece of the screen, three bytes a pixel.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    bool operator==(const Image& o) const { return width == o.width && rgb == o.rgb; }
};

// Writes the image as a file of the given gdk-pixbuf type ("png", "jpeg").
bool SaveImage(const Image& image, const std::string& path, const char* type = "png");
// Polls done() every pollMs until it holds or the time is up; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 20);

class XSession {
public:
    XSession();  // connects to DISPLAY; throws when there is no X server
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // A viewable top-level window of process pid with that title (or another one), or 0.
    unsigned long FindWindow(pid_t pid, const std::string& title, bool other = false);
    bool Visible(unsigned long window);
    wxPoint Size(unsigned long window);
    void Click(unsigned long window, wxPoint at);  // a left click
    void Focus(unsigned long window);              // raises it and gives it the keyboard
    void Type(const std::string& text);            // characters of the US keyboard layout
    // Moves the pointer to the screen's top left corner, over no window.
    void ParkPointer();
    // Presses a key named by its keysym name ("Return", "Down", "l"), with Control if asked.
    void Press(const std::string& keysymName, bool control = false);
    // What the screen shows of the window (whatever lies over it), from at, size by size.
    Image Capture(unsigned long window, wxPoint at, wxPoint size);
    Image CaptureWindow(unsigned long window) { return Capture(window, {0, 0}, Size(window)); }
    // Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void RequestClose(unsigned long window);

private:
    wxPoint Origin(unsigned long window);
    void Stroke(unsigned long keysym, unsigned long modifier);

    ::_XDisplay* m_display = nullptr;
};

}  // namespace xdriver

namespace testsupport {

// The program copied into a folder of its own and started there, without input or arguments.
class ProgramRun : public ChildProcess {
public:
    // Copies the executable into folder under the name "ferrocask".
    static void Install(const std::string& executable, const std::string& folder);
    // The program under test into folder with what an installation puts beside it (its
    // interface font; the help file is only opened, never read).
    static void InstallProgram(const std::string& folder);
    // Starts folder/ferrocask in folder; with ownNetwork in a network of its own with
    // nothing in it, where whatever it tries to reach fails at once. Killed at the end.
    explicit ProgramRun(const std::string& folder, bool ownNetwork = false);
    bool WaitForEnd(int timeoutMs);  // whether it ended within the time
    int Status() { return Wait(); }  // its wait status, once it ended
    // What it wrote to stdout and stderr, kept in the folder.
    std::string Output() const {
        return ReadFile(m_folder + "/output-" + std::to_string(Pid()) + ".txt");
    }

private:
    std::string m_folder;
};

class ProgramWindow {
public:
    ProgramWindow(xdriver::XSession& x, pid_t pid) : m_x(x), m_pid(pid) {}

    bool WaitShown(int timeoutMs, int pollMs = 20) {
        return (m_window = WaitForWindow(false, timeoutMs, pollMs)) != 0;
    }
    unsigned long Id() const { return m_window; }
    // Where a control of a template lies in the window (the panels lie at its origin).
    static wxRect ControlRect(const platform::DialogTemplate& dialog, int id);
    void Click(const platform::DialogTemplate& dialog, int id);  // at the control's centre
    // Waits until the window's content stays the same for a while.
    bool WaitSettled(int timeoutMs);
    // Waits until the soft keyboard is drawn and still; its top-left corner in *origin.
    bool WaitForKeyboard(wxPoint* origin, int timeoutMs);
    // Types text (its lower layer) on the soft keyboard, then OK; false without a keyboard.
    bool TypePassword(const std::string& text);
    // Waits for another window of the program (a message box, a file dialog); its id, or 0.
    unsigned long WaitForOtherWindow(int timeoutMs) { return WaitForWindow(true, timeoutMs); }
    // Answers the next other window (a file dialog with file) with Return; false if it stays.
    bool Accept(const std::string& file = "");
    // Saves the main (or another) window as the screen shows it in the screenshot folder.
    void Screenshot(const std::string& name, unsigned long window = 0);

private:
    unsigned long WaitForWindow(bool other, int timeoutMs, int pollMs = 20);

    xdriver::XSession& m_x;
    pid_t m_pid;
    unsigned long m_window = 0;
};

// The program installed in a test vault's folder and started there.
class ProgramFixture : public ::testing::Test {
protected:
    // Writes config as the configuration file unless it is empty; waits for the main window.
    void Start(const std::string& config = "/config/update/server off\n", bool ownNetwork = false);
    void ExpectSuccessfulEnd(int withinMs = 10000);  // it ends by itself with status 0
    void Settle() { ASSERT_TRUE(window->WaitSettled(8000)); }

    TestVault vault;
    xdriver::XSession x;
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<ProgramWindow> window;
};

}  // namespace testsupport
