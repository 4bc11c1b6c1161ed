// The running program's main window seen from outside: finds it, locates its controls from
// the dialog templates, finds the soft keyboard on the screen and types on it, answers the
// boxes the program opens, and takes screenshots.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/DialogTemplate.h"
#include "support/XDriver.h"

namespace testsupport {

class ProgramWindow {
public:
    ProgramWindow(xdriver::XSession& x, pid_t pid) : m_x(x), m_pid(pid) {}

    // Waits until the main window is on the screen; false when it did not come.
    bool WaitShown(int timeoutMs);
    unsigned long Id() const { return m_window; }

    // The top-left corner of a control of a panel template (the panels lie at the window's
    // origin) or of the main window's own template.
    static xdriver::Point ControlCorner(const platform::DialogTemplate& dialog, int id);
    // Clicks the control's centre.
    void Click(const platform::DialogTemplate& dialog, int id);
    // Clicks into an edit control and types text there with the keyboard.
    void TypeInto(const platform::DialogTemplate& dialog, int id, const std::string& text);

    // Waits until the window's content stays the same for a while.
    bool WaitSettled(int timeoutMs);
    // Waits until the soft keyboard is drawn and still; its top-left corner in *origin.
    bool WaitForKeyboard(xdriver::Point* origin, int timeoutMs);
    // Types text (characters of the keyboard's lower layer) on the soft keyboard where it
    // is now, then presses the password panel's OK button; false when no keyboard showed.
    bool TypePassword(const std::string& text);

    // Waits for another window of the program (a message box, a file dialog); its id, or 0.
    unsigned long WaitForOtherWindow(int timeoutMs);
    // Answers the box that is up with Return (its default button); false when none came
    // or it stayed.
    bool AcceptBox(int timeoutMs = 8000);
    // Chooses a file in the file dialog that is up: the location line (Control+L), the
    // path, Return.
    bool ChooseFile(const std::string& path, int timeoutMs = 15000);

    // Saves the main window (or another window of the program) as it is on the screen into
    // the build tree's screenshot folder.
    void Screenshot(const std::string& name, unsigned long window = 0);

private:
    // Presses Return in the window (focused first if asked) until it goes: a completion or a
    // focus not yet set up may take a press. False when it stays.
    bool ReturnUntilGone(unsigned long window, bool focus, int attempts, int waitMs);

    xdriver::XSession& m_x;
    pid_t m_pid;
    unsigned long m_window = 0;
};

}  // namespace testsupport
