#pragma once

#include <sys/types.h>

namespace zelvane::posix {

// The file creation mask the process started with. Reading it means setting it and putting it
// back, which another thread creating a file meanwhile would feel, so it is read once: by
// PrepareProcess while the program is single-threaded, or else by the first caller.
mode_t ProcessUmask();

}  // namespace zelvane::posix
