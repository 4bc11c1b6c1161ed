// The folder of the running executable, where the vault lives.
#pragma once

#include <string>

// The directory of /proc/self/exe with '/' separators and a trailing '/'; "" if unknown.
std::string ProgramDirectory();
