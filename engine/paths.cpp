#include "zelvane/engine/paths.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

namespace zelvane {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// Windows opens a device, wherever the folder, for these names with any extension.
bool IsDeviceName(std::string_view component) {
    static constexpr std::array<std::string_view, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
    const std::string base = Upper(component.substr(0, component.find('.')));
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// "..", and names Windows trims to it ("...", ". .").
bool ClimbsOut(std::string_view component) {
    return std::count(component.begin(), component.end(), '.') >= 2 &&
           component.find_first_not_of(". ") == std::string_view::npos;
}

}  // namespace

std::string InstallFolder(const FileSystem& files, std::string_view pathText) {
    std::string folder = files.NativePath(pathText);
    if (folder.empty() || folder.back() != files.Separator()) folder += files.Separator();
    return folder;
}

std::string UnsafeNameReason(std::string_view destName) {
    if (destName.empty()) return "the name is empty";
    if (std::any_of(destName.begin(), destName.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        return "the name holds a control character";
    }
    if (IsSeparator(destName.front())) return "the name is an absolute path";
    if (destName.find(':') != std::string_view::npos) return "the name holds a drive or a colon";
    std::string_view rest = destName;
    while (!rest.empty()) {
        const auto end = std::min(rest.find_first_of("\\/"), rest.size());
        const std::string_view component = rest.substr(0, end);
        if (ClimbsOut(component)) return "the name climbs out of the install folder";
        if (IsDeviceName(component)) return "the name is a device";
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return {};
}

std::string DestinationPath(const FileSystem& files, const std::string& folder,
                            const std::string& destName) {
    if (const std::string reason = UnsafeNameReason(destName); !reason.empty()) {
        throw std::runtime_error("it would not be written inside the install folder: " + reason);
    }
    return folder + files.NativePath(destName);
}

}  // namespace zelvane
