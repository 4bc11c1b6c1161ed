#include "dialogs/SoftKeyboard.h"

#include <cstring>

namespace {

const char* const kUnshiftedRows[kKeyboardRows] = {
    "1234567890-=",
    "qwertyuiop[]\\",
    "asdfghjkl;'",
    "zxcvbnm,./",
};
const char* const kShiftedRows[kKeyboardRows] = {
    "!@#$%^&*()_+",
    "QWERTYUIOP{}|",
    "ASDFGHJKL:\"",
    "ZXCVBNM<>?",
};

}  // namespace

const char* KeyboardRow(int row, bool shifted) {
    if (row < 0 || row >= kKeyboardRows) {
        return "";
    }
    return shifted ? kShiftedRows[row] : kUnshiftedRows[row];
}

char KeyAt(int row, int cell, bool shifted) {
    const char* keys = KeyboardRow(row, shifted);
    if (cell < 0 || cell >= kKeyboardCells || static_cast<size_t>(cell) >= std::strlen(keys)) {
        return 0;
    }
    return keys[cell];
}

wxRect KeyRect(wxPoint origin, int row, int cell) {
    return wxRect(origin.x + kRowIndent * row + kKeySize * cell, origin.y + kKeySize * row,
                  kKeySize, kKeySize);
}

wxRect LeftShiftRect(wxPoint origin) {
    return wxRect(origin.x - kShiftKeyWidth, origin.y + kKeySize * kShiftRow, kShiftKeyWidth,
                  kKeySize);
}

wxRect RightShiftRect(wxPoint origin) {
    return wxRect(origin.x + kRightShiftLeft, origin.y + kKeySize * kShiftRow, kShiftKeyWidth,
                  kKeySize);
}

KeyboardHit HitTestKeyboard(wxPoint origin, wxPoint point, bool shifted) {
    for (int row = 0; row < kKeyboardRows; ++row) {
        for (int cell = 0; cell < kKeyboardCells; ++cell) {
            const char key = KeyAt(row, cell, shifted);
            if (key != 0 && KeyRect(origin, row, cell).Contains(point)) {
                return {KeyboardHit::Character, key};
            }
            if (row == kShiftRow && cell == 0 && LeftShiftRect(origin).Contains(point)) {
                return {KeyboardHit::Shift, 0};
            }
            if (row == kShiftRow && cell == kKeyboardCells - 1 &&
                RightShiftRect(origin).Contains(point)) {
                return {KeyboardHit::Shift, 0};
            }
        }
    }
    return {};
}
