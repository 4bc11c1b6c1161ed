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

// The property's bytes when it has that type and item size, else "".
std::string Property(Display* display, Window window, const char* name, Atom type, int format) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string bytes;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False, type,
                           &actualType, &actualFormat, &count, &after, &data) == Success &&
        data != nullptr) {
        if (actualType == type && actualFormat == format) {
            // Items of format 32 are longs in Xlib's memory.
            bytes.assign(reinterpret_cast<const char*>(data),
                         count * (format == 32 ? sizeof(long) : 1));
        }
        XFree(data);
    }
    return bytes;
}

std::string TitleOf(Display* display, Window window) {
    const std::string title =
        Property(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False), 8);
    return title.empty() ? Property(display, window, "WM_NAME", XA_STRING, 8) : title;
}

std::vector<Window> Children(Display* display, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> list;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 &&
        children != nullptr) {
        list.assign(children, children + count);
        XFree(children);
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

XSession::XSession() : m_display(XOpenDisplay(nullptr)) {
    if (m_display == nullptr) {
        throw std::runtime_error("no X display: set DISPLAY (the test runs use Xvfb)");
    }
    XSetErrorHandler(IgnoreXError);
}

XSession::~XSession() {
    XCloseDisplay(m_display);
}

unsigned long XSession::Find(pid_t pid, const std::string& title, bool sameTitle) {
    for (const Window child : Children(m_display, DefaultRootWindow(m_display))) {
        // Without a window manager the program's windows are the root's children; with one,
        // they sit one level down inside its frames.
        std::vector<Window> candidates{child};
        if (TitleOf(m_display, child).empty()) {
            candidates = Children(m_display, child);
        }
        for (const Window window : candidates) {
            const std::string shown = TitleOf(m_display, window);
            const std::string owner = Property(m_display, window, "_NET_WM_PID", XA_CARDINAL, 32);
            if (!shown.empty() && (shown == title) == sameTitle && Visible(child) &&
                Visible(window) && owner.size() == sizeof(long) &&
                *reinterpret_cast<const long*>(owner.data()) == pid) {
                return window;
            }
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
    Point origin;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &origin.x,
                          &origin.y, &child);
    return origin;
}

Point XSession::Size(unsigned long window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_display, window, &attributes) == 0) {
        return Point{0, 0};
    }
    return Point{attributes.width, attributes.height};
}

void XSession::Click(unsigned long window, Point at) {
    const Point origin = Origin(window);
    XTestFakeMotionEvent(m_display, -1, origin.x + at.x, origin.y + at.y, CurrentTime);
    for (const bool down : {true, false}) {
        XSync(m_display, False);
        Sleep(30);
        XTestFakeButtonEvent(m_display, 1, down, CurrentTime);
    }
    XSync(m_display, False);
    Sleep(30);
}

void XSession::Focus(unsigned long window) {
    XRaiseWindow(m_display, window);
    XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
    XSync(m_display, False);
    Sleep(50);
}

void XSession::Key(unsigned code, bool down) {
    XTestFakeKeyEvent(m_display, code, down, CurrentTime);
}

void XSession::Type(const std::string& text) {
    const unsigned shift = XKeysymToKeycode(m_display, XK_Shift_L);
    for (const char c : text) {
        // Printable ASCII characters are their own keysyms.
        const KeySym keysym = static_cast<unsigned char>(c);
        const ::KeyCode code = XKeysymToKeycode(m_display, keysym);
        if (code == 0) {
            throw std::runtime_error(std::string("no key for ") + c);
        }
        const bool shifted = XkbKeycodeToKeysym(m_display, code, 0, 0) != keysym;
        if (shifted) {
            Key(shift, true);
        }
        Key(code, true);
        Key(code, false);
        if (shifted) {
            Key(shift, false);
        }
        XSync(m_display, False);
        Sleep(15);
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
        Key(controlCode, true);
    }
    Key(code, true);
    Key(code, false);
    if (control) {
        Key(controlCode, false);
    }
    XSync(m_display, False);
    Sleep(15);
}

Image XSession::Capture(unsigned long window, Point at, Point size) {
    Image image;
    const Point origin = Origin(window);
    // From the root window: what the screen shows there now.
    XImage* shot = XGetImage(m_display, DefaultRootWindow(m_display), origin.x + at.x,
                             origin.y + at.y, size.x, size.y, AllPlanes, ZPixmap);
    if (shot == nullptr) {
        return image;
    }
    image.width = size.x;
    image.height = size.y;
    image.rgb.reserve(static_cast<std::size_t>(size.x) * size.y * 3);
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        for (; mask != 0 && (mask & 1) == 0; mask >>= 1) {
            pixel >>= 1;
        }
        return static_cast<std::uint8_t>(pixel & 0xff);
    };
    for (int y = 0; y < size.y; ++y) {
        for (int x = 0; x < size.x; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            for (const unsigned long mask : {shot->red_mask, shot->green_mask, shot->blue_mask}) {
                image.rgb.push_back(channel(pixel, mask));
            }
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
    XSync(m_display, False);
}

}  // namespace xdriver
