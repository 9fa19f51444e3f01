#include "zelvane/engine/paths.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "zelvane/engine/messages.h"

namespace zelvane {
namespace {

constexpr std::size_t kLongestName = 255;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The length of the UTF-8 sequence at the start of text, or 0 when it is not valid there: cut
// short, overlong, a UTF-16 surrogate or past U+10FFFF.
std::size_t Utf8Length(std::string_view text, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || length > text.size()) return 0;
    code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// C0 and C1 controls and DEL: they move a terminal's cursor, start escape sequences or end lines.
bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// Why text may not be used as a name, by what it holds; empty when it may.
std::string TextReason(std::string_view text) {
    char32_t code = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        length = Utf8Length(text.substr(at), code);
        if (length == 0) return kNameNotUtf8;
        if (IsControl(code)) return kNameHoldsControl;
    }
    return {};
}

// The length Windows counts: UTF-16 code units, two for a character past U+FFFF.
std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    char32_t code = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        length = std::max<std::size_t>(Utf8Length(text.substr(at), code), 1);
        units += code > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

// Windows opens a device, wherever the folder, for these names with any extension and with
// blanks before it: "nul.txt" and "NUL .txt" alike.
bool IsDeviceName(std::string_view component) {
    static constexpr std::array<std::string_view, 6> kDevices{"CON", "PRN",    "AUX",
                                                              "NUL", "CONIN$", "CONOUT$"};
    // The digits Windows takes after COM and LPT: 0 to 9, and superscript 1, 2 and 3 in UTF-8.
    static constexpr std::array<std::string_view, 13> kPortDigits{
        "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    std::string_view base = component.substr(0, component.find('.'));
    while (base.ends_with(' ')) base.remove_suffix(1);
    const std::string upper = Upper(base);
    if (std::ranges::find(kDevices, upper) != kDevices.end()) return true;
    if (!upper.starts_with("COM") && !upper.starts_with("LPT")) return false;
    return std::ranges::find(kPortDigits, std::string_view(upper).substr(3)) != kPortDigits.end();
}

// "..", and names Windows trims to it ("...", ". .").
bool ClimbsOut(std::string_view component) {
    return std::count(component.begin(), component.end(), '.') >= 2 &&
           component.find_first_not_of(". ") == std::string_view::npos;
}

std::string ComponentReason(std::string_view component) {
    if (ClimbsOut(component)) return kNameClimbsOut;
    if (IsDeviceName(component)) return kNameIsDevice;
    if (const auto bad = component.find_first_of("<>\"|?*"); bad != std::string_view::npos) {
        return NameHoldsForbiddenReason(component[bad]);
    }
    if (Utf16Length(component) > kLongestName) return kNamePartTooLong;
    if (component.ends_with('.') || component.ends_with(' ')) return kNamePartEndsBadly;
    return {};
}

std::string Escaped(char32_t code) {
    if (code == '\r') return "\\r";
    if (code == '\n') return "\\n";
    if (code == '\t') return "\\t";
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(code));
    return escape;
}

std::uint32_t Fnv1a(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

}  // namespace

std::string_view CutUtf8(std::string_view text, std::size_t size) {
    if (text.size() <= size) return text;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
    return text.substr(0, size);
}

bool IsValidUtf8(std::string_view text) {
    char32_t code = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        if ((length = Utf8Length(text.substr(at), code)) == 0) return false;
    }
    return true;
}

std::string InstallFolder(const FileSystem& files, std::string_view pathText) {
    std::string folder = files.NativePath(pathText);
    if (folder.empty() || folder.back() != files.Separator()) folder += files.Separator();
    return folder;
}

std::string UnsafeNameReason(std::string_view destName) {
    if (destName.empty()) return kNameEmpty;
    if (std::string reason = TextReason(destName); !reason.empty()) return reason;
    if (IsSeparator(destName.front())) return kNameAbsolute;
    if (destName.find(':') != std::string_view::npos) return kNameHoldsDrive;
    for (const std::string_view suffix : {kPartialSuffix, kBackupSuffix, kRecordSuffix}) {
        if (Upper(destName).ends_with(Upper(suffix))) return kNameLikeUpdaterFiles;
    }
    std::string_view rest = destName;
    while (!rest.empty()) {
        const auto end = std::min(rest.find_first_of("\\/"), rest.size());
        if (std::string reason = ComponentReason(rest.substr(0, end)); !reason.empty()) {
            return reason;
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return {};
}

std::string PackageFileName(const FileSystem& files, const std::string& sourceName) {
    if (const std::string reason = TextReason(sourceName); !reason.empty()) {
        throw std::runtime_error(PackageFileUnreadableReason(reason));
    }
    return files.NativePath(sourceName);
}

std::string Visible(std::string_view text) {
    std::string shown;
    char32_t code = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        length = Utf8Length(text.substr(at), code);
        if (length > 0 && !IsControl(code)) {
            shown += text.substr(at, length);
            continue;
        }
        if (length == 0) {
            code = static_cast<unsigned char>(text[at]);
            length = 1;
        }
        shown += Escaped(code);
    }
    return shown;
}

std::string DestinationName(const FileSystem& files, const std::string& destName) {
    if (const std::string reason = UnsafeNameReason(destName); !reason.empty()) {
        throw std::runtime_error(OutsideInstallReason(reason));
    }
    return files.NativePath(destName);
}

std::string SideName(std::string_view name, std::string_view suffix) {
    const auto slash = name.find_last_of("\\/");
    const std::size_t leafStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view folder = name.substr(0, leafStart);
    const std::string_view leaf = name.substr(leafStart);
    if (leaf.size() + suffix.size() <= kLongestName) return std::string(name) + std::string(suffix);
    char hash[10];
    std::snprintf(hash, sizeof hash, "~%08x", static_cast<unsigned>(Fnv1a(leaf)));
    const std::size_t room = kLongestName - suffix.size() - (sizeof hash - 1);
    return std::string(folder) + std::string(CutUtf8(leaf, room)) + hash + std::string(suffix);
}

}  // namespace zelvane
