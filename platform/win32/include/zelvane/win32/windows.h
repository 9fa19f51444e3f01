#pragma once

// The Windows API, wide (W) calls only.
#include <windows.h>
