#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/platform/window_side.h"

namespace zelvane::fuzz {

// A file system held in memory, with POSIX spelling, that keeps note of every write (create,
// delete, replace) outside one folder. Paths are resolved lexically, as the system resolves them
// when there are no symbolic links, and end at a NUL byte as they do for the system.
class MemoryFileSystem final : public FileSystem {
  public:
    MemoryFileSystem(std::string guardedFolder, std::string currentDirectory);

    void AddFolder(const std::string& path);
    void AddFile(const std::string& path, std::string content);
    std::string Content(const std::string& path) const;
    // Every path written to that lies outside the guarded folder.
    const std::vector<std::string>& WritesOutside() const { return writesOutside_; }

    char Separator() const override { return '/'; }
    std::string NativePath(std::string_view path) const override;
    bool IsOrdinaryFile(const std::string& path) override;
    void DeleteFile(const std::string& path) override;
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override;
    void Replace(const std::string& from, const std::string& to) override;
    void ChangeDirectory(const std::string& path) override;
    std::string CurrentDirectory() override { return current_; }
    std::string AbsolutePath(const std::string& path) override { return Resolve(path); }

  private:
    std::string Resolve(const std::string& path) const;
    // Resolves a path about to be written and notes it when it lies outside the guarded folder.
    std::string ResolveForWriting(const std::string& path);
    std::string& ExistingFile(const std::string& resolved, const std::string& path);
    void RequireParentFolder(const std::string& resolved, const std::string& path) const;

    std::string guarded_;
    std::string current_;
    std::set<std::string> folders_;
    std::map<std::string, std::string> files_;
    std::vector<std::string> writesOutside_;
};

// Starts nothing; every program "starts" and has already ended.
class NoProcesses final : public Processes {
  public:
    std::int32_t Start(const ProgramLaunch& launch) override;
    std::unique_ptr<ProcessHandle> Open(std::int32_t) override { return nullptr; }
};

// A window that checks what the update does to it: the pointer is put back and exactly one
// message is shown.
class CheckingWindow final : public WindowSide {
  public:
    explicit CheckingWindow(std::string path) : path_(std::move(path)) {}

    std::string PathText() override { return path_; }
    int SilentFlag() override { return 1; }
    void SetProgressMax(float) override {}
    void SetProgressValue(float value) override { value_ = value; }
    float ProgressValue() override { return value_; }
    int PointerShape() override { return pointer_; }
    void SetPointerShape(int shape) override { pointer_ = shape; }
    void ShowMessage(const std::string&, int, const std::string&) override { ++messages_; }
    void CloseWindow() override {}

    bool EndedTidily() const { return pointer_ == kPointerDefault && messages_ == 1; }

  private:
    std::string path_;
    float value_ = 0;
    int pointer_ = kPointerDefault;
    int messages_ = 0;
};

}  // namespace zelvane::fuzz
