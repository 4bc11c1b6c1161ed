#include "support/XDriver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace xdriver {

namespace {

// Windows come and go while the list is read; an error about one that went is no failure.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string TextProperty(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actualType, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        if (actualType == type && format == 8) {
            text.assign(reinterpret_cast<const char*>(data), count);
        }
        XFree(data);
    }
    return text;
}

long PidOf(Display* display, Window window) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    const Atom property = XInternAtom(display, "_NET_WM_PID", False);
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &actualType,
                           &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (count == 1 && format == 32) {
            pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        }
        XFree(data);
    }
    return pid;
}

std::string TitleOf(Display* display, Window window) {
    std::string title = TextProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                                     XInternAtom(display, "UTF8_STRING", False));
    if (title.empty()) {
        title = TextProperty(display, window, XA_WM_NAME, XA_STRING);
    }
    return title;
}

std::vector<Window> Children(Display* display, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> list;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0) {
        list.assign(children, children + count);
        if (children != nullptr) {
            XFree(children);
        }
    }
    return list;
}

}  // namespace

Rgb Image::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return Rgb{-1, -1, -1};
    }
    const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    return Rgb{p[0], p[1], p[2]};
}

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

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return done();
        }
        Sleep(20);
    }
    return true;
}

XSession::XSession() {
    m_display = XOpenDisplay(nullptr);
    if (m_display == nullptr) {
        throw std::runtime_error("no X display: set DISPLAY (the test runs use Xvfb)");
    }
    XSetErrorHandler(IgnoreXError);
}

XSession::~XSession() {
    XCloseDisplay(m_display);
}

void XSession::Sync() {
    XSync(m_display, False);
}

std::vector<TopLevel> XSession::TopLevels() {
    std::vector<TopLevel> found;
    const Window root = DefaultRootWindow(m_display);
    for (const Window child : Children(m_display, root)) {
        if (!Visible(child)) {
            continue;
        }
        // Without a window manager the program's windows are the root's children; with one,
        // they sit one level down inside its frames.
        std::vector<Window> candidates{child};
        if (TitleOf(m_display, child).empty()) {
            candidates = Children(m_display, child);
        }
        for (const Window window : candidates) {
            std::string title = TitleOf(m_display, window);
            if (!title.empty() && Visible(window)) {
                found.push_back(TopLevel{window, std::move(title), PidOf(m_display, window)});
            }
        }
    }
    return found;
}

unsigned long XSession::FindWindow(pid_t pid, const std::string& title) {
    for (const TopLevel& window : TopLevels()) {
        if (window.pid == pid && window.title == title) {
            return window.id;
        }
    }
    return 0;
}

unsigned long XSession::FindOtherWindow(pid_t pid, const std::string& notTitle) {
    for (const TopLevel& window : TopLevels()) {
        if (window.pid == pid && window.title != notTitle) {
            return window.id;
        }
    }
    return 0;
}

bool XSession::Visible(unsigned long window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(m_display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

Point XSession::Origin(unsigned long window) {
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return Point{x, y};
}

Point XSession::Size(unsigned long window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_display, window, &attributes) == 0) {
        return Point{0, 0};
    }
    return Point{attributes.width, attributes.height};
}

void XSession::MoveTo(unsigned long window, Point at) {
    const Point origin = Origin(window);
    XTestFakeMotionEvent(m_display, -1, origin.x + at.x, origin.y + at.y, CurrentTime);
    Sync();
    Sleep(30);
}

void XSession::Click(unsigned long window, Point at) {
    MoveTo(window, at);
    XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
    Sync();
    Sleep(30);
    XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
    Sync();
    Sleep(30);
}

void XSession::Focus(unsigned long window) {
    XRaiseWindow(m_display, window);
    XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
    Sync();
    Sleep(50);
}

void XSession::Stroke(unsigned code, bool shift) {
    const unsigned shiftCode = XKeysymToKeycode(m_display, XK_Shift_L);
    if (shift) {
        XTestFakeKeyEvent(m_display, shiftCode, True, CurrentTime);
    }
    XTestFakeKeyEvent(m_display, code, True, CurrentTime);
    XTestFakeKeyEvent(m_display, code, False, CurrentTime);
    if (shift) {
        XTestFakeKeyEvent(m_display, shiftCode, False, CurrentTime);
    }
    Sync();
    Sleep(15);
}

void XSession::Type(const std::string& text) {
    for (const char c : text) {
        // Printable ASCII characters are their own keysyms.
        const KeySym keysym = static_cast<unsigned char>(c);
        const ::KeyCode code = XKeysymToKeycode(m_display, keysym);
        if (code == 0) {
            throw std::runtime_error(std::string("no key for ") + c);
        }
        const bool shift = XkbKeycodeToKeysym(m_display, code, 0, 0) != keysym;
        Stroke(code, shift);
    }
}

void XSession::Press(const std::string& keysymName, bool control) {
    const KeySym keysym = XStringToKeysym(keysymName.c_str());
    const ::KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
    if (code == 0) {
        throw std::runtime_error("no key " + keysymName);
    }
    const unsigned controlCode = XKeysymToKeycode(m_display, XK_Control_L);
    if (control) {
        XTestFakeKeyEvent(m_display, controlCode, True, CurrentTime);
    }
    Stroke(code, false);
    if (control) {
        XTestFakeKeyEvent(m_display, controlCode, False, CurrentTime);
        Sync();
    }
}

Image XSession::Capture(unsigned long window, Point at, Point size) {
    Image image;
    const Point origin = Origin(window);
    const Window root = DefaultRootWindow(m_display);
    // The root window: what the screen shows there now, whatever lies over the window.
    XImage* shot = XGetImage(m_display, root, origin.x + at.x, origin.y + at.y, size.x, size.y,
                             AllPlanes, ZPixmap);
    if (shot == nullptr) {
        return image;
    }
    image.width = size.x;
    image.height = size.y;
    image.rgb.resize(static_cast<std::size_t>(size.x) * size.y * 3);
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<std::uint8_t>((pixel >> shift) & 0xff);
    };
    std::uint8_t* out = image.rgb.data();
    for (int y = 0; y < size.y; ++y) {
        for (int x = 0; x < size.x; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            *out++ = channel(pixel, shot->red_mask);
            *out++ = channel(pixel, shot->green_mask);
            *out++ = channel(pixel, shot->blue_mask);
        }
    }
    XDestroyImage(shot);
    return image;
}

void XSession::RequestClose(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window, False, NoEventMask, &event);
    Sync();
}

}  // namespace xdriver
