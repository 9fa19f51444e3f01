#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "zelvane/platform/crypto.h"

namespace zelvane {

// Beside the package list: the SHA-256 and size of every package file and of the list itself,
// and the manifest's ECDSA P-256 signature.
inline constexpr const char* kManifestName = "Package.manifest";
inline constexpr const char* kSignatureName = "Package.manifest.sig";
inline constexpr std::string_view kManifestHeader = "zelvane-manifest 1";

// One file of the package as it is stored there, scrambled.
struct ManifestEntry {
    Sha256Digest digest{};
    std::uint64_t size = 0;
    std::string name;  // as the package list's sourceName field gives it
};

// A manifest's text read strictly: the header line, then "<64 lowercase hex digits>  <size>
// <name>" lines, each ending in a line feed, no name twice.
class Manifest {
  public:
    // Throws std::runtime_error saying which line is wrong and how.
    explicit Manifest(std::string_view text);

    // Nothing when the manifest does not list this name.
    const ManifestEntry* Find(std::string_view name) const;

  private:
    void Add(const ManifestEntry& entry, std::size_t lineNumber);

    std::map<std::string, ManifestEntry, std::less<>> entries_;
};

// The text of a manifest listing these entries in this order; throws std::invalid_argument for a
// name that a manifest line cannot carry (empty, or holding a line break).
std::string ManifestText(std::span<const ManifestEntry> entries);

// Lowercase hexadecimal, two digits a byte.
std::string Hex(std::span<const std::byte> bytes);

}  // namespace zelvane
