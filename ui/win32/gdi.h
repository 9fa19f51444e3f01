#pragma once

#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// A font, brush or bitmap, deleted when no longer needed.
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type None() { return nullptr; }
    static bool Valid(Type object) { return object != nullptr; }
    static void Release(Type object) { ::DeleteObject(object); }
};
using GdiObject = UniqueResource<GdiObjectTraits>;

// A device context made for drawing off screen.
struct MemoryDcTraits {
    using Type = HDC;
    static Type None() { return nullptr; }
    static bool Valid(Type context) { return context != nullptr; }
    static void Release(Type context) { ::DeleteDC(context); }
};
using MemoryDc = UniqueResource<MemoryDcTraits>;

// The whole screen's device context, borrowed from the system.
struct ScreenDcTraits {
    using Type = HDC;
    static Type None() { return nullptr; }
    static bool Valid(Type context) { return context != nullptr; }
    static void Release(Type context) { ::ReleaseDC(nullptr, context); }
};
using ScreenDc = UniqueResource<ScreenDcTraits>;

}  // namespace zelvane::ui
