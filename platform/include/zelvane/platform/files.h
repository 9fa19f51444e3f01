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

// A file newly created for binary writing; closed when destroyed.
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Closes the file; throws when what was written could not be stored.
    virtual void Finish() = 0;
};

// A folder held open for the length of an update. Every name given to it is relative to it, in
// this platform's spelling, and is reached beneath it: a link on the way that leads outside the
// folder fails the call, a link that stays inside is followed.
class Folder {
  public:
    virtual ~Folder() = default;
    // Holds the folder for this run alone until the Folder is destroyed; false when another run
    // holds it. Nothing is written into the folder for it.
    virtual bool TryLock() = 0;
    // True for an ordinary file: it exists and is neither a folder, hidden nor a system file.
    virtual bool IsOrdinaryFile(const std::string& name) = 0;
    // Creates the file with plain attributes, never through a link; returns nothing when the name
    // is already taken.
    virtual std::unique_ptr<WritableFile> CreateNew(const std::string& name) = 0;
    // Removes the file or link of this name whatever its attributes; nothing when there is none.
    virtual void Remove(const std::string& name) = 0;
    // Puts the file `from` in place of `to` in one step, so that `to` is never missing. It takes
    // the permissions or attributes of the file it replaces; a read-only `to` is refused.
    virtual void Replace(const std::string& from, const std::string& to) = 0;
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
