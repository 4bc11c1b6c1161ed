#include "support/ProgramWindow.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "dialogs/SoftKeyboard.h"
#include "platform/DialogUnits.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the widget library's headers.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef Status  // ProgramRun's

namespace {

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
// The bytes of the window's property of that name when it has that type, else "".
std::string Property(Display* display, Window window, const char* name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string bytes;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False, type,
                           &actualType, &format, &count, &after, &data) == Success &&
        data) {
        // Items of format 32 are longs in Xlib's memory.
        bytes.assign(reinterpret_cast<char*>(data), count * (format == 32 ? sizeof(long) : 1));
        XFree(data);
    }
    return actualType == type ? bytes : "";
}

}  // namespace

namespace xdriver {

bool SaveImage(const Image& image, const std::string& path, const char* type) {
    if (image.width <= 0 || image.height <= 0) {
        return false;
    }
    GdkPixbuf* pixbuf =
        gdk_pixbuf_new_from_data(image.rgb.data(), GDK_COLORSPACE_RGB, FALSE, 8, image.width,
                                 image.height, image.width * 3, nullptr, nullptr);
    const bool saved = gdk_pixbuf_save(pixbuf, path.c_str(), type, nullptr, nullptr) != FALSE;
    g_object_unref(pixbuf);
    return saved;
}
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (; !done(); Sleep(pollMs)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return done();
        }
    }
    return true;
}
XSession::XSession() : m_display(XOpenDisplay(nullptr)) {
    if (m_display == nullptr) {
        throw std::runtime_error("no X display: set DISPLAY (the test runs use Xvfb)");
    }
    // Windows come and go while the list is read; an error about one that went is no failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
}
XSession::~XSession() {
    XCloseDisplay(m_display);
}
// The test display has no window manager: the programs' windows are the root's children.
unsigned long XSession::FindWindow(pid_t pid, const std::string& title, bool other) {
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count);
    const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
    for (unsigned i = 0; i < count && found == 0; ++i) {
        const std::string shown = Property(m_display, children[i], "_NET_WM_NAME", utf8);
        const std::string owner = Property(m_display, children[i], "_NET_WM_PID", XA_CARDINAL);
        if (!shown.empty() && (shown == title) != other && Visible(children[i]) &&
            owner.size() == sizeof(long) && *reinterpret_cast<const long*>(owner.data()) == pid) {
            found = children[i];
        }
    }
    XFree(children);
    return found;
}
bool XSession::Visible(unsigned long window) {
    XWindowAttributes a;
    return XGetWindowAttributes(m_display, window, &a) != 0 && a.map_state == IsViewable;
}
wxPoint XSession::Size(unsigned long window) {
    XWindowAttributes a;
    return XGetWindowAttributes(m_display, window, &a) != 0 ? wxPoint{a.width, a.height}
                                                            : wxPoint{};
}
wxPoint XSession::Origin(unsigned long window) {
    wxPoint origin;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &origin.x,
                          &origin.y, &child);
    return origin;
}
void XSession::Click(unsigned long window, wxPoint at) {
    const wxPoint origin = Origin(window);
    XTestFakeMotionEvent(m_display, -1, origin.x + at.x, origin.y + at.y, CurrentTime);
    for (const bool down : {true, false}) {
        XSync(m_display, False);
        Sleep(30);
        XTestFakeButtonEvent(m_display, 1, down, CurrentTime);
    }
    XSync(m_display, False);
}
void XSession::ParkPointer() {
    XTestFakeMotionEvent(m_display, -1, 0, 0, CurrentTime);
    XSync(m_display, False);
}
void XSession::Focus(unsigned long window) {
    XRaiseWindow(m_display, window);
    XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
    XSync(m_display, False);
    Sleep(50);
}
// Presses and releases the key of keysym, with the key of modifier held if one is given.
void XSession::Stroke(unsigned long keysym, unsigned long modifier) {
    const unsigned keys[] = {modifier ? XKeysymToKeycode(m_display, modifier) : 0u,
                             XKeysymToKeycode(m_display, keysym)};
    for (int i = 0; i < 4; ++i) {  // modifier down, key down, key up, modifier up
        if (keys[i == 1 || i == 2] != 0) {
            XTestFakeKeyEvent(m_display, keys[i == 1 || i == 2], i < 2, CurrentTime);
        }
    }
    XSync(m_display, False);
    Sleep(15);
}
void XSession::Type(const std::string& text) {
    for (const char c : text) {
        // Printable ASCII characters are their own keysyms.
        const KeySym keysym = static_cast<unsigned char>(c);
        const ::KeyCode code = XKeysymToKeycode(m_display, keysym);
        Stroke(keysym, XkbKeycodeToKeysym(m_display, code, 0, 0) != keysym ? XK_Shift_L : 0);
    }
}
void XSession::Press(const std::string& keysymName, bool control) {
    Stroke(XStringToKeysym(keysymName.c_str()), control ? XK_Control_L : NoSymbol);
}
Image XSession::Capture(unsigned long window, wxPoint at, wxPoint size) {
    const wxPoint origin = Origin(window);
    // From the root window: what the screen shows there now.
    XImage* shot = XGetImage(m_display, DefaultRootWindow(m_display), origin.x + at.x,
                             origin.y + at.y, size.x, size.y, AllPlanes, ZPixmap);
    Image image{shot ? size.x : 0, shot ? size.y : 0, {}};
    // The test display has 24 bits a pixel, red in the high byte.
    for (int i = 0; i < image.width * image.height * 3; ++i) {
        const unsigned long pixel = XGetPixel(shot, i / 3 % size.x, i / 3 / size.x);
        image.rgb.push_back(static_cast<std::uint8_t>(pixel >> (16 - i % 3 * 8)));
    }
    if (shot) {
        XDestroyImage(shot);
    }
    return image;
}
void XSession::RequestClose(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    XSendEvent(m_display, window, False, NoEventMask, &event);
    XSync(m_display, False);
}

}  // namespace xdriver

