// The real program, started twice on one folder: the first copy keeps the folder to itself
// and turns core dumps off; the second one shows its message box, leaves the vault file
// alone and ends with status 1 once the box is answered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

// Last: the X headers define macros (None, Status...) that clash with names above.
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on
// Not used below, and it would hide ProgramRun::Status.
#undef Status

using testsupport::CoreFileLimits;
using testsupport::ProgramRun;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

bool FolderLocked(const std::string& folder) {
    return RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The process that put a window on the X server (GTK names it in _NET_WM_PID); 0 if unknown.
pid_t WindowPid(Display* display, Window window) {
    const Atom property = XInternAtom(display, "_NET_WM_PID", True);
    if (property == None) {
        return 0;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    pid_t pid = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        if (format == 32 && count == 1) {
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    return pid;
}

// Windows of the programs may go away between listing them and asking about them; the
// request then fails, which must not end the test process (Xlib's default).
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// A window of the process that is shown on the screen (no window manager runs: the
// program's windows are children of the root window); None when there is none.
Window ShownWindowOf(Display* display, pid_t pid) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = None;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && found == None; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable && WindowPid(display, children[i]) == pid) {
                found = children[i];
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    return found;
}

// Answers the message box of the process as a user would with the keyboard: gives its
// window the focus and presses Return. False when the process shows no window.
bool PressReturnIn(pid_t pid) {
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    if (!display) {
        return false;
    }
    XSetErrorHandler(IgnoreXError);
    const Window box = ShownWindowOf(display.get(), pid);
    if (box == None) {
        return false;
    }
    XSetInputFocus(display.get(), box, RevertToPointerRoot, CurrentTime);
    XSync(display.get(), False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const KeyCode key = XKeysymToKeycode(display.get(), XK_Return);
    XTestFakeKeyEvent(display.get(), key, True, CurrentTime);
    XTestFakeKeyEvent(display.get(), key, False, CurrentTime);
    XSync(display.get(), False);
    return true;
}

}  // namespace

TEST(ProgramInstanceTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    TempDir folder;
    ProgramRun::Install(FERROCASK_PROGRAM, folder.Path());

    ProgramRun first(folder.Path());
    // A sanitizer build on a busy machine may take its time to get its window up.
    ASSERT_TRUE(WaitFor([&] { return FolderLocked(folder.Path()); }, 60))
        << "the first copy did not take the folder; it "
        << (first.Running() ? "still runs" : "has ended") << " and wrote:\n"
        << first.Output();
    EXPECT_EQ(CoreFileLimits(first.Pid()), "0 0");
    // The first run made the vault file; it stays as it is from here on.
    ASSERT_TRUE(WaitFor([&] { return testsupport::FileExists(folder.File("ferrocask.db")); }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string before = ReadFile(folder.File("ferrocask.db"));
    struct stat statBefore {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statBefore), 0);

    {
        ProgramRun second(folder.Path());
        // It shows its message box and waits for the user; meanwhile the file is untouched.
        ASSERT_TRUE(WaitFor([&] { return PressReturnIn(second.Pid()); }, 60))
            << "the second copy showed no window; it wrote:\n"
            << second.Output();
        // Answered, the box closes and the program ends by itself.
        ASSERT_TRUE(WaitFor(
            [&] {
                if (!second.Running()) {
                    return true;
                }
                PressReturnIn(second.Pid());  // the box may not have had the focus yet
                return false;
            },
            20))
            << "the second copy did not end; it wrote:\n"
            << second.Output();
        EXPECT_TRUE(WIFEXITED(second.Status())) << second.Output();
        EXPECT_EQ(WEXITSTATUS(second.Status()), 1) << second.Output();
    }
    struct stat statAfter {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statAfter), 0);
    EXPECT_EQ(ReadFile(folder.File("ferrocask.db")), before);
    EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
    EXPECT_EQ(statAfter.st_mtim.tv_nsec, statBefore.st_mtim.tv_nsec);
    EXPECT_TRUE(FolderLocked(folder.Path()));  // still the first copy's

    ::kill(first.Pid(), SIGKILL);
    ASSERT_TRUE(first.WaitForEnd(20000));
    EXPECT_FALSE(FolderLocked(folder.Path()));
}
