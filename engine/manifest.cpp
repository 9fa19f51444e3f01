#include "zelvane/engine/manifest.h"

#include <charconv>
#include <optional>
#include <stdexcept>

#include "zelvane/engine/messages.h"

namespace zelvane {
namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kSeparator = "  ";
constexpr std::size_t kHexLength = 2 * std::tuple_size_v<Sha256Digest>;

[[noreturn]] void ThrowLineError(std::size_t lineNumber, const std::string& problem) {
    throw std::runtime_error(ManifestLineMessage(lineNumber, kManifestName, problem));
}

std::optional<Sha256Digest> ParseDigest(std::string_view hex) {
    if (hex.size() != kHexLength) return std::nullopt;
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const std::size_t high = kHexDigits.find(hex[2 * i]);
        const std::size_t low = kHexDigits.find(hex[2 * i + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
        digest[i] = static_cast<std::byte>(high << 4 | low);
    }
    return digest;
}

std::optional<std::uint64_t> ParseSize(std::string_view digits) {
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return size;
}

ManifestEntry ParseEntry(std::string_view line, std::size_t lineNumber) {
    if (line.find('\r') != std::string_view::npos) {
        ThrowLineError(lineNumber, kLineHoldsCarriageReturn);
    }
    const std::optional<Sha256Digest> digest = ParseDigest(line.substr(0, kHexLength));
    if (!digest) {
        ThrowLineError(lineNumber, kLineLacksDigest);
    }
    line.remove_prefix(kHexLength);
    if (!line.starts_with(kSeparator)) ThrowLineError(lineNumber, kLineLacksBlanks);
    line.remove_prefix(kSeparator.size());
    const std::size_t sizeEnd = line.find(kSeparator);
    const std::optional<std::uint64_t> size = ParseSize(line.substr(0, sizeEnd));
    if (!size) ThrowLineError(lineNumber, kLineLacksSize);
    if (sizeEnd == std::string_view::npos || sizeEnd + kSeparator.size() == line.size()) {
        ThrowLineError(lineNumber, kLineLacksName);
    }
    return {*digest, *size, std::string(line.substr(sizeEnd + kSeparator.size()))};
}

}  // namespace

Manifest::Manifest(std::string_view text) {
    const std::string header = std::string(kManifestHeader) + '\n';
    if (!text.starts_with(header)) ThrowLineError(1, NotHeaderProblem(kManifestHeader));
    text.remove_prefix(header.size());
    for (std::size_t lineNumber = 2; !text.empty(); ++lineNumber) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) ThrowLineError(lineNumber, kLineLacksLineFeed);
        Add(ParseEntry(text.substr(0, end), lineNumber), lineNumber);
        text.remove_prefix(end + 1);
    }
}

const ManifestEntry* Manifest::Find(std::string_view name) const {
    const auto found = entries_.find(name);
    return found == entries_.end() ? nullptr : &found->second;
}

void Manifest::Add(const ManifestEntry& entry, std::size_t lineNumber) {
    if (!entries_.try_emplace(entry.name, entry).second) {
        ThrowLineError(lineNumber, NameTwiceProblem(entry.name));
    }
}

std::string ManifestText(std::span<const ManifestEntry> entries) {
    std::string text = std::string(kManifestHeader) + '\n';
    for (const ManifestEntry& entry : entries) {
        if (entry.name.empty() || entry.name.find_first_of("\r\n") != std::string::npos) {
            throw std::invalid_argument(UncarriableNameMessage(entry.name));
        }
        text += Hex(entry.digest) + std::string(kSeparator) + std::to_string(entry.size) +
                std::string(kSeparator) + entry.name + '\n';
    }
    return text;
}

std::string Hex(std::span<const std::byte> bytes) {
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (const std::byte byte : bytes) {
        hex += kHexDigits[std::to_integer<std::size_t>(byte) >> 4];
        hex += kHexDigits[std::to_integer<std::size_t>(byte) & 0xF];
    }
    return hex;
}

}  // namespace zelvane
