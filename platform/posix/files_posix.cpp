#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "process_umask.h"
#include "retry.h"
#include "unique_fd.h"
#include "zelvane/platform/files.h"

namespace zelvane {
namespace {

using posix::RetryOnInterrupt;
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
        const ssize_t got =
            RetryOnInterrupt([&] { return ::read(fd_.Get(), buffer.data(), buffer.size()); });
        if (got < 0) ThrowErrno("cannot read", path_);
        return static_cast<std::size_t>(got);
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

// The install folder, held open: every name is reached beneath it, its folder opened anew each
// time, since a folder may have been moved or replaced since it was last used.
class InstallRoot {
  public:
    InstallRoot(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {
        if (::fstat(fd_.Get(), &info_) != 0) ThrowErrno("cannot open", path_);
    }

    int Fd() const { return fd_.Get(); }
    const std::string& Path() const { return path_; }

    Place PlaceOf(const std::string& name) const {
        const auto slash = name.rfind('/');
        if (slash == std::string::npos) return {UniqueFd(), fd_.Get(), path_, name};
        const std::string parent = name.substr(0, slash);
        UniqueFd folder = OpenBeneath(parent);
        const int fd = folder.Get();
        return {std::move(folder), fd, path_ + parent + '/', name.substr(slash + 1)};
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const int error = errno;
        ThrowError(error, action, path_ + name);
    }

  private:
    UniqueFd OpenBeneath(const std::string& folder) const {
        open_how how{};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        UniqueFd fd(
            static_cast<int>(::syscall(SYS_openat2, fd_.Get(), folder.c_str(), &how, sizeof how)));
        if (fd.Valid()) return fd;
        // Without openat2, or with a link that the kernel will not follow beneath (an absolute
        // one): follow it, then see where the folder reached lies.
        if (errno != ENOSYS && errno != EXDEV) Fail("cannot open the folder", folder);
        fd.Reset(::openat(fd_.Get(), folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!fd.Valid()) Fail("cannot open the folder", folder);
        if (!LiesBeneath(fd.Get(), info_)) ThrowOutside(path_ + folder);
        return fd;
    }

    UniqueFd fd_;
    std::string path_;
    struct stat info_ {};
};

// A user who owns the partial file's folder may rename the file away and put a link in its place,
// or move the folder out of the install and put another in its place: the file and its folder are
// known by their identity, and nothing is done through a name that no longer leads to them.
class PosixStagedFile final : public StagedFile {
  public:
    PosixStagedFile(const InstallRoot& root, Place place, UniqueFd file, std::string partial,
                    std::string target)
        : root_(root), place_(std::move(place)), file_(std::move(file)),
          partial_(std::move(partial)), target_(std::move(target)) {
        if (::fstat(file_.Get(), &created_) != 0) Fail("cannot create");
        if (place_.opened.Valid() && ::fstat(place_.folder, &folder_) != 0) Fail("cannot create");
    }
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    ~PosixStagedFile() override {
        if (committed_) return;
        try {
            if (!file_.Valid()) place_ = SamePlace();
            if (NameLeadsToFile()) ::unlinkat(place_.folder, place_.leaf.c_str(), 0);
        } catch (const std::exception&) {
            // Moved away with its folder: no longer ours to remove.
        }
    }

    // Before any content: created private, the file now gets the mode it will keep.
    void SetMode(mode_t mode) {
        if (::fchmod(file_.Get(), mode) != 0) Fail("cannot set the permissions of");
    }

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const ssize_t put =
                RetryOnInterrupt([&] { return ::write(file_.Get(), bytes.data(), bytes.size()); });
            if (put < 0) Fail("cannot write");
            bytes = bytes.subspan(static_cast<std::size_t>(put));
        }
    }

    // Closing tells what the file system could not store.
    void Finish() override {
        if (::close(file_.Release()) != 0) Fail("cannot write");
        place_.opened.Reset();
    }

    void Commit() override {
        place_ = SamePlace();
        if (!NameLeadsToFile()) {
            throw std::runtime_error("\"" + Path() + "\" was replaced while it was written");
        }
        const std::string targetLeaf = target_.substr(target_.rfind('/') + 1);
        if (::renameat(place_.folder, place_.leaf.c_str(), place_.folder, targetLeaf.c_str()) !=
            0) {
            root_.Fail("cannot replace", target_);
        }
        committed_ = true;
    }

  private:
    std::string Path() const { return root_.Path() + partial_; }

    [[noreturn]] void Fail(const char* action) const { root_.Fail(action, partial_); }

    // The folder the file was written in, reached again beneath the install folder: when it was
    // moved, it no longer lies there.
    Place SamePlace() const {
        const std::string folder = root_.Path() + partial_.substr(0, partial_.rfind('/') + 1);
        std::optional<Place> place;
        try {
            place = root_.PlaceOf(partial_);
        } catch (const std::system_error&) {
            ThrowOutside(folder);
        }
        // The install folder itself is held open, and stays where it is.
        if (!place->opened.Valid()) return std::move(*place);
        struct stat now {};
        if (::fstat(place->folder, &now) != 0 || !SameFile(now, folder_)) ThrowOutside(folder);
        return std::move(*place);
    }