namespace testsupport {

namespace {

// The first key's corner: the first etched frame (dark outer, light inner corner) in reading
// order with frames beside it and below it, half a key further right.
bool FindKeyboard(const xdriver::Image& shot, wxPoint* origin) {
    const auto frameAt = [&](int x, int y) {
        const std::uint8_t* p = &shot.rgb[(static_cast<std::size_t>(y) * shot.width + x) * 3];
        const std::uint8_t* q = p + (shot.width + 1) * 3;  // a pixel down and to the right
        return p[0] == 160 && p[1] == 160 && p[2] == 160 && q[0] == 255 && q[1] == 255 &&
               q[2] == 255;
    };
    for (int y = 30; y + kKeySize + 2 < shot.height; ++y) {
        for (int x = 0; x + kKeySize + 2 < shot.width; ++x) {
            if (frameAt(x, y) && frameAt(x + kKeySize, y) &&
                frameAt(x + kRowIndent, y + kKeySize)) {
                *origin = wxPoint{x, y};
                return true;
            }
        }
    }
    return false;
}

}  // namespace

unsigned long ProgramWindow::WaitForWindow(bool other, int timeoutMs, int pollMs) {
    unsigned long found = 0;
    xdriver::WaitUntil(
        [&] { return (found = m_x.FindWindow(m_pid, texts::kMainWindowCaption, other)) != 0; },
        timeoutMs, pollMs);
    return found;
}
wxRect ProgramWindow::ControlRect(const platform::DialogTemplate& dialog, int id) {
    for (const platform::ControlTemplate& c : dialog.controls) {
        if (c.id == id) {
            using platform::DialogUnitsToPixels;
            return wxRect(DialogUnitsToPixels(c.x), DialogUnitsToPixels(c.y),
                          DialogUnitsToPixels(c.width), DialogUnitsToPixels(c.height));
        }
    }
    throw std::logic_error("no control " + std::to_string(id) + " in the template");
}
void ProgramWindow::Click(const platform::DialogTemplate& dialog, int id) {
    const wxRect rect = ControlRect(dialog, id);
    m_x.Click(m_window, rect.GetPosition() + rect.GetSize() / 2);
}
bool ProgramWindow::WaitSettled(int timeoutMs) {
    xdriver::Image last;
    int still = 0;  // captures, 20 ms apart
    return xdriver::WaitUntil(
        [&] {
            xdriver::Image now = m_x.CaptureWindow(m_window);
            still = now == last ? still + 1 : 0;
            last = std::move(now);
            return still >= 10;
        },
        timeoutMs);
}
bool ProgramWindow::WaitForKeyboard(wxPoint* origin, int timeoutMs) {
    // The keyboard lies on the password panel, 482 by 215 pixels at the window's origin.
    return xdriver::WaitUntil(
        [&] {
            return WaitSettled(2000) &&
                   FindKeyboard(m_x.Capture(m_window, {0, 0}, {482, 215}), origin);
        },
        timeoutMs);
}
bool ProgramWindow::TypePassword(const std::string& text) {
    wxPoint origin;
    if (!WaitForKeyboard(&origin, 15000)) {
        return false;
    }
    for (const char c : text) {
        wxRect key;
        for (int row = 0; row < kKeyboardRows; ++row) {
            for (int cell = 0; cell < kKeyboardCells && key.IsEmpty(); ++cell) {
                if (KeyAt(row, cell, false) == c) {
                    key = KeyRect(origin, row, cell);
                }
            }
        }
        if (key.IsEmpty()) {
            throw std::logic_error(std::string("no key on the lower layer for ") + c);
        }
        m_x.Click(m_window, key.GetPosition() + key.GetSize() / 2);
    }
    Click(PasswordTemplate(), ids::kOk);
    return true;
}
bool ProgramWindow::Accept(const std::string& file) {
    const unsigned long other = WaitForOtherWindow(30000);
    for (int attempt = 0; other != 0 && attempt < 5; ++attempt) {
        // A focus not yet set or a completion may take another press; the file dialog keeps
        // the focus in its location line.
        if (attempt == 0 || file.empty()) {
            m_x.Focus(other);
            Sleep(300);
        }
        if (attempt == 0 && !file.empty()) {
            m_x.Press("l", true);
            Sleep(300);
            m_x.Type(file);
            Sleep(400);
        }
        m_x.Press("Return");
        if (xdriver::WaitUntil([&] { return !m_x.Visible(other); }, 2000)) {
            return true;
        }
    }
    return false;
}
void ProgramWindow::Screenshot(const std::string& name, unsigned long window) {
    std::filesystem::create_directories(FERROCASK_SCREENSHOT_DIR);
    xdriver::SaveImage(m_x.CaptureWindow(window != 0 ? window : m_window),
                       std::string(FERROCASK_SCREENSHOT_DIR) + "/" + name + ".png");
}
void ProgramFixture::Start(const std::string& config, bool ownNetwork) {
    ProgramRun::InstallProgram(vault.Directory());
    if (!config.empty()) {
        WriteFile(vault.File("config.txt"), config);
    }
    run = std::make_unique<ProgramRun>(vault.Directory(), ownNetwork);
    window = std::make_unique<ProgramWindow>(x, run->Pid());
    // A sanitizer build on a busy machine may take its time.
    ASSERT_TRUE(window->WaitShown(60000)) << "no main window; the program wrote:\n"
                                          << run->Output();
}
void ProgramFixture::ExpectSuccessfulEnd(int withinMs) {
    ASSERT_TRUE(run->WaitForEnd(withinMs)) << "still running";
    EXPECT_TRUE(WIFEXITED(run->Status()) && WEXITSTATUS(run->Status()) == 0)
        << "wait status " << run->Status() << "\n"
        << run->Output();
}
void ProgramRun::Install(const std::string& executable, const std::string& folder) {
    if (RunCommand({"install", "-m", "700", executable, folder + "/ferrocask"}) != 0) {
        throw std::runtime_error("cannot install " + executable + " in " + folder);
    }
}
void ProgramRun::InstallProgram(const std::string& folder) {
    Install(FERROCASK_PROGRAM, folder);
    const std::string font = FERROCASK_INTERFACE_FONT;
    const std::string name = font.substr(font.rfind('/') + 1);
    if (RunCommand({"install", "-m", "644", font, folder + "/" + name}) != 0) {
        throw std::runtime_error("cannot install " + font + " in " + folder);
    }
}
// Each step execs the next, keeping the process id. The test display has no settings daemon
// or accessibility bus; of leaks only what fontconfig and GLib's allocator keep is waived.
ProgramRun::ProgramRun(const std::string& folder, bool ownNetwork)
    : ChildProcess(
          {"sh", "-c",
           std::string("cd \"$1\" && printf 'leak:libfontconfig.so\\nleak:libglib-2.0.so\\n' "
                       ">leaks.supp && exec ") +
               (ownNetwork ? "unshare --net " : "") +
               "env GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 "
               "LSAN_OPTIONS=\"${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$PWD/leaks.supp\" "
               "./ferrocask </dev/null >\"output-$$.txt\" 2>&1",
           "sh", folder}),
      m_folder(folder) {}

bool ProgramRun::WaitForEnd(int timeoutMs) {
    return xdriver::WaitUntil([this] { return !Running(); }, timeoutMs);
}

}  // namespace testsupport
