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

constexpr int kPanelWidth = 482;
constexpr int kPanelHeight = 215;
const Rgb kShadow{160, 160, 160};
const Rgb kLight{255, 255, 255};

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

// A key's etched frame: dark outer corner, light inner corner.
bool FrameAt(const Image& shot, int x, int y) {
    return shot.At(x, y) == kShadow && shot.At(x + 1, y + 1) == kLight;
}

// The top-left corner of the first key: a frame with its right neighbour's frame beside it
// and the frame of the first key of the next row below, half a key further right. The first
// such place in reading order is that key, since nothing of the keyboard lies above it.
bool FindKeyboard(const Image& shot, Point* origin) {
    for (int y = 30; y + kKeySize + 2 < shot.height; ++y) {
        for (int x = 0; x + kKeySize + 2 < shot.width; ++x) {
            if (FrameAt(shot, x, y) && FrameAt(shot, x + kKeySize, y) &&
                FrameAt(shot, x + kRowIndent, y + kKeySize)) {
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
        [&] {
            m_window = m_x.FindWindow(m_pid, texts::kMainWindowCaption);
            return m_window != 0;
        },
        timeoutMs);
}

Point ProgramWindow::ControlCentre(const platform::DialogTemplate& dialog, int id) {
    const wxRect rect = ControlRect(dialog, id);
    return Point{rect.x + rect.width / 2, rect.y + rect.height / 2};
}

Point ProgramWindow::ControlCorner(const platform::DialogTemplate& dialog, int id) {
    const wxRect rect = ControlRect(dialog, id);
    return Point{rect.x, rect.y};
}

void ProgramWindow::Click(const platform::DialogTemplate& dialog, int id) {
    m_x.Click(m_window, ControlCentre(dialog, id));
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

bool ProgramWindow::KeyboardDrawn(Point* origin) {
    return FindKeyboard(m_x.Capture(m_window, {0, 0}, {kPanelWidth, kPanelHeight}), origin);
}

bool ProgramWindow::WaitForKeyboard(Point* origin, int timeoutMs) {
    return xdriver::WaitUntil(
        [&] {
            if (!WaitSettled(2000)) {
                return false;
            }
            return KeyboardDrawn(origin);
        },
        timeoutMs);
}

bool ProgramWindow::TypePassword(const std::string& text) {
    Point origin;
    if (!WaitForKeyboard(&origin, 15000)) {
        return false;
    }
    const wxRect ok = ControlRect(PasswordTemplate(), ids::kOk);
    const wxPoint keyboard(origin.x, origin.y);
    for (const char c : text) {
        bool found = false;
        for (int row = 0; row < kKeyboardRows && !found; ++row) {
            for (int cell = 0; cell < kKeyboardCells && !found; ++cell) {
                if (KeyAt(row, cell, false) != c) {
                    continue;
                }
                const wxRect key = KeyRect(keyboard, row, cell);
                if (key.Intersects(ok)) {
                    throw std::logic_error(std::string("the OK button may cover the key ") + c);
                }
                m_x.Click(m_window, Point{key.x + key.width / 2, key.y + key.height / 2});
                found = true;
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
        [&] {
            other = m_x.FindOtherWindow(m_pid, texts::kMainWindowCaption);
            return other != 0;
        },
        timeoutMs);
    return other;
}

bool ProgramWindow::WaitGone(unsigned long window, int timeoutMs) {
    return xdriver::WaitUntil([&] { return !m_x.Visible(window); }, timeoutMs);
}

bool ProgramWindow::AcceptBox(int timeoutMs) {
    const unsigned long box = WaitForOtherWindow(timeoutMs);
    if (box == 0) {
        return false;
    }
    // The box may still be setting its focus up: press again until it goes.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_x.Focus(box);
        Sleep(150);
        m_x.Press("Return");
        if (WaitGone(box, 1500)) {
            return true;
        }
    }
    return false;
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
    // A completion offered for the typed path may take the first Return.
    for (int attempt = 0; attempt < 4; ++attempt) {
        m_x.Press("Return");
        if (WaitGone(dialog, 2000)) {
            return true;
        }
    }
    return false;
}

void ProgramWindow::Screenshot(const std::string& name) {
    std::filesystem::create_directories(FERROCASK_SCREENSHOT_DIR);
    xdriver::SaveImage(m_x.CaptureWindow(m_window),
                       std::string(FERROCASK_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace testsupport
