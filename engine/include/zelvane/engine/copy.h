#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "zelvane/platform/files.h"

namespace zelvane {

// Every byte of a package file is the product byte exclusive-or this key.
inline constexpr std::byte kScrambleKey{0x5A};

// Where the new product file is written before it takes the old one's place.
inline constexpr const char* kPartialSuffix = ".zelvane-partial";

// Scrambling and unscrambling are the same operation.
void Unscramble(std::span<std::byte> bytes);

// Deletes Filename when it exists as an ordinary file; otherwise does nothing.
void KillFile(FileSystem& files, const std::string& Filename);

// Writes the unscrambled content of the package file InFile as the product file Outfile. The old
// product file is replaced only once the new content is complete, so a failure leaves it as it was.
void CopyEncryptedFile(FileSystem& files, const std::string& InFile, const std::string& Outfile);

}  // namespace zelvane