    // Once the file is closed its inode number may pass to another file, but never to one that
    // a user other than ours could have made.
    bool NameLeadsToFile() const {
        struct stat now {};
        return ::fstatat(place_.folder, place_.leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
               SameFile(now, created_) && S_ISREG(now.st_mode) && now.st_uid == created_.st_uid;
    }

    const InstallRoot& root_;
    Place place_;
    UniqueFd file_;
    std::string partial_, target_;  // names beneath the install folder
    struct stat created_ {};
    struct stat folder_ {};
    bool committed_ = false;
};

// The permission bits a new file gets: 0644 less the process's umask.
mode_t CreatedMode() { return 0644 & ~posix::ProcessUmask(); }

class PosixFolder final : public Folder {
  public:
    PosixFolder(UniqueFd root, std::string path)
        : root_(std::move(root), std::move(path)), createdMode_(CreatedMode()) {}

    bool TryLock() override {
        if (::flock(root_.Fd(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EWOULDBLOCK) return false;
        Fail("cannot lock", "");
    }

    bool IsOrdinaryFile(const std::string& name) override {
        struct stat info {};
        if (::fstatat(root_.Fd(), name.c_str(), &info, 0) == 0) return S_ISREG(info.st_mode);
        if (errno == ENOENT || errno == ENOTDIR) return false;
        Fail("cannot look for", name);
    }

    std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                      const std::string& target) override {
        Place place = root_.PlaceOf(partial);
        const mode_t mode = ModeReplacing(place, target.substr(target.rfind('/') + 1));
        // No access for others until the file has the mode it keeps.
        UniqueFd fd(::openat(place.folder, place.leaf.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.Valid()) {
            if (errno == EEXIST) return nullptr;
            Fail("cannot create", partial);
        }
        auto staged =
            std::make_unique<PosixStagedFile>(root_, std::move(place), std::move(fd), partial, target);
        staged->SetMode(mode);
        return staged;
    }

    bool KeepAs(const std::string& name, const std::string& backup) override {
        const Place place = root_.PlaceOf(name);
        const std::string backupLeaf = backup.substr(backup.rfind('/') + 1);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (::linkat(place.folder, place.leaf.c_str(), place.folder, backupLeaf.c_str(), 0) ==
                0) {
                return true;
            }
            if (errno == ENOENT) return false;
            if (errno != EEXIST || ::unlinkat(place.folder, backupLeaf.c_str(), 0) != 0) break;
        }
        Fail("cannot keep a copy of", name);
    }

    void Rename(const std::string& from, const std::string& to) override {
        const Place place = root_.PlaceOf(to);
        const std::string fromLeaf = from.substr(from.rfind('/') + 1);
        if (::renameat(place.folder, fromLeaf.c_str(), place.folder, place.leaf.c_str()) != 0 &&
            errno != ENOENT) {
            Fail("cannot replace", to);
        }
    }

    bool Exists(const std::string& name) override {
        const Place place = root_.PlaceOf(name);
        struct stat info {};
        if (::fstatat(place.folder, place.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            return true;
        }
        if (errno == ENOENT) return false;
        Fail("cannot look for", name);
    }

    void Remove(const std::string& name) override {
        const Place place = root_.PlaceOf(name);
        if (::unlinkat(place.folder, place.leaf.c_str(), 0) != 0 && errno != ENOENT) {
            Fail("cannot delete", name);
        }
    }

    // One flush of the whole file system costs far less than one per file, each waiting for
    // the disk in turn.
    void Flush() override {
        if (::syncfs(root_.Fd()) != 0) Fail("cannot write to the disk", "");
    }

    std::uint64_t FreeSpace() override {
        struct statvfs info {};
        if (::fstatvfs(root_.Fd(), &info) != 0) Fail("cannot tell the free space of", "");
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    }

    // A file open in a running program is replaced without harm here: the program keeps the old
    // one.
    std::vector<FileInUse> FilesInUse(const std::vector<std::string>&) override { return {}; }

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
            // Not a lack of rights, which running as another user would mend.
            ThrowError(EPERM, "cannot replace the read-only file", place.folderPath + targetLeaf);
        }
        // Its permissions, but never set-user-id, set-group-id or sticky.
        return old.st_mode & 0777;
    }

    // Reads errno before anything else can change it.
    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const int error = errno;
        ThrowError(error, action, root_.Path() + name);
    }

    InstallRoot root_;
    mode_t createdMode_;
};

void RequireOrdinary(const struct stat& info, const std::string& path) {
    if (S_ISDIR(info.st_mode)) ThrowError(EISDIR, "cannot read", path);
    if (!S_ISREG(info.st_mode)) {
        throw std::runtime_error("cannot read \"" + path +
                                 "\": it is not an ordinary file but a device, a pipe or a socket");
    }
}

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
        RequireOrdinary(info, path);
        return std::make_unique<PosixReadableFile>(std::move(fd), path,
                                                   static_cast<std::uint64_t>(info.st_size));
    }

    // Looked at without opening it, which a package of many small files would feel.
    std::uint64_t OrdinaryFileSize(const std::string& path) override {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) ThrowErrno("cannot open", path);
        RequireOrdinary(info, path);
        return static_cast<std::uint64_t>(info.st_size);
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
