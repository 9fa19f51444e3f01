#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "zelvane/engine/manifest.h"
#include "zelvane/engine/messages.h"
#include "zelvane/platform/files.h"

namespace zelvane {

// Every byte of a package file is the product byte exclusive-or this key.
inline constexpr std::byte kScrambleKey{0x5A};

// Scrambling and unscrambling are the same operation: from is unscrambled into to, which is as
// long as from and may be the same bytes.
void Unscramble(std::span<const std::byte> from, std::span<std::byte> to);
inline void Unscramble(std::span<std::byte> bytes) { Unscramble(bytes, bytes); }

// Writes the unscrambled content of the package file InFile beside the product file Outfile, a
// name relative to the install folder, and returns it finished, to be put in place by its Commit;
// the old product file stays as it was until then. With an expected entry of the package's
// manifest, the package file is hashed as it is read, with a hash that newHash makes (a test
// gives one it can watch), and the copy fails unless it matches.
using NewHash = std::unique_ptr<Sha256> (*)();
std::unique_ptr<StagedFile> CopyEncryptedFile(FileSystem& files, Folder& folder,
                                              const std::string& InFile, const std::string& Outfile,
                                              const ManifestEntry* expected = nullptr,
                                              NewHash newHash = NewSha256);

}  // namespace zelvane
