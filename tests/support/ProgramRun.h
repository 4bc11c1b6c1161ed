// ProgramRun, the real program started as a user starts it, is declared with its window.
#pragma once

#include "support/ProgramWindow.h"
