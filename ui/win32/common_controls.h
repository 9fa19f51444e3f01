#pragma once

// The common controls' header needs the Windows API declared first.
// clang-format off
#include "zelvane/win32/windows.h"
#include <commctrl.h>
// clang-format on
