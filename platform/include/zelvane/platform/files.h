#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

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
// complete. Until then it is never reached through a name that someone else can change; destroyed
// before Commit, it is removed again.
class StagedFile {
  public:
    virtual ~StagedFile() = default;
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Puts the complete file in place of its target in one step, so that the target's name is
    // never missing. Fails, and replaces nothing, when the staged file's name no longer leads to
    // the file written, or its folder no longer lies beneath the install folder.
    virtual void Commit() = 0;
};

// A folder held open for the length of an update. Every name given to it is relative to it, in
// this platform's spelling, and is reached beneath it: a link on the way that leads outside the
// folder fails the call, a link that stays inside is followed. It keeps no handle into the folder
// between calls but what a StagedFile owns, so that the product's own programs may rename or
// remove any subfolder once the copy is done.
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
    // Removes the file or link of this name whatever its attributes; nothing when there is none.
    virtual void Remove(const std::string& name) = 0;
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
