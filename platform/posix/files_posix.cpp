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

[[noreturn]] void ThrowError(int error, const char* action, const std::string& path) {
    throw std::system_error(error, std::generic_category(),
                            std::string(action) + " \"" + path + "\"");
}

// Reads errno before anything else can change it: callers pass only objects that already exist.
[[noreturn]] void ThrowErrno(const char* action, const std::string& path) {
    ThrowError(errno, action, path);
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

// Walks up from the folder until the install folder or the file system's root is reached.
bool LiesBeneath(int folder, const struct stat& install) {
    struct stat info {};
    if (::fstat(folder, &info) != 0) return false;
    UniqueFd current;
    while (!SameFile(info, install)) {
        UniqueFd parent(::openat(current.Valid() ? current.Get() : folder, "..",
                                 O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat parentInfo {};
        if (!parent.Valid() || ::fstat(parent.Get(), &parentInfo) != 0 ||
            SameFile(parentInfo, info)) {
            return false;
        }
        current = std::move(parent);
        info = parentInfo;
    }
    return true;
}

[[noreturn]] void ThrowOutside(const std::string& folderPath) {
    throw std::runtime_error("the folder \"" + folderPath + "\" leads outside the install folder");
}

// A name's folder, opened beneath the install folder (or the install folder itself, which is not
// owned here), and its last part; with their paths for messages.
struct Place {
    UniqueFd opened;
    int folder;
    std::string folderPath;
    std::string leaf;
};

// The partial file and its folder are held by descriptor from its creation on: a user who owns
// the folder may rename the file away and put a link in its place, or move the folder out of the
// install, and nothing done here may then follow that name.
class PosixStagedFile final : public StagedFile {
  public:
    PosixStagedFile(Place place, UniqueFd file, std::string target, const struct stat& install)
        : place_(std::move(place)), file_(std::move(file)), target_(std::move(target)),
          install_(install) {
        if (::fstat(file_.Get(), &created_) != 0) Fail("cannot create");
    }
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    ~PosixStagedFile() override {
        if (!committed_ && NameLeadsToFile()) ::unlinkat(place_.folder, place_.leaf.c_str(), 0);
    }

    // Before any content: created private, the file now gets the mode it will keep.
    void SetMode(mode_t mode) {
        if (::fchmod(file_.Get(), mode) != 0) Fail("cannot set the permissions of");
    }

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const ssize_t put = ::write(file_.Get(), bytes.data(), bytes.size());
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) Fail("cannot write");
            bytes = bytes.subspan(static_cast<std::size_t>(put));
        }
    }

    // No fsync: the rename cannot be left half done by a killed updater, and a flush per file
    // would make many small files several times slower.
    void Commit() override {
        // Closing tells what the file system could not store.
        if (::close(file_.Release()) != 0) Fail("cannot write");
        if (!NameLeadsToFile()) {
            throw std::runtime_error("\"" + Path() + "\" was replaced while it was written");
        }
        // The install folder itself is where it was; any folder beneath it may have been moved.
        if (place_.opened.Valid() && !LiesBeneath(place_.folder, install_)) {
            ThrowOutside(place_.folderPath);
        }
        if (::renameat(place_.folder, place_.leaf.c_str(), place_.folder,
                       target_.c_str()) != 0) {
            const int error = errno;
            ThrowError(error, "cannot replace", place_.folderPath + target_);
        }
        committed_ = true;
    }

  private:
    std::string Path() const { return place_.folderPath + place_.leaf; }

    [[noreturn]] void Fail(const char* action) const {
        const int error = errno;
        ThrowError(error, action, Path());
    }

    // Once the file is closed its inode number may pass to another file, but never to one that
    // a user other than ours could have made.
    bool NameLeadsToFile() const {
        struct stat now {};
        return ::fstatat(place_.folder, place_.leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
               SameFile(now, created_) && S_ISREG(now.st_mode) && now.st_uid == created_.st_uid;
    }

    Place place_;
    UniqueFd file_;
    std::string target_;  // the last part of the product file's name
    struct stat install_;
    struct stat created_ {};
    bool committed_ = false;
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

    std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                      const std::string& target) override {
        Place place = PlaceOf(partial);
        const std::string targetLeaf = target.substr(target.rfind('/') + 1);
        const mode_t mode = ModeReplacing(place, targetLeaf);
        // No access for others until the file has the mode it keeps.
        UniqueFd fd(::openat(place.folder, place.leaf.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.Valid()) {
            if (errno == EEXIST) return nullptr;
            Fail("cannot create", partial);
        }
        auto staged =
            std::make_unique<PosixStagedFile>(std::move(place), std::move(fd), targetLeaf, rootInfo_);
        staged->SetMode(mode);
        return staged;
    }

    void Remove(const std::string& name) override {
        const Place place = PlaceOf(name);
        if (::unlinkat(place.folder, place.leaf.c_str(), 0) != 0 && errno != ENOENT) {
            Fail("cannot delete", name);
        }
    }

  private:
    // The mode of the product file that the new one replaces; a file nobody may write to is
    // read-only, as with the read-only attribute on Windows: it is not replaced, not even by
    // root, who is otherwise allowed to.
    mode_t ModeReplacing(const Place& place, const std::string& targetLeaf) const {
        struct stat old {};
        if (::fstatat(place.folder, targetLeaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(old.st_mode)) {
            return createdMode_;
        }
        if ((old.st_mode & 0222) == 0) {
            ThrowError(EACCES, "cannot replace the read-only file", place.folderPath + targetLeaf);
        }
        // Its permissions, but never set-user-id, set-group-id or sticky.
        return old.st_mode & 0777;
    }

    // Opened anew for every name, never kept: the folder may have been moved since.
    Place PlaceOf(const std::string& name) {
        const auto slash = name.rfind('/');
        if (slash == std::string::npos) return {UniqueFd(), root_.Get(), path_, name};
        const std::string parent = name.substr(0, slash);
        UniqueFd folder = OpenBeneath(parent);
        const int fd = folder.Get();
        return {std::move(folder), fd, path_ + parent + '/', name.substr(slash + 1)};
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
        if (!LiesBeneath(fd.Get(), rootInfo_)) ThrowOutside(path_ + folder);
        return fd;
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const int error = errno;
        ThrowError(error, action, path_ + name);
    }

    UniqueFd root_;
    std::string path_;
    struct stat rootInfo_ {};
    mode_t createdMode_;
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
