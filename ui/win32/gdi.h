#pragma once

#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

inline void ReleaseScreenDc(HDC context) { ::ReleaseDC(nullptr, context); }

// A font, brush or bitmap, deleted when no longer needed.
using GdiObject = UniqueResource<NullableTraits<HGDIOBJ, &::DeleteObject>>;

// A device context made for drawing off screen.
using MemoryDc = UniqueResource<NullableTraits<HDC, &::DeleteDC>>;

// The whole screen's device context, borrowed from the system.
using ScreenDc = UniqueResource<NullableTraits<HDC, &ReleaseScreenDc>>;

}  // namespace zelvane::ui
