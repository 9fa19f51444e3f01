#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zelvane/engine/manifest.h"
#include "zelvane/engine/messages.h"
#include "zelvane/platform/files.h"

namespace zelvane {

// The public keys (PEM) that this build of the updater was given: a package must be signed with
// the matching private key. Empty when the build was given none.
std::vector<std::string> BuiltInVendorKeys();

// Throws std::runtime_error saying what is wrong when publicKeyPem cannot check a package's
// signature: it must be a P-256 public key in PEM that names its curve.
void CheckVendorKey(std::string_view publicKeyPem);

// The manifest of the package in the current folder, checked before anything is written: its
// line for the package list matches listText, and, when vendor keys are given, its signature
// verifies with every one of them. Nothing when the package has no manifest and no key asks for
// one. Throws std::runtime_error with the message to show when the package cannot be trusted.
std::optional<Manifest> CheckedManifest(FileSystem& files, std::string_view listText,
                                        std::span<const std::string> vendorKeys);

}  // namespace zelvane
