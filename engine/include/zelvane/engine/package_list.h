#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "zelvane/engine/messages.h"
#include "zelvane/platform/files.h"

namespace zelvane {

inline constexpr const char* kPackageListName = "FileList.txt";

// Thrown when a field is asked for after the last one in the list.
class PackageListEnded : public std::runtime_error {
  public:
    PackageListEnded() : std::runtime_error(kListEnded) {}
};

// Reads "FileList.txt" field by field. Fields are separated by commas or line ends; a blank
// line is an empty field of its own. A UTF-8 byte-order mark at the start is passed over.
class PackageListReader {
  public:
    explicit PackageListReader(std::string text);

    // A number field, which ends at a blank, a comma or a line end, or is quoted; the rest of its
    // line up to the next comma or line end is passed over. Empty when the field does not hold a
    // whole number; values beyond 64 bits are clamped.
    std::optional<std::int64_t> ReadNumber();
    // A text field: quoted (commas inside belong to it) or running to the next comma or line end.
    std::string ReadText();

  private:
    std::string ReadQuoted();
    void SkipBlanks();
    bool AtLineEnd() const;
    void SkipLineEnd();
    // Passes over what is left of the field and the comma or line end that ends it.
    void SkipToNextField();
    void ThrowIfEnded();
    std::string TakeUntil(std::string_view stops);

    std::string text_;
    std::size_t position_ = 0;
};

// The whole of a list of the package (the package list, its manifest, the manifest's signature);
// throws when it cannot be read or is far too large to be one.
std::string ReadSmallFile(ReadableFile& file, const std::string& path);
std::string ReadPackageListText(FileSystem& files, const std::string& path);

// The list's first field, the index of its last entry; throws std::runtime_error saying what is
// wrong when it is missing, not a number, below 0, or too large for the entry count to fit 32 bits.
std::int64_t ReadLastIndex(PackageListReader& list);

}  // namespace zelvane
