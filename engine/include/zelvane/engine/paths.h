#pragma once

#include <string>
#include <string_view>

#include "zelvane/platform/files.h"

namespace zelvane {

// The updater's own files in the install folder, which no package list entry may name: a new
// product file is written under its name with the first ending before it takes the old one's
// place, the old one is kept under its name with the second until the update is done, and the
// record of an update being put in place has the third.
inline constexpr std::string_view kPartialSuffix = ".zelvane-partial";
inline constexpr std::string_view kBackupSuffix = ".zelvane-backup";
inline constexpr std::string_view kRecordSuffix = ".zelvane-record";
inline constexpr const char* kRecordName = "update.zelvane-record";

// The install folder as the update uses it: the path text with a separator at its end.
std::string InstallFolder(const FileSystem& files, std::string_view pathText);

// Why a package list's destination name may not be written, or empty when it may. It must stay
// inside the install folder (not absolute, drive- or UNC-qualified, nor climbing out with ".."),
// and be judged alike on every platform by Windows' rules: valid UTF-8 without control
// characters, none of < > " | ? * in any part, no device name, no part longer than 255 UTF-16
// code units or ending with a blank or a dot (Windows would write another name), and not one of
// the updater's own partial files.
std::string UnsafeNameReason(std::string_view destName);

// destName relative to the install folder in this platform's spelling; throws when it is unsafe.
std::string DestinationName(const FileSystem& files, const std::string& destName);

// The package file sourceName in this platform's spelling; throws when it is not valid UTF-8 or
// holds a control character (a NUL byte would cut it short, a line end would forge output).
std::string PackageFileName(const FileSystem& files, const std::string& sourceName);

// The text with every control character and every byte that is not valid UTF-8 shown as an
// escape (\r, \n, \t, \x1B), so that a name from a package or a path prints on one line and
// moves no terminal's cursor.
std::string Visible(std::string_view text);

bool IsValidUtf8(std::string_view text);
// UTF-8 text cut to at most `size` bytes without splitting a character.
std::string_view CutUtf8(std::string_view text, std::size_t size);

// The partial file or the backup beside the product file `name`: its last part with the suffix
// added, shortened (with a hash of the whole, so that it stays distinct and the same on every run)
// where that would pass the file systems' limit of 255 characters to a name.
std::string SideName(std::string_view name, std::string_view suffix);
inline std::string PartialName(std::string_view name) { return SideName(name, kPartialSuffix); }
inline std::string BackupName(std::string_view name) { return SideName(name, kBackupSuffix); }

}  // namespace zelvane
