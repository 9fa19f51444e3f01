#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"

namespace zelvane::test {

// Thrown by every change to a MemoryFileSystem from the moment its power is cut.
struct PowerCut {};

// A file system held in memory, with POSIX spelling, that notes every write outside one folder.
// Paths are resolved lexically, as the system resolves them when there are no links, and end at a
// NUL byte as they do for the system. It keeps, as a disk does, the files as they were at the last
// flush of a folder, and can lose the power before any change that the update makes.
class MemoryFileSystem final : public FileSystem {
  public:
    MemoryFileSystem(std::string guardedFolder, std::string currentDirectory);

    void AddFolder(const std::string& path);
    void AddFile(const std::string& path, std::string content);
    // Removes the file, or the folder with all it holds.
    void Remove(const std::string& path);
    bool Exists(const std::string& path) const { return files_.contains(Resolve(path)); }
    std::string Content(const std::string& path) const;
    const std::map<std::string, std::string>& Files() const { return files_; }
    // Every path written to that lies outside the guarded folder.
    const std::vector<std::string>& WritesOutside() const { return writesOutside_; }
    // Called before each read or write of a file with its resolved path; a test throws from it to
    // make that transfer fail.
    std::function<void(const std::string& path, bool writing)> beforeTransfer =
        [](const std::string&, bool) {};
    std::uint64_t freeSpace = UINT64_MAX;
    std::map<std::string, std::vector<std::string>> heldBy;  // names in use, and by whom

    // How many changes the update has made: files staged, written, put in place, kept, renamed,
    // removed, and flushes.
    int Changes() const { return changes_; }
    // The power goes before the change after this many more.
    void CutPowerAfter(int changes) { changesBeforeCut_ = changes; }
    // What a power cut loses of the changes since the last flush: none (as a kill does), all,
    // every other one, the others, or the older half, as a disk may write some and not others.
    enum class Loss { None, All, EveryOther, TheOthers, OlderHalf };
    void Restart(Loss loss);

    char Separator() const override { return '/'; }
    std::string NativePath(std::string_view path) const override;
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override;
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    std::uint64_t OrdinaryFileSize(const std::string& path) override {
        return OpenForReading(path)->Length();
    }
    std::unique_ptr<ReadableFile> OpenIfPresent(const std::string& path) override {
        return Exists(path) ? OpenForReading(path) : nullptr;
    }
    void ChangeDirectory(const std::string& path) override;
    std::string CurrentDirectory() override { return current_; }
    std::string AbsolutePath(const std::string& path) override;

  private:
    friend class MemoryFolder;
    friend struct MemoryStagedFile;
    // A change since the last flush, which a power cut may lose: each is whole or lost, as a
    // rename is on a disk, but a file's content is only as much as was appended and kept.
    struct Op {
        enum Kind { Append, Erase, Copy, Move } kind;
        std::string path, to = {}, data = {};
    };
    void Change();
    void Apply(const Op& op, bool counted = true);
    static void Replay(const Op& op, std::map<std::string, std::string>& files);
    std::string Resolve(const std::string& path) const;
    std::string ResolveForWriting(const std::string& path);

    std::string guarded_;
    std::string current_;
    std::set<std::string> folders_;
    std::map<std::string, std::string> files_;
    std::set<std::string> locked_;
    std::vector<std::string> writesOutside_;
    std::map<std::string, std::string> flushed_;
    std::vector<Op> unflushed_;
    int changes_ = 0;
    int changesBeforeCut_ = -1;
    bool dead_ = false;
};

// Starts nothing: records each start with the folder that was current.
// A program named in failingStarts fails to start that many times; results gives how a program's
// wait ends, and a program without one is still running when its wait ends.
class RecordingProcesses final : public Processes {
  public:
    struct Started {
        ProgramLaunch launch;
        std::string folder;
    };

    explicit RecordingProcesses(FileSystem& files) : files_(files) {}

    std::int32_t Start(const ProgramLaunch& launch) override;
    std::unique_ptr<ProcessHandle> Open(std::int32_t processId) override;
    // The last part of each started program's path, in order.
    std::vector<std::string> Names() const;

    std::vector<Started> started;
    std::map<std::string, int> failingStarts;
    std::map<std::string, ProgramWait> results;

  private:
    FileSystem& files_;
};

}  // namespace zelvane::test
