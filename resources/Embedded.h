// Files built into the program (the application icon at its sizes).
#pragma once

#include <cstddef>
#include <vector>

struct EmbeddedFile {
    const char* name;  // the file's name in the source tree, without folders
    const unsigned char* bytes;
    std::size_t length;
};

// The application icon as PNG pictures, from the smallest to the largest.
std::vector<EmbeddedFile> AppIconFiles();
