// The application icon (resource 128), built into the program at several sizes.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

// Every size of the icon, for a window's title bar, task bar and switcher.
wxIconBundle AppIcons();

// The icon drawn side by side pixels large.
wxBitmap AppIconBitmap(int side);
