// Drives the windows of another process from outside, as a user would: finds its top-level
// windows on the X server of DISPLAY, clicks and types through XTest, reads the screen and
// asks windows to close. Nothing here touches the widget library.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct _XDisplay;

namespace xdriver {

struct Point {
    int x = 0, y = 0;
};

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A piece of the screen, three bytes a pixel.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    Rgb At(int x, int y) const;  // {-1, -1, -1} outside
    bool operator==(const Image& o) const {
        return width == o.width && height == o.height && rgb == o.rgb;
    }
};

// Writes the image as a file of the given gdk-pixbuf type ("png", "jpeg").
bool SaveImage(const Image& image, const std::string& path, const char* type = "png");

// Polls done() every 20 ms until it holds or the time is up; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

class XSession {
public:
    // Connects to DISPLAY; throws std::runtime_error when there is no X server.
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The viewable top-level window of process pid with exactly that title, or 0.
    unsigned long FindWindow(pid_t pid, const std::string& title) { return Find(pid, title, true); }
    // A viewable top-level window of process pid whose title is not that one, or 0.
    unsigned long FindOtherWindow(pid_t pid, const std::string& notTitle) {
        return Find(pid, notTitle, false);
    }
    bool Visible(unsigned long window);
    Point Size(unsigned long window);

    // A left click at a point of the window.
    void Click(unsigned long window, Point at);
    // Raises the window and gives it the keyboard focus.
    void Focus(unsigned long window);
    // Types text that the US keyboard layout has keys for.
    void Type(const std::string& text);
    // Presses a key named by its keysym name ("Return", "Down", "l"), with Control if asked.
    void Press(const std::string& keysymName, bool control = false);

    // What the screen shows of the window (whatever lies over it), from at, size by size.
    Image Capture(unsigned long window, Point at, Point size);
    Image CaptureWindow(unsigned long window) { return Capture(window, {0, 0}, Size(window)); }

    // Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void RequestClose(unsigned long window);

private:
    unsigned long Find(pid_t pid, const std::string& title, bool sameTitle);
    Point Origin(unsigned long window);
    void Key(unsigned code, bool down);

    ::_XDisplay* m_display = nullptr;
};

}  // namespace xdriver
