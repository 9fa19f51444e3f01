#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "unique_fd.h"
#include "zelvane/platform/files.h"

namespace zelvane {
namespace {

using posix::UniqueFd;

// Reads errno before anything else can change it: callers pass only objects that already exist.
[[noreturn]] void ThrowErrno(const char* action, const std::string& path) {
    const int error = errno;
    throw std::system_error(error, std::generic_category(),
                            std::string(action) + " \"" + path + "\"");
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class PosixReadableFile final : public ReadableFile {
  public:
    PosixReadableFile(UniqueFd fd, std::string path, std::uint64_t length)
        : fd_(std::move(fd)), path_(std::move(path)), length_(length) {}

    std::uint64_t Length() override { return length_; }

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
    std::uint64_t length_;
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

// The permission bits a new file gets: 0644 less the process's umask.
mode_t CreatedMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0644 & ~mask;
}

class PosixFolder final : public Folder {
  public:
    PosixFolder(UniqueFd root, std::string path)
        : root_(std::move(root)), path_(std::move(path)), createdMode_(CreatedMode()) {
        if (::fstat(root_.Get(), &rootInfo_) != 0) ThrowErrno("cannot open", path_);
    }

    bool TryLock() override {
        if (::flock(root_.Get(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EWOULDBLOCK) return false;
        ThrowErrno("cannot lock", path_);
    }

    bool IsOrdinaryFile(const std::string& name) override {
        struct stat info {};
        if (::fstatat(root_.Get(), name.c_str(), &info, 0) == 0) return S_ISREG(info.st_mode);
        if (errno == ENOENT || errno == ENOTDIR) return false;
        Fail("cannot look for", name);
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
        const Place place = PlaceOf(name);
        UniqueFd fd(::openat(place.folder, place.leaf.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (fd.Valid()) return std::make_unique<PosixWritableFile>(std::move(fd), path_ + name);
        if (errno == EEXIST) return nullptr;
        Fail("cannot create", name);
    }

    void Remove(const std::string& name) override {
        const Place place = PlaceOf(name);
        if (::unlinkat(place.folder, place.leaf.c_str(), 0) != 0 && errno != ENOENT) {
            Fail("cannot delete", name);
        }
    }

    void Replace(const std::string& from, const std::string& to) override {
        const Place target = PlaceOf(to);
        struct stat old {};
        mode_t mode = createdMode_;
        if (::fstatat(target.folder, target.leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(old.st_mode)) {
            // A file nobody may write to is read-only, as with the read-only attribute on
            // Windows: it is not replaced, not even by root, who is otherwise allowed to.
            if ((old.st_mode & 0222) == 0) {
                errno = EACCES;
                Fail("cannot replace the read-only file", to);
            }
            // Its permissions, but never set-user-id, set-group-id or sticky.
            mode = old.st_mode & 0777;
        }
        const Place source = PlaceOf(from);
        if (mode != createdMode_ && ::fchmodat(source.folder, source.leaf.c_str(), mode, 0) != 0) {
            Fail("cannot set the permissions of", from);
        }
        if (::renameat(source.folder, source.leaf.c_str(), target.folder, target.leaf.c_str()) !=
            0) {
            Fail("cannot replace", to);
        }
    }

  private:
    // A name's folder, opened beneath the install folder, and its last part.
    struct Place {
        int folder;
        std::string leaf;
    };

    Place PlaceOf(const std::string& name) {
        const auto slash = name.rfind('/');
        if (slash == std::string::npos) return {root_.Get(), name};
        const std::string parent = name.substr(0, slash);
        // Entries of one folder follow each other in a package: keep the last folder open.
        if (parent != openParent_ || !openParentFd_.Valid()) {
            openParentFd_ = OpenBeneath(parent);
            openParent_ = parent;
        }
        return {openParentFd_.Get(), name.substr(slash + 1)};
    }

    UniqueFd OpenBeneath(const std::string& folder) {
        open_how how{};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        UniqueFd fd(static_cast<int>(
            ::syscall(SYS_openat2, root_.Get(), folder.c_str(), &how, sizeof how)));
        if (fd.Valid()) return fd;
        // Without openat2, or with a link that the kernel will not follow beneath (an absolute
        // one): follow it, then see where the folder reached lies.
        if (errno != ENOSYS && errno != EXDEV) Fail("cannot open the folder", folder);
        fd.Reset(::openat(root_.Get(), folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!fd.Valid()) Fail("cannot open the folder", folder);
        if (!LiesBeneath(fd.Get())) {
            throw std::runtime_error("the folder \"" + path_ + folder +
                                     "\" leads outside the install folder");
        }
        return fd;
    }

    // Walks up from the folder until the install folder or the file system's root is reached.
    bool LiesBeneath(int folder) const {
        UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
        struct stat info {};
        while (current.Valid() && ::fstat(current.Get(), &info) == 0) {
            if (SameFile(info, rootInfo_)) return true;
            UniqueFd parent(::openat(current.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            struct stat parentInfo {};
            if (!parent.Valid() || ::fstat(parent.Get(), &parentInfo) != 0 ||
                SameFile(parentInfo, info)) {
                return false;
            }
            current = std::move(parent);
        }
        return false;
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const int error = errno;
        throw std::system_error(error, std::generic_category(),
                                std::string(action) + " \"" + path_ + name + "\"");
    }

    UniqueFd root_;
    std::string path_;
    struct stat rootInfo_ {};
    mode_t createdMode_;
    std::string openParent_;
    UniqueFd openParentFd_;
};

class PosixFileSystem final : public FileSystem {
  public:
    char Separator() const override { return '/'; }

    std::string NativePath(std::string_view path) const override {
        std::string native(path);
        std::replace(native.begin(), native.end(), '\\', '/');
        return native;
    }

    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.Valid()) {
            std::string folder = path.ends_with('/') ? path : path + '/';
            return std::make_unique<PosixFolder>(std::move(fd), std::move(folder));
        }
        if (errno == ENOENT || errno == ENOTDIR) return nullptr;
        ThrowErrno("cannot open", path);
    }

    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        // Without waiting: opening a pipe for reading would otherwise wait for a writer.
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.Valid()) ThrowErrno("cannot open", path);
        struct stat info {};
        if (::fstat(fd.Get(), &info) != 0) ThrowErrno("cannot open", path);
        if (S_ISDIR(info.st_mode)) {
            errno = EISDIR;
            ThrowErrno("cannot read", path);
        }
        if (!S_ISREG(info.st_mode)) {
            throw std::runtime_error("cannot read \"" + path +
                                     "\": it is not an ordinary file but a device, a pipe or a "
                                     "socket");
        }
        return std::make_unique<PosixReadableFile>(std::move(fd), path,
                                                   static_cast<std::uint64_t>(info.st_size));
    }

    std::unique_ptr<ReadableFile> OpenIfPresent(const std::string& path) override {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return nullptr;
        return OpenForReading(path);
    }

    void ChangeDirectory(const std::string& path) override {
        if (::chdir(path.c_str()) != 0) ThrowErrno("cannot change the current folder to", path);
    }

    std::string CurrentDirectory() override {
        std::vector<char> buffer(4096);
        while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE) {
                const int error = errno;
                throw std::system_error(error, std::generic_category(),
                                        "cannot tell the current folder");
            }
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
