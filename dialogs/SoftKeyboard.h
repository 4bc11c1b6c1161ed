// The soft keyboard's geometry: four rows of 20 by 20 pixel keys, each row 10 pixels
// further right than the one above, and a shift key at each end of the bottom row. All
// positions are relative to the keyboard origin, which the password panel moves at random.
#pragma once

#include <wx/gdicmn.h>

constexpr int kKeyboardRows = 4;
constexpr int kKeyboardCells = 14;  // cells per row; a row's keys fill it from cell 0
constexpr int kKeySize = 20;
constexpr int kRowIndent = 10;
constexpr int kShiftRow = 3;
constexpr int kShiftKeyWidth = 60;
constexpr int kRightShiftLeft = 280;  // from the origin

// The characters of a row's keys on the unshifted or shifted layer.
const char* KeyboardRow(int row, bool shifted);

// The key in a row's cell, or 0 when the cell holds no key.
char KeyAt(int row, int cell, bool shifted);

// Rectangles (right and bottom edges exclusive) for the keyboard origin.
wxRect KeyRect(wxPoint origin, int row, int cell);
wxRect LeftShiftRect(wxPoint origin);
wxRect RightShiftRect(wxPoint origin);

// What a point hits: a character key, a shift key or nothing. Rows and cells are walked in
// order and the first rectangle that contains the point wins.
struct KeyboardHit {
    enum Kind { Nothing, Character, Shift } kind = Nothing;
    char character = 0;
};
KeyboardHit HitTestKeyboard(wxPoint origin, wxPoint point, bool shifted);
