#pragma once

#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/windows.h"

namespace zelvane::win32 {

// Windows answers "no handle" with 0 from some calls and INVALID_HANDLE_VALUE from others.
struct HandleTraits {
    using Type = HANDLE;
    static HANDLE None() { return nullptr; }
    static bool Valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Release(HANDLE handle) { ::CloseHandle(handle); }
};

// Owns a kernel handle and closes it when destroyed.
using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace zelvane::win32
