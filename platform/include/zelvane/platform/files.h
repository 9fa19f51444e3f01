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

// The file operations the update needs. Every failure throws std::system_error with a message
// that names the file.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The separator this platform puts between folder names.
    virtual char Separator() const = 0;
    // The path as this platform spells it (package names are written with Windows separators).
    virtual std::string NativePath(std::string_view path) const = 0;

    // True for an ordinary file: it exists and is neither a folder, hidden nor a system file.
    virtual bool IsOrdinaryFile(const std::string& path) = 0;
    virtual void DeleteFile(const std::string& path) = 0;
    virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) = 0;
    // Fails when the path already exists.
    virtual std::unique_ptr<WritableFile> CreateNew(const std::string& path) = 0;
    // Puts the file `from` in place of `to` in one step, so that `to` is never missing.
    virtual void Replace(const std::string& from, const std::string& to) = 0;

    virtual void ChangeDirectory(const std::string& path) = 0;
    virtual std::string CurrentDirectory() = 0;
    // The path resolved against the current directory when it is relative.
    virtual std::string AbsolutePath(const std::string& path) = 0;
};

// The real file system of the platform this program was built for.
FileSystem& SystemFileSystem();

}  // namespace zelvane
