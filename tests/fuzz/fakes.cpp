#include "fakes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace zelvane::fuzz {
namespace {

[[noreturn]] void Fail(int error, const std::string& action, const std::string& path) {
    throw std::system_error(error, std::generic_category(), action + " \"" + path + "\"");
}

std::string ParentOf(const std::string& resolved) {
    const auto slash = resolved.rfind('/');
    return slash == 0 ? "/" : resolved.substr(0, slash);
}

class MemoryReadableFile final : public ReadableFile {
  public:
    explicit MemoryReadableFile(std::string content) : content_(std::move(content)) {}
    std::uint64_t Length() override { return content_.size(); }
    std::size_t Read(std::span<std::byte> buffer) override {
        const std::size_t got = std::min(buffer.size(), content_.size() - position_);
        std::memcpy(buffer.data(), content_.data() + position_, got);
        position_ += got;
        return got;
    }

  private:
    std::string content_;
    std::size_t position_ = 0;
};

class MemoryWritableFile final : public WritableFile {
  public:
    explicit MemoryWritableFile(std::string& content) : content_(content) {}
    void Write(std::span<const std::byte> bytes) override {
        content_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    void Finish() override {}

  private:
    std::string& content_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem(std::string guardedFolder, std::string currentDirectory)
    : guarded_(std::move(guardedFolder)), current_(std::move(currentDirectory)) {
    folders_.insert("/");
    AddFolder(guarded_);
    AddFolder(current_);
}

void MemoryFileSystem::AddFolder(const std::string& path) {
    std::string resolved = Resolve(path);
    while (folders_.insert(resolved).second) resolved = ParentOf(resolved);
}

void MemoryFileSystem::AddFile(const std::string& path, std::string content) {
    const std::string resolved = Resolve(path);
    AddFolder(ParentOf(resolved));
    files_[resolved] = std::move(content);
}

std::string MemoryFileSystem::Content(const std::string& path) const {
    const auto file = files_.find(Resolve(path));
    return file == files_.end() ? std::string() : file->second;
}

std::string MemoryFileSystem::NativePath(std::string_view path) const {
    std::string native(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

bool MemoryFileSystem::IsOrdinaryFile(const std::string& path) {
    return files_.contains(Resolve(path));
}

void MemoryFileSystem::DeleteFile(const std::string& path) {
    const std::string resolved = ResolveForWriting(path);
    ExistingFile(resolved, path);
    files_.erase(resolved);
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(const std::string& path) {
    const std::string resolved = Resolve(path);
    if (folders_.contains(resolved)) Fail(EISDIR, "cannot read", path);
    return std::make_unique<MemoryReadableFile>(ExistingFile(resolved, path));
}

std::unique_ptr<WritableFile> MemoryFileSystem::CreateNew(const std::string& path) {
    const std::string resolved = ResolveForWriting(path);
    RequireParentFolder(resolved, path);
    if (files_.contains(resolved) || folders_.contains(resolved))
        Fail(EEXIST, "cannot create", path);
    return std::make_unique<MemoryWritableFile>(files_[resolved]);
}

void MemoryFileSystem::Replace(const std::string& from, const std::string& to) {
    const std::string source = ResolveForWriting(from);
    const std::string target = ResolveForWriting(to);
    std::string content = ExistingFile(source, from);
    RequireParentFolder(target, to);
    if (folders_.contains(target)) Fail(EISDIR, "cannot replace", to);
    files_.erase(source);
    files_[target] = std::move(content);
}

void MemoryFileSystem::ChangeDirectory(const std::string& path) {
    const std::string resolved = Resolve(path);
    if (!folders_.contains(resolved)) Fail(ENOENT, "cannot change the current folder to", path);
    current_ = resolved;
}

std::string MemoryFileSystem::Resolve(const std::string& path) const {
    const std::string text = path.substr(0, path.find('\0'));
    std::vector<std::string> parts;
    const std::string whole = text.starts_with('/') ? text : current_ + '/' + text;
    std::size_t start = 0;
    while (start <= whole.size()) {
        const std::size_t end = std::min(whole.find('/', start), whole.size());
        const std::string part = whole.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string resolved;
    for (const auto& part : parts) resolved += '/' + part;
    return resolved.empty() ? "/" : resolved;
}

std::string MemoryFileSystem::ResolveForWriting(const std::string& path) {
    std::string resolved = Resolve(path);
    if (resolved != guarded_ && !resolved.starts_with(guarded_ + '/')) {
        writesOutside_.push_back(resolved);
    }
    return resolved;
}

std::string& MemoryFileSystem::ExistingFile(const std::string& resolved, const std::string& path) {
    const auto file = files_.find(resolved);
    if (file == files_.end()) Fail(ENOENT, "cannot open", path);
    return file->second;
}

void MemoryFileSystem::RequireParentFolder(const std::string& resolved,
                                           const std::string& path) const {
    if (!folders_.contains(ParentOf(resolved))) Fail(ENOENT, "cannot create", path);
}

std::int32_t NoProcesses::Start(const ProgramLaunch& launch) {
    if (launch.program.empty()) Fail(ENOENT, "cannot start", launch.program);
    return 4242;
}

}  // namespace zelvane::fuzz
