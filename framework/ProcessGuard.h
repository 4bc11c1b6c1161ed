// Process-wide protection of the secrets in memory.
#pragma once

namespace Ombrix {

// Turns core dumps off for the rest of the run: the core size limit goes to zero (soft and
// hard, so nothing in the process can raise it again) and the process is marked not
// dumpable, which also keeps other programs of the same user from attaching to it or
// reading its memory through /proc. The program's own crash report is written by the
// process itself and is not affected. True when both took effect.
bool DisableCoreDumps();

// True when the process is marked not dumpable.
bool CoreDumpsDisabled();

}  // namespace Ombrix
