#include "fakes.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <system_error>

namespace zelvane::test {
namespace {

[[noreturn]] void Fail(int error, const std::string& action, const std::string& path) {
    throw std::system_error(error, std::generic_category(), action + " \"" + path + "\"");
}

std::string ParentOf(const std::string& resolved) {
    const auto slash = resolved.rfind('/');
    return slash == 0 ? "/" : resolved.substr(0, slash);
}

std::string LastPart(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

// Reads the file as it is at each read, so that a test can change it midway.
struct MemoryReadableFile final : ReadableFile {
    MemoryReadableFile(MemoryFileSystem& files, std::string path)
        : files(files), path(std::move(path)), length(files.Content(this->path).size()) {}
    std::uint64_t Length() override { return length; }
    std::size_t Read(std::span<std::byte> buffer) override {
        files.beforeTransfer(path, false);
        const std::string content = files.Content(path);
        const std::size_t got = content.copy(reinterpret_cast<char*>(buffer.data()), buffer.size(),
                                             std::min(position, content.size()));
        position += got;
        return got;
    }
    MemoryFileSystem& files;
    std::string path;
    std::size_t length;
    std::size_t position = 0;
};

}  // namespace

// Written where it was created; removed there unless committed.
struct MemoryStagedFile final : StagedFile {
    MemoryStagedFile(MemoryFileSystem& files, std::string path, std::string target)
        : files(files), path(std::move(path)), target(std::move(target)) {}
    ~MemoryStagedFile() override {
        if (committed || files.dead_) return;
        try {
            files.Apply({MemoryFileSystem::Op::Erase, path}, false);
        } catch (...) {
            // Out of memory for the change log: the test fails on the leftover instead.
        }
    }
    void Write(std::span<const std::byte> bytes) override {
        files.beforeTransfer(path, true);
        files.Apply({MemoryFileSystem::Op::Append, path, {}, {reinterpret_cast<const char*>(bytes.data()), bytes.size()}});
    }
    void Finish() override {}
    void Commit() override {
        if (files.folders_.contains(target)) Fail(EISDIR, "cannot replace", target);
        if (!files.files_.contains(path)) Fail(ENOENT, "cannot replace", target);
        files.Apply({MemoryFileSystem::Op::Move, path, target});
        committed = true;
    }
    MemoryFileSystem& files;
    std::string path, target;
    bool committed = false;
};

namespace {

struct MemoryProcess final : ProcessHandle {
    explicit MemoryProcess(ProgramWait result) : result(result) {}
    ProgramWait WaitForExit(std::chrono::milliseconds) override { return result; }
    ProgramWait result;
};

}  // namespace

class MemoryFolder final : public Folder {
  public:
    MemoryFolder(MemoryFileSystem& files, std::string root)
        : files_(files), root_(std::move(root)) {}
    ~MemoryFolder() override {
        if (locked_) files_.locked_.erase(root_);
    }

    bool TryLock() override { return locked_ = files_.locked_.insert(root_).second; }
    bool IsOrdinaryFile(const std::string& name) override { return files_.Exists(Path(name)); }
    std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                      const std::string& target) override {
        const std::string path = files_.ResolveForWriting(Path(partial));
        if (!files_.folders_.contains(ParentOf(path))) Fail(ENOENT, "cannot create", partial);
        if (files_.files_.contains(path) || files_.folders_.contains(path)) return nullptr;
        files_.Apply({MemoryFileSystem::Op::Append, path});
        return std::make_unique<MemoryStagedFile>(files_, path,
                                                  files_.ResolveForWriting(Path(target)));
    }
    bool KeepAs(const std::string& name, const std::string& backup) override {
        const std::string path = files_.Resolve(Path(name));
        if (!files_.files_.contains(path)) return false;
        files_.Apply({MemoryFileSystem::Op::Copy, path, files_.ResolveForWriting(Path(backup))});
        return true;
    }
    void Rename(const std::string& from, const std::string& to) override {
        files_.Apply({MemoryFileSystem::Op::Move, files_.Resolve(Path(from)), files_.ResolveForWriting(Path(to))});
    }
    bool Exists(const std::string& name) override { return files_.Exists(Path(name)); }
    void Remove(const std::string& name) override {
        files_.Apply({MemoryFileSystem::Op::Erase, files_.ResolveForWriting(Path(name))});
    }
    void Flush() override {
        files_.Change();
        files_.flushed_ = files_.files_;
        files_.unflushed_.clear();
    }
    std::uint64_t FreeSpace() override { return files_.freeSpace; }
    std::vector<FileInUse> FilesInUse(const std::vector<std::string>& names) override {
        std::vector<FileInUse> inUse;
        for (const auto& name : names) {
            if (const auto held = files_.heldBy.find(name); held != files_.heldBy.end()) {
                inUse.push_back({name, held->second});
            }
        }
        return inUse;
    }

