#include "zelvane/engine/copy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace zelvane {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

// The partial file of one copy: deleted again unless it took the product file's place.
class PartialFile {
  public:
    PartialFile(FileSystem& files, std::string path) : files_(files), path_(std::move(path)) {
        KillFile(files_, path_);  // left behind by an interrupted earlier run
        file_ = files_.CreateNew(path_);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    ~PartialFile() {
        if (placed_) return;
        file_.reset();
        try {
            files_.DeleteFile(path_);
        } catch (const std::exception&) {
            // The copy already failed for a reason worth telling; this one would hide it.
        }
    }

    WritableFile& File() { return *file_; }

    void Replace(const std::string& target) {
        file_->Finish();
        file_.reset();
        files_.Replace(path_, target);
        placed_ = true;
    }

  private:
    FileSystem& files_;
    std::string path_;
    std::unique_ptr<WritableFile> file_;
    bool placed_ = false;
};

}  // namespace

void Unscramble(std::span<std::byte> bytes) {
    // Eight bytes at a time: this loop is most of the work for large files.
    constexpr std::uint64_t kKeyWord =
        0x0101010101010101u * std::to_integer<std::uint64_t>(kScrambleKey);
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= bytes.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        word ^= kKeyWord;
        std::memcpy(bytes.data() + i, &word, sizeof word);
    }
    for (; i < bytes.size(); ++i) bytes[i] ^= kScrambleKey;
}

void KillFile(FileSystem& files, const std::string& Filename) {
    if (files.IsOrdinaryFile(Filename)) files.DeleteFile(Filename);
}

void CopyEncryptedFile(FileSystem& files, const std::string& InFile, const std::string& Outfile) {
    const auto input = files.OpenForReading(InFile);
    const std::uint64_t length = input->Length();
    PartialFile output(files, Outfile + kPartialSuffix);
    // No larger than the file (at least one byte, so that a file that grew is still noticed).
    const std::size_t blockSize = std::clamp<std::uint64_t>(length, 1, kBlockSize);
    const auto block = std::make_unique_for_overwrite<std::byte[]>(blockSize);
    std::uint64_t copied = 0;
    while (const std::size_t got = input->Read({block.get(), blockSize})) {
        const std::span<std::byte> bytes(block.get(), got);
        Unscramble(bytes);
        output.File().Write(bytes);
        copied += got;
    }
    if (copied != length) {
        throw std::runtime_error("\"" + InFile + "\" changed while it was being read");
    }
    output.Replace(Outfile);
}

}  // namespace zelvane
