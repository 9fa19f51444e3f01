#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace zelvane::win32 {

// The engine speaks UTF-8; the Windows API speaks UTF-16. Both throw on malformed text.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// Windows error codes, with the system's own wording of each.
const std::error_category& WindowsCategory();

// A std::system_error for the calling thread's last error: "<action> "<path>": <reason>".
[[noreturn]] void ThrowLastError(const std::string& action, const std::string& path);

}  // namespace zelvane::win32
