#include "zelvane/engine/copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

// Small enough that a block stays in the processor's cache from its read to its write: 64 KiB
// measured fastest, larger blocks spill out of the cache on the way.
constexpr std::size_t kBlockSize = 64 << 10;

// The partial file of one copy, beside the product file it is to replace. One left behind by an
// interrupted earlier run is removed first.
std::unique_ptr<StagedFile> StageBeside(Folder& folder, const std::string& Outfile) {
    const std::string partial = PartialName(Outfile);
    if (auto staged = folder.Stage(partial, Outfile)) return staged;
    folder.Remove(partial);
    if (auto staged = folder.Stage(partial, Outfile)) return staged;
    throw std::system_error(EEXIST, std::generic_category(), CannotCreateMessage(partial));
}

[[noreturn]] void ThrowChanged(const std::string& InFile) {
    throw std::runtime_error(ChangedWhileReadMessage(InFile));
}

// Hashes a file's blocks as the copy reads them: on a thread of its own for a file of several
// blocks, so that hashing a large file takes little more time than copying it, and on the
// copying thread for a file of one block, which would not repay the hand-over. The blocks are
// read into slots that this object owns and frees only once its thread is joined, so that no
// failure of the copy can free a block being hashed: the copy fills the slot FreeSlot gives, hands
// it back with Add and never touches it again.
class BlockHash {
  public:
    BlockHash(std::unique_ptr<Sha256> hash, std::size_t blockSize, bool inBackground)
        : hash_(std::move(hash)),
          blockSize_(blockSize),
          slots_(inBackground ? kSlots : 1),
          ring_(std::make_unique_for_overwrite<std::byte[]>(slots_ * blockSize)) {
        if (inBackground) worker_ = std::thread([this] { Work(); });
    }
    BlockHash(const BlockHash&) = delete;
    BlockHash& operator=(const BlockHash&) = delete;
    // Stops the thread, which may be midway through the blocks it was given, before the slots go.
    ~BlockHash() {
        if (!worker_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workReady_.notify_one();
        worker_.join();
    }

    // With the ring full, waits until a batch of slots is free, not one.
    std::span<std::byte> FreeSlot() {
        if (worker_.joinable() && filled_ - Hashed() == kSlots) WaitForHashing(kSlots - kBatch);
        return Slot(filled_);
    }

    // The slot from FreeSlot holds the next block, of size bytes.
    void Add(std::size_t size) {
        if (!worker_.joinable()) {
            hash_->Update(Slot(0).first(size));
            return;
        }
        sizes_[filled_ % kSlots] = size;
        if (++filled_ % kBatch == 0) Give();
    }

    Sha256Digest Finish() {
        if (worker_.joinable()) WaitForHashing(0);
        return hash_->Finish();
    }

  private:
    // Waking a sleeping thread costs about as much as hashing a block, so the threads meet once
    // per batch of blocks; a ring of two batches lets either side run a batch ahead (half as many
    // sleeps as a ring of 8 and batches of 4, measured).
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kBatch = 8;

    std::span<std::byte> Slot(std::size_t block) const {
        return {ring_.get() + (block % slots_) * blockSize_, blockSize_};
    }

    std::size_t Hashed() {
        const std::lock_guard lock(mutex_);
        return hashed_;
    }

    void Give() {
        {
            const std::lock_guard lock(mutex_);
            given_ = filled_;
        }
        workReady_.notify_one();
    }

    // Gives every filled block, and waits until all but the last `unhashed` are hashed.
    void WaitForHashing(std::size_t unhashed) {
        Give();
        std::unique_lock lock(mutex_);
        wanted_ = filled_ - unhashed;
        slotsFreed_.wait(lock, [&] { return failure_ || hashed_ >= wanted_; });
        if (failure_) std::rethrow_exception(failure_);
    }

    void Work() {
        std::unique_lock lock(mutex_);
        while (true) {
            workReady_.wait(lock, [&] { return stopping_ || hashed_ < given_; });
            if (stopping_) return;
            const std::size_t block = hashed_;
            lock.unlock();
            try {
                hash_->Update(Slot(block).first(sizes_[block % kSlots]));
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                slotsFreed_.notify_one();
                return;
            }
            lock.lock();
            if (++hashed_ == wanted_) slotsFreed_.notify_one();
        }
    }

    std::unique_ptr<Sha256> hash_;
    std::size_t blockSize_;
    std::size_t slots_;
    std::unique_ptr<std::byte[]> ring_;
    std::array<std::size_t, kSlots> sizes_{};
    std::size_t filled_ = 0;  // by the copy, which alone touches it

    // Under mutex_: blocks given to the thread, blocks hashed (their slots free again) and how
    // many hashed blocks the copy waits for.
    std::mutex mutex_;
    std::condition_variable workReady_, slotsFreed_;
    std::size_t given_ = 0, hashed_ = 0, wanted_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    // Last, so that it goes before the slots and the hash it uses.
    std::thread worker_;
};

}  // namespace

void Unscramble(std::span<const std::byte> from, std::span<std::byte> to) {
    // Four words at a time, which the compiler turns into vector instructions: this loop is most
    // of the copying thread's own work for large files.
    constexpr std::uint64_t kKeyWord =
        0x0101010101010101u * std::to_integer<std::uint64_t>(kScrambleKey);
    constexpr std::size_t kStride = 4 * sizeof(std::uint64_t);
    std::size_t i = 0;
    for (; i + kStride <= from.size(); i += kStride) {
        std::array<std::uint64_t, 4> words;
        std::memcpy(words.data(), from.data() + i, kStride);
        for (auto& word : words) word ^= kKeyWord;
        std::memcpy(to.data() + i, words.data(), kStride);
    }
    for (; i < from.size(); ++i) to[i] = from[i] ^ kScrambleKey;
}

std::unique_ptr<StagedFile> CopyEncryptedFile(FileSystem& files, Folder& folder,
                                              const std::string& InFile, const std::string& Outfile,
                                              const ManifestEntry* expected, NewHash newHash) {
    const auto input = files.OpenForReading(InFile);
    const std::uint64_t length = input->Length();
    if (expected && expected->size != length) throw std::runtime_error(kManifestMismatch);
    auto output = StageBeside(folder, Outfile);
    // One byte more than the file where that fits, so that a short read at its expected end
    // shows that nothing follows without another read.
    const std::size_t blockSize = std::min<std::uint64_t>(length + 1, kBlockSize);
    std::optional<BlockHash> hash;
    if (expected) hash.emplace(newHash(), blockSize, length >= blockSize);
    // What the copy writes: unscrambled from the hashing's slot, or in place when nothing is
    // hashed.
    const auto unscrambled = std::make_unique_for_overwrite<std::byte[]>(blockSize);
    std::uint64_t copied = 0;
    while (true) {
        const std::span<std::byte> block =
            hash ? hash->FreeSlot() : std::span(unscrambled.get(), blockSize);
        const std::size_t got = input->Read(block);
        if (got == 0) break;
        copied += got;
        if (copied > length) ThrowChanged(InFile);
        Unscramble(block.first(got), {unscrambled.get(), got});
        if (hash) hash->Add(got);
        output->Write({unscrambled.get(), got});
        if (copied == length && got < blockSize) break;
    }
    if (copied != length) ThrowChanged(InFile);
    if (hash && hash->Finish() != expected->digest) throw std::runtime_error(kManifestMismatch);
    output->Finish();
    return output;
}

}  // namespace zelvane
