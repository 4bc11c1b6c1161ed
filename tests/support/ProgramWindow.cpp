#include "support/ProgramWindow.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "dialogs/SoftKeyboard.h"
#include "platform/DialogUnits.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using xdriver::Image;
using xdriver::Point;
using xdriver::Rgb;

namespace testsupport {

namespace {

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

wxRect ControlRect(const platform::DialogTemplate& dialog, int id) {
    for (const platform::ControlTemplate& control : dialog.controls) {
        if (control.id == id) {
            return wxRect(platform::DialogUnitsToPixels(control.x),
                          platform::DialogUnitsToPixels(control.y),
                          platform::DialogUnitsToPixels(control.width),
                          platform::DialogUnitsToPixels(control.height));
        }
    }
    throw std::logic_error("no control " + std::to_string(id) + " in the template");
}

Point Centre(const wxRect& rect) {
    return Point{rect.x + rect.width / 2, rect.y + rect.height / 2};
}

// The top-left corner of the first key: an etched frame (dark outer corner, light inner
// corner) with its right neighbour's frame beside it and the frame of the next row's first
// key below, half a key further right. The first such place in reading order is that key,
// since nothing of the keyboard lies above it.
bool FindKeyboard(const Image& shot, Point* origin) {
    const auto frameAt = [&](int x, int y) {
        return shot.At(x, y) == Rgb{160, 160, 160} && shot.At(x + 1, y + 1) == Rgb{255, 255, 255};
    };
    for (int y = 30; y + kKeySize + 2 < shot.height; ++y) {
        for (int x = 0; x + kKeySize + 2 < shot.width; ++x) {
            if (frameAt(x, y) && frameAt(x + kKeySize, y) &&
                frameAt(x + kRowIndent, y + kKeySize)) {
                *origin = Point{x, y};
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ProgramWindow::WaitShown(int timeoutMs) {
    return xdriver::WaitUntil(
        [&] { return (m_window = m_x.FindWindow(m_pid, texts::kMainWindowCaption)) != 0; },
        timeoutMs);
}

Point ProgramWindow::ControlCorner(const platform::DialogTemplate& dialog, int id) {
    const wxRect rect = ControlRect(dialog, id);
    return Point{rect.x, rect.y};
}

void ProgramWindow::Click(const platform::DialogTemplate& dialog, int id) {
    m_x.Click(m_window, Centre(ControlRect(dialog, id)));
}

void ProgramWindow::TypeInto(const platform::DialogTemplate& dialog, int id,
                             const std::string& text) {
    m_x.Focus(m_window);
    Click(dialog, id);
    Sleep(100);
    m_x.Type(text);
}

bool ProgramWindow::WaitSettled(int timeoutMs) {
    Image last = m_x.CaptureWindow(m_window);
    int still = 0;
    return xdriver::WaitUntil(
        [&] {
            Sleep(100);
            Image now = m_x.CaptureWindow(m_window);
            still = now == last ? still + 1 : 0;
            last = std::move(now);
            return still >= 2;
        },
        timeoutMs);
}

bool ProgramWindow::WaitForKeyboard(Point* origin, int timeoutMs) {
    // The keyboard lies on the password panel, 482 by 215 pixels at the window's origin.
    return xdriver::WaitUntil(
        [&] {
            return WaitSettled(2000) &&
                   FindKeyboard(m_x.Capture(m_window, {0, 0}, {482, 215}), origin);
        },
        timeoutMs);
}

bool ProgramWindow::TypePassword(const std::string& text) {
    Point origin;
    if (!WaitForKeyboard(&origin, 15000)) {
        return false;
    }
    const wxRect ok = ControlRect(PasswordTemplate(), ids::kOk);
    for (const char c : text) {
        bool found = false;
        for (int row = 0; row < kKeyboardRows && !found; ++row) {
            for (int cell = 0; cell < kKeyboardCells && !found; ++cell) {
                if (KeyAt(row, cell, false) == c) {
                    const wxRect key = KeyRect(wxPoint(origin.x, origin.y), row, cell);
                    if (key.Intersects(ok)) {
                        throw std::logic_error(std::string("the OK button may cover the key ") + c);
                    }
                    m_x.Click(m_window, Centre(key));
                    found = true;
                }
            }
        }
        if (!found) {
            throw std::logic_error(std::string("no key on the lower layer for ") + c);
        }
    }
    Click(PasswordTemplate(), ids::kOk);
    return true;
}

unsigned long ProgramWindow::WaitForOtherWindow(int timeoutMs) {
    unsigned long other = 0;
    xdriver::WaitUntil(
        [&] { return (other = m_x.FindOtherWindow(m_pid, texts::kMainWindowCaption)) != 0; },
        timeoutMs);
    return other;
}

bool ProgramWindow::ReturnUntilGone(unsigned long window, bool focus, int attempts, int waitMs) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (focus) {
            m_x.Focus(window);
            Sleep(150);
        }
        m_x.Press("Return");
        if (xdriver::WaitUntil([&] { return !m_x.Visible(window); }, waitMs)) {
            return true;
        }
    }
    return false;
}

bool ProgramWindow::AcceptBox(int timeoutMs) {
    const unsigned long box = WaitForOtherWindow(timeoutMs);
    if (box == 0) {
        return false;
    }
    return ReturnUntilGone(box, true, 5, 1500);
}

bool ProgramWindow::ChooseFile(const std::string& path, int timeoutMs) {
    const unsigned long dialog = WaitForOtherWindow(timeoutMs);
    if (dialog == 0) {
        return false;
    }
    m_x.Focus(dialog);
    Sleep(400);
    m_x.Press("l", true);
    Sleep(300);
    m_x.Type(path);
    Sleep(400);
    return ReturnUntilGone(dialog, false, 4, 2000);
}

void ProgramWindow::Screenshot(const std::string& name, unsigned long window) {
    std::filesystem::create_directories(FERROCASK_SCREENSHOT_DIR);
    xdriver::SaveImage(m_x.CaptureWindow(window != 0 ? window : m_window),
                       std::string(FERROCASK_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace testsupport
