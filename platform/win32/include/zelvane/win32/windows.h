#pragma once

// The Windows API, wide (W) calls only.
#include <windows.h>

// The name clashes with FileSystem::DeleteFile; code calls ::DeleteFileW by its own name.
#undef DeleteFile
