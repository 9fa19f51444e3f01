#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {

// A file opened for binary reading; closed when destroyed.
class ReadableFile {
  public:
    virtual ~ReadableFile() = default;
    virtual std::uint64_t Length() = 0;
    // Reads up to buffer.size() bytes; returns 0 only at the end of the file.
    virtual std::size_t Read(std::span<std::byte> buffer) = 0;
};

// A new file written beside the product file it is to replace, and put in its place once it is
// complete. It is never reached through a name that someone else could have changed: its identity
// is checked before it is placed. Destroyed before Commit, it is removed again.
class StagedFile {
  public:
    virtual ~StagedFile() = default;
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Closes the complete file; from then on it holds nothing open. Its content is on the disk
    // once the folder is flushed.
    virtual void Finish() = 0;
    // Puts the finished file in place of its target in one step, so that the target's name is
    // never missing. Fails, and replaces nothing, when the staged file's name no longer leads to
    // the file written, or its folder is no longer the one beneath the install folder where it
    // was written.
    virtual void Commit() = 0;
};

// A file that running programs hold open, and the names of those programs where they are known.
struct FileInUse {
    std::string name;
    std::vector<std::string> programs;
};

// A folder held open for the length of an update. Every name given to it is relative to it, in
// this platform's spelling, and is reached beneath it: a link on the way that leads outside the
// folder fails the call, a link that stays inside is followed. It keeps no handle into the folder
// between calls, and a finished StagedFile none either, so that the product's own programs may
// rename or remove any subfolder once the copy is done.
class Folder {
  public:
    virtual ~Folder() = default;
    // Holds the folder for this run alone until the Folder is destroyed; false when another run
    // holds it. Nothing is written into the folder for it.
    virtual bool TryLock() = 0;
    // True for an ordinary file: it exists and is neither a folder, hidden nor a system file.
    virtual bool IsOrdinaryFile(const std::string& name) = 0;
    // Creates the file `partial` for content that is to replace `target`, a name in the same
    // folder, never through a link. It has from the start the permissions or attributes that it
    // will keep (the target's; hidden and system attributes only at Commit), and no access for
    // others before that; a read-only target is refused. Nothing when `partial` is already taken.
    virtual std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                              const std::string& target) = 0;
    // Gives the file `name` a second name `backup` in the same folder, so that it stays whole when
    // another file takes the first; one left under `backup` before makes way. Returns false, and
    // does nothing, when there is no file `name`.
    virtual bool KeepAs(const std::string& name, const std::string& backup) = 0;
    // Puts the file `from` in place of `to`, a name in the same folder, in one step; nothing when
    // there is no `from`.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // True when a file or link of this name exists.
    virtual bool Exists(const std::string& name) = 0;
    // Removes the file or link of this name whatever its attributes; nothing when there is none.
    // A file that a running program keeps from being removed goes at the next restart.
    virtual void Remove(const std::string& name) = 0;
    // Every change made in the folder until now is on the disk when this returns.
    virtual void Flush() = 0;
    // The bytes that may still be written on the folder's drive.
    virtual std::uint64_t FreeSpace() = 0;
    // Those of the named files that a running program holds open so that they cannot be
    // replaced.
    virtual std::vector<FileInUse> FilesInUse(const std::vector<std::string>& names) = 0;
};

// The file operations the update needs. Every failure throws std::system_error with a message
// that names the file.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The separator this platform puts between folder names.
    virtual char Separator() const = 0;
    // The path as this platform spells it (package names are written with Windows separators).
    virtual std::string NativePath(std::string_view path) const = 0;

    // Nothing when no folder of this path exists.
    virtual std::unique_ptr<Folder> OpenFolder(const std::string& path) = 0;
    // Opens an ordinary file only, without waiting: a device, a pipe, a socket or a folder is
    // refused at once.
    virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) = 0;
    // The size of an ordinary file, refused as OpenForReading refuses anything else.
    virtual std::uint64_t OrdinaryFileSize(const std::string& path) = 0;
    // As OpenForReading, but nothing when no file of this path exists.
    virtual std::unique_ptr<ReadableFile> OpenIfPresent(const std::string& path) = 0;

    virtual void ChangeDirectory(const std::string& path) = 0;
    virtual std::string CurrentDirectory() = 0;
    // The path resolved against the current directory when it is relative.
    virtual std::string AbsolutePath(const std::string& path) = 0;
};

// The real file system of the platform this program was built for.
FileSystem& SystemFileSystem();

}  // namespace zelvane