  private:
    std::string Path(const std::string& name) const { return root_ + "/" + name; }

    MemoryFileSystem& files_;
    std::string root_;
    bool locked_ = false;
};

void MemoryFileSystem::Change() {
    if (dead_ || changesBeforeCut_-- == 0) {
        dead_ = true;
        throw PowerCut();
    }
    ++changes_;
}

void MemoryFileSystem::Apply(const Op& op, bool counted) {
    if (counted) Change();
    Replay(op, files_);
    unflushed_.push_back(op);
}

void MemoryFileSystem::Replay(const Op& op, std::map<std::string, std::string>& files) {
    const auto from = files.find(op.path);
    switch (op.kind) {
        case Op::Append:
            files[op.path] += op.data;
            break;
        case Op::Erase:
            files.erase(op.path);
            break;
        case Op::Copy:
        case Op::Move:
            if (from == files.end()) break;
            files[op.to] = from->second;
            if (op.kind == Op::Move) files.erase(op.path);
            break;
    }
}

void MemoryFileSystem::Restart(Loss loss) {
    if (loss != Loss::None) {
        files_ = flushed_;
        const std::size_t count = unflushed_.size();
        for (std::size_t i = 0; i < count; ++i) {
            const bool kept = loss == Loss::OlderHalf ? i >= count / 2
                                                      : (i % 2 == 0) == (loss == Loss::EveryOther);
            if (loss != Loss::All && kept) Replay(unflushed_[i], files_);
        }
    }
    unflushed_.clear();
    dead_ = false;
    changesBeforeCut_ = -1;
}

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
    files_[resolved] = flushed_[resolved] = std::move(content);
}

void MemoryFileSystem::Remove(const std::string& path) {
    const std::string resolved = Resolve(path);
    const auto inside = [&](const std::string& p) {
        return p == resolved || p.starts_with(resolved + "/");
    };
    std::erase_if(files_, [&](const auto& file) { return inside(file.first); });
    std::erase_if(flushed_, [&](const auto& file) { return inside(file.first); });
    std::erase_if(folders_, inside);
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

std::unique_ptr<Folder> MemoryFileSystem::OpenFolder(const std::string& path) {
    const std::string resolved = Resolve(path);
    if (!folders_.contains(resolved)) return nullptr;
    return std::make_unique<MemoryFolder>(*this, resolved);
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(const std::string& path) {
    const std::string resolved = Resolve(path);
    if (folders_.contains(resolved)) Fail(EISDIR, "cannot read", path);
    if (!files_.contains(resolved)) Fail(ENOENT, "cannot open", path);
    return std::make_unique<MemoryReadableFile>(*this, resolved);
}

std::string MemoryFileSystem::AbsolutePath(const std::string& path) {
    const std::string resolved = Resolve(path);
    return path.ends_with('/') && resolved != "/" ? resolved + '/' : resolved;
}

void MemoryFileSystem::ChangeDirectory(const std::string& path) {
    const std::string resolved = Resolve(path);
    if (!folders_.contains(resolved)) Fail(ENOENT, "cannot change the current folder to", path);
    current_ = resolved;
}

std::string MemoryFileSystem::Resolve(const std::string& path) const {
    const std::string text = path.substr(0, path.find('\0'));
    std::string resolved;
    std::istringstream parts(text.starts_with('/') ? text : current_ + '/' + text);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part == "..") resolved.erase(std::min(resolved.rfind('/'), resolved.size()));
        if (!part.empty() && part != "." && part != "..") resolved += '/' + part;
    }
    return resolved.empty() ? "/" : resolved;
}

std::string MemoryFileSystem::ResolveForWriting(const std::string& path) {
    std::string resolved = Resolve(path);
    if (resolved != guarded_ && !resolved.starts_with(guarded_ + '/')) {
        writesOutside_.push_back(resolved);
    }
    return resolved;
}

std::int32_t RecordingProcesses::Start(const ProgramLaunch& launch) {
    if (int& failing = failingStarts[LastPart(launch.program)]; failing > 0) {
        --failing;
        Fail(ENOENT, "cannot start", launch.program);
    }
    started.push_back({launch, files_.CurrentDirectory()});
    return static_cast<std::int32_t>(started.size());
}

std::unique_ptr<ProcessHandle> RecordingProcesses::Open(std::int32_t processId) {
    if (processId <= 0 || processId > static_cast<std::int32_t>(started.size())) return nullptr;
    const auto result = results.find(LastPart(started[processId - 1].launch.program));
    return std::make_unique<MemoryProcess>(
        result == results.end() ? ProgramWait{WaitEnd::StillRunning} : result->second);
}

std::vector<std::string> RecordingProcesses::Names() const {
    std::vector<std::string> names;
    for (const auto& start : started) names.push_back(LastPart(start.launch.program));
    return names;
}

}  // namespace zelvane::test
