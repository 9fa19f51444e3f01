#pragma once

#include <string>
#include <string_view>

#include "zelvane/platform/files.h"

namespace zelvane {

// The install folder as the update uses it: the path text with a separator at its end.
std::string InstallFolder(const FileSystem& files, std::string_view pathText);

// Why a package list's destination name may not be written, or empty when it may: it must stay
// inside the install folder (not absolute, drive- or UNC-qualified, nor climbing out with "..")
// and name no device.
std::string UnsafeNameReason(std::string_view destName);

// folder followed by destName in this platform's spelling; throws when destName is unsafe.
std::string DestinationPath(const FileSystem& files, const std::string& folder,
                            const std::string& destName);

}  // namespace zelvane
