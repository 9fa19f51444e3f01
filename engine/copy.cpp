#include "zelvane/engine/copy.h"

#include <algorithm>
#include <array>
#include <atomic>
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
    throw std::system_error(EEXIST, std::generic_category(), "cannot create \"" + partial + "\"");
}

[[noreturn]] void ThrowChanged(const std::string& InFile) {
    throw std::runtime_error("\"" + InFile + "\" changed while it was being read");
}

// Hashes a file's blocks as the copy reads them: on a thread of its own for a file of several
// blocks, so that hashing a large file takes little more time than copying it, and on the
// copying thread for a file of one block, which would not repay the hand-over. The threads meet
// once per block through one atomic state: waking a sleeping thread each time cost more than
// the hashing.
class BlockHash {
  public:
    BlockHash(std::unique_ptr<Sha256> hash, bool inBackground) : hash_(std::move(hash)) {
        if (inBackground) worker_ = std::thread([this] { Work(); });
    }
    BlockHash(const BlockHash&) = delete;
    BlockHash& operator=(const BlockHash&) = delete;
    ~BlockHash() {
        if (!worker_.joinable()) return;
        WaitWhile(State::Busy);
        Set(State::Stopping);
        worker_.join();
    }

    // Hands the block over once the one before it is hashed; it must stay unchanged until the
    // next call.
    void Add(std::span<const std::byte> block) {
        if (!worker_.joinable()) {
            hash_->Update(block);
            return;
        }
        WaitUntilIdle();
        block_ = block;
        Set(State::Busy);
    }

    Sha256Digest Finish() {
        if (worker_.joinable()) WaitUntilIdle();
        return hash_->Finish();
    }

  private:
    enum class State { Idle, Busy, Stopping };

    // Stored under the lock, so that a thread about to sleep cannot miss the change.
    void Set(State state) {
        {
            const std::lock_guard lock(mutex_);
            state_.store(state, std::memory_order_release);
        }
        changed_.notify_one();
    }

    // A block takes tens of microseconds to hash: a wait that long is spent spinning, and only a
    // longer one sleeps.
    State WaitWhile(State state) {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (const State now = state_.load(std::memory_order_acquire); now != state) return now;
            std::this_thread::yield();
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return state_.load(std::memory_order_acquire) != state; });
        return state_.load(std::memory_order_acquire);
    }

    void WaitUntilIdle() {
        WaitWhile(State::Busy);
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

    void Work() {
        while (WaitWhile(State::Idle) == State::Busy) {
            try {
                hash_->Update(block_);
            } catch (...) {
                failure_ = std::current_exception();
            }
            Set(State::Idle);
        }
    }

    std::unique_ptr<Sha256> hash_;
    static constexpr int kSpins = 1000;

    std::atomic<State> state_{State::Idle};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::span<const std::byte> block_;
    std::exception_ptr failure_;
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
    // Two blocks for reading, so that one can be hashed while the next is read.
    const std::array read{std::make_unique_for_overwrite<std::byte[]>(blockSize),
                          std::make_unique_for_overwrite<std::byte[]>(blockSize)};
    const auto unscrambled = std::make_unique_for_overwrite<std::byte[]>(blockSize);
    std::optional<BlockHash> hash;
    if (expected) hash.emplace(newHash(), length >= blockSize);
    std::uint64_t copied = 0;
    for (std::size_t turn = 0;; turn ^= 1) {
        const std::size_t got = input->Read({read[turn].get(), blockSize});
        if (got == 0) break;
        copied += got;
        if (copied > length) ThrowChanged(InFile);
        const std::span<const std::byte> bytes(read[turn].get(), got);
        if (hash) hash->Add(bytes);
        Unscramble(bytes, {unscrambled.get(), got});
        output->Write({unscrambled.get(), got});
        if (copied == length && got < blockSize) break;
    }
    if (copied != length) ThrowChanged(InFile);
    if (hash && hash->Finish() != expected->digest) throw std::runtime_error(kManifestMismatch);
    output->Finish();
    return output;
}

}  // namespace zelvane
