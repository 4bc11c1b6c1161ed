// The application icon (resource 128), built into the program at several sizes.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

// The icon at the sizes of a window's title bar, task bar and switcher (16 to 64 pixels).
wxIconBundle AppIcons();

// The icon drawn side by side pixels large.
wxBitmap AppIconBitmap(int side);
