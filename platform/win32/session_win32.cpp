#include <vector>

#include "zelvane/platform/session.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

bool RunsElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const win32::UniqueHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

}  // namespace

Session CurrentSession() {
    std::vector<wchar_t> name(257);
    DWORD size = static_cast<DWORD>(name.size());
    const std::string user =
        ::GetUserNameW(name.data(), &size) ? win32::Utf8(name.data()) : "an unknown user";
    return {user, RunsElevated()};
}

const char* AdviceForMissingRights() { return "Run the updater as administrator."; }

std::string DefaultLogPath() {
    std::vector<wchar_t> folder(MAX_PATH + 1);
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    const std::wstring base = length > 0 && length < folder.size() ? folder.data() : L".\\";
    return win32::Utf8(base + L"Zelvane update.log");
}

}  // namespace zelvane
