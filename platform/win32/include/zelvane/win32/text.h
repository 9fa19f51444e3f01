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

// A std::system_error for this Windows error code: "<action> "<path>": <reason>".
[[noreturn]] void ThrowError(unsigned long error, const char* action, std::string_view path);

// The same for the calling thread's last error. It is read before anything else, so pass only
// text that already exists: a string made for the call could change the last error first.
[[noreturn]] void ThrowLastError(const char* action, std::string_view path);

}  // namespace zelvane::win32
