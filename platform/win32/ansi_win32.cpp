#include <string>

#include "zelvane/platform/ansi.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/windows.h"

namespace zelvane {

std::string AnsiToUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return win32::Utf8(wide);
}

}  // namespace zelvane
