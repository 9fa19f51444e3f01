#include "zelvane/engine/package_list.h"

#include <charconv>
#include <limits>
#include <span>
#include <stdexcept>

namespace zelvane {
namespace {

constexpr std::uint64_t kMaxPackageListSize = 64u << 20;
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnds = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::optional<std::int64_t> ParseWholeNumber(std::string_view digits) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end != digits.data() + digits.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        return digits.front() == '-' ? std::numeric_limits<std::int64_t>::min()
                                     : std::numeric_limits<std::int64_t>::max();
    }
    if (error != std::errc()) return std::nullopt;
    return value;
}

}  // namespace

PackageListReader::PackageListReader(std::string text) : text_(std::move(text)) {
    // Notepad starts UTF-8 text with a byte-order mark.
    if (text_.starts_with(kByteOrderMark)) position_ = kByteOrderMark.size();
}

std::optional<std::int64_t> PackageListReader::ReadNumber() {
    SkipBlanks();
    ThrowIfEnded();
    if (text_[position_] == '"') return ParseWholeNumber(ReadQuoted());
    const std::string token = TakeUntil(" \t,\r\n");
    SkipToNextField();
    return ParseWholeNumber(token);
}

std::string PackageListReader::ReadText() {
    SkipBlanks();
    ThrowIfEnded();
    if (text_[position_] == '"') return ReadQuoted();
    std::string value = TakeUntil(",\r\n");
    value.erase(value.find_last_not_of(kBlanks) + 1);
    SkipToNextField();
    return value;
}

std::string PackageListReader::ReadQuoted() {
    ++position_;
    std::string value = TakeUntil("\"");
    if (position_ < text_.size()) ++position_;
    SkipToNextField();
    return value;
}

void PackageListReader::SkipBlanks() {
    while (position_ < text_.size() && kBlanks.find(text_[position_]) != std::string_view::npos) {
        ++position_;
    }
}

bool PackageListReader::AtLineEnd() const {
    return position_ < text_.size() && kLineEnds.find(text_[position_]) != std::string_view::npos;
}

void PackageListReader::SkipLineEnd() {
    if (text_.compare(position_, 2, "\r\n") == 0) {
        position_ += 2;
    } else if (AtLineEnd()) {
        ++position_;
    }
}

void PackageListReader::SkipToNextField() {
    TakeUntil(",\r\n");
    if (position_ >= text_.size()) return;
    if (text_[position_] == ',') {
        ++position_;
    } else {
        SkipLineEnd();
    }
}

void PackageListReader::ThrowIfEnded() {
    if (position_ >= text_.size()) throw PackageListEnded();
}

std::string PackageListReader::TakeUntil(std::string_view stops) {
    const std::size_t end = std::min(text_.find_first_of(stops, position_), text_.size());
    std::string taken = text_.substr(position_, end - position_);
    position_ = end;
    return taken;
}

std::string ReadSmallFile(ReadableFile& file, const std::string& path) {
    if (file.Length() > kMaxPackageListSize) {
        throw std::runtime_error(ListTooLargeMessage(path));
    }
    std::string text(static_cast<std::size_t>(file.Length()), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const auto rest = std::span(text.data() + filled, text.size() - filled);
        const std::size_t got = file.Read(std::as_writable_bytes(rest));
        if (got == 0) break;
        filled += got;
    }
    text.resize(filled);
    return text;
}

std::string ReadPackageListText(FileSystem& files, const std::string& path) {
    return ReadSmallFile(*files.OpenForReading(path), path);
}

std::int64_t ReadLastIndex(PackageListReader& list) {
    std::optional<std::int64_t> count;
    try {
        count = list.ReadNumber();
    } catch (const PackageListEnded&) {
        throw std::runtime_error(kListEmpty);
    }
    if (!count) throw std::runtime_error(kListLacksLastIndex);
    if (*count < 0) throw std::runtime_error(kListIndexBelowZero);
    if (*count >= std::numeric_limits<std::int32_t>::max()) {
        throw std::runtime_error(kListIndexTooLarge);
    }
    return *count;
}

}  // namespace zelvane
