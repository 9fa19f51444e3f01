#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "unique_fd.h"
#include "zelvane/platform/files.h"

namespace zelvane {
namespace {

using posix::UniqueFd;

[[noreturn]] void ThrowErrno(const std::string& action, const std::string& path) {
    throw std::system_error(errno, std::generic_category(), action + " \"" + path + "\"");
}

// A file that nobody may write to is read-only, as with the read-only attribute on Windows: it is
// neither deleted nor replaced, not even by root, who is otherwise allowed to.
void RefuseReadOnly(const std::string& action, const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0) {
        throw std::system_error(EACCES, std::generic_category(),
                                action + " the read-only file \"" + path + "\"");
    }
}

class PosixReadableFile final : public ReadableFile {
  public:
    PosixReadableFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::uint64_t Length() override {
        struct stat info {};
        if (::fstat(fd_.Get(), &info) != 0) ThrowErrno("cannot get the length of", path_);
        return static_cast<std::uint64_t>(info.st_size);
    }

    std::size_t Read(std::span<std::byte> buffer) override {
        for (;;) {
            const ssize_t got = ::read(fd_.Get(), buffer.data(), buffer.size());
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) ThrowErrno("cannot read", path_);
        }
    }

  private:
    UniqueFd fd_;
    std::string path_;
};

class PosixWritableFile final : public WritableFile {
  public:
    PosixWritableFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const ssize_t put = ::write(fd_.Get(), bytes.data(), bytes.size());
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) ThrowErrno("cannot write", path_);
            bytes = bytes.subspan(static_cast<std::size_t>(put));
        }
    }

    void Finish() override {
        // No fsync: the file replaces the old one by rename, which a killed updater cannot leave
        // half done, and a flush per file would make many small files several times slower.
        if (::close(fd_.Release()) != 0) ThrowErrno("cannot write", path_);
    }

  private:
    UniqueFd fd_;
    std::string path_;
};

class PosixFileSystem final : public FileSystem {
  public:
    char Separator() const override { return '/'; }

    std::string NativePath(std::string_view path) const override {
        std::string native(path);
        std::replace(native.begin(), native.end(), '\\', '/');
        return native;
    }

    bool IsOrdinaryFile(const std::string& path) override {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) return S_ISREG(info.st_mode);
        if (errno == ENOENT || errno == ENOTDIR) return false;
        ThrowErrno("cannot look for", path);
    }

    void DeleteFile(const std::string& path) override {
        RefuseReadOnly("cannot delete", path);
        if (::unlink(path.c_str()) != 0) ThrowErrno("cannot delete", path);
    }

    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid()) ThrowErrno("cannot open", path);
        struct stat info {};
        if (::fstat(fd.Get(), &info) != 0) ThrowErrno("cannot open", path);
        if (S_ISDIR(info.st_mode)) {
            throw std::system_error(EISDIR, std::generic_category(),
                                    "cannot read \"" + path + "\"");
        }
        return std::make_unique<PosixReadableFile>(std::move(fd), path);
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.Valid()) ThrowErrno("cannot create", path);
        return std::make_unique<PosixWritableFile>(std::move(fd), path);
    }

    void Replace(const std::string& from, const std::string& to) override {
        RefuseReadOnly("cannot replace", to);
        // The new file keeps the permissions of the one it replaces (a program stays runnable).
        struct stat old {};
        if (::stat(to.c_str(), &old) == 0 && ::chmod(from.c_str(), old.st_mode & 07777) != 0) {
            ThrowErrno("cannot set the permissions of", from);
        }
        if (::rename(from.c_str(), to.c_str()) != 0) ThrowErrno("cannot replace", to);
    }

    void ChangeDirectory(const std::string& path) override {
        if (::chdir(path.c_str()) != 0) ThrowErrno("cannot change the current folder to", path);
    }

    std::string CurrentDirectory() override {
        std::vector<char> buffer(4096);
        while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE) ThrowErrno("cannot tell the current folder", ".");
            buffer.resize(buffer.size() * 2);
        }
        return buffer.data();
    }

    std::string AbsolutePath(const std::string& path) override {
        return path.starts_with('/') ? path : CurrentDirectory() + '/' + path;
    }
};

}  // namespace

FileSystem& SystemFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace zelvane
