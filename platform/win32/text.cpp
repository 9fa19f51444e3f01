#include "zelvane/win32/text.h"

#include <limits>
#include <memory>
#include <stdexcept>

#include "zelvane/win32/windows.h"

namespace zelvane::win32 {
namespace {

int CheckedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("text too long for the Windows API");
    }
    return static_cast<int>(size);
}

class WindowsErrorCategory final : public std::error_category {
  public:
    const char* name() const noexcept override { return "windows"; }

    // A lack of rights compares equal to the generic condition, so that callers tell it alike on
    // every platform.
    std::error_condition default_error_condition(int code) const noexcept override {
        if (code == ERROR_ACCESS_DENIED) return std::errc::permission_denied;
        return {code, *this};
    }

    std::string message(int code) const override {
        wchar_t* buffer = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (length == 0) return "Windows error " + std::to_string(code);
        const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(buffer, &::LocalFree);
        std::wstring_view text(owned.get(), length);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                                 text.back() == L' ' || text.back() == L'.')) {
            text.remove_suffix(1);
        }
        return Utf8(text);
    }
};

}  // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = CheckedLength(utf8.size());
    const int length =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length == 0) throw std::invalid_argument("the text is not valid UTF-8");
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = CheckedLength(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size,
                                             nullptr, 0, nullptr, nullptr);
    if (length == 0) throw std::invalid_argument("the text is not valid UTF-16");
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), length,
                          nullptr, nullptr);
    return utf8;
}

const std::error_category& WindowsCategory() {
    static const WindowsErrorCategory category;
    return category;
}

void ThrowError(unsigned long error, const char* action, std::string_view path) {
    throw std::system_error(static_cast<int>(error), WindowsCategory(),
                            std::string(action) + " \"" + std::string(path) + "\"");
}

void ThrowLastError(const char* action, std::string_view path) {
    const DWORD error = ::GetLastError();
    ThrowError(error, action, path);
}

}  // namespace zelvane::win32
