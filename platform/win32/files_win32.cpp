#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "zelvane/platform/files.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

using win32::ThrowError;
using win32::ThrowLastError;
using win32::UniqueHandle;
using win32::Wide;

constexpr DWORD kLargestTransfer = 1u << 30;
// Attributes that make a file the product's own business rather than one the update looks for,
// and that a replaced file keeps.
constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kFolderLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder open without delete sharing can be neither renamed nor replaced by a link.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

DWORD TransferSize(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, kLargestTransfer));
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

class WindowsReadableFile final : public ReadableFile {
  public:
    WindowsReadableFile(UniqueHandle file, std::string path)
        : file_(std::move(file)), path_(std::move(path)) {}

    std::uint64_t Length() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.Get(), &size)) ThrowLastError("cannot get the length of", path_);
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    std::size_t Read(std::span<std::byte> buffer) override {
        DWORD got = 0;
        if (!::ReadFile(file_.Get(), buffer.data(), TransferSize(buffer.size()), &got, nullptr)) {
            ThrowLastError("cannot read", path_);
        }
        return got;
    }

  private:
    UniqueHandle file_;
    std::string path_;
};

// Calls a Get...W function that fills a buffer and answers the length it needs when too small.
template <typename Fill>
std::wstring FilledBuffer(Fill fill, const char* action, const std::string& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = fill(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) ThrowLastError(action, path);
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
}

std::wstring WithSeparator(std::wstring path) {
    if (!path.ends_with(L'\\')) path += L'\\';
    return path;
}

// Windows mostly compares file names without regard to case; the lock's name does too, so that
// every spelling of a folder takes the same lock.
std::wstring Upper(const std::wstring& text) {
    std::wstring upper(text.size(), L'\0');
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                    static_cast<int>(text.size()), upper.data(), static_cast<int>(upper.size()),
                    nullptr, nullptr, 0);
    return upper;
}

// Opens a folder to look at it only, following every link on the way unless flags say otherwise.
UniqueHandle OpenFolderHandle(const std::wstring& path, DWORD share, DWORD flags = 0) {
    return UniqueHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

DWORD AttributesOf(HANDLE file, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) ThrowLastError("cannot look at", path);
    return info.dwFileAttributes;
}

// Where an open folder lies once every link is resolved, as a path with a separator at its end.
// Windows answers "\\?\C:\..." or "\\?\UNC\server\share\..."; the ordinary spelling is kept, so
// that names given later are read as they always were.
std::wstring FinalPath(HANDLE folder, const std::string& path) {
    std::wstring final = FilledBuffer(
        [folder](DWORD size, wchar_t* buffer) {
            return ::GetFinalPathNameByHandleW(folder, buffer, size, FILE_NAME_NORMALIZED);
        },
        "cannot resolve", path);
    if (final.starts_with(L"\\\\?\\UNC\\")) final = L"\\" + final.substr(7);
    if (final.starts_with(L"\\\\?\\")) final = final.substr(4);
    return WithSeparator(std::move(final));
}

// What tells a file or folder from every other, whatever the case rules of its name: its volume
// and its id there.
struct FileIdentity {
    bool full = false;  // the 128-bit id, rather than the older 64-bit index
    ULONGLONG volume = 0;
    std::array<BYTE, 16> id{};

    bool operator==(const FileIdentity&) const = default;
};

// Windows 8 added the 128-bit ids that ReFS needs; the SDK declares them only from Windows 8 on.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfo {
    ULONGLONG volumeSerialNumber;
    std::array<BYTE, 16> fileId;
};

// Windows 7 refuses that class; there the 64-bit index serves, which is unique on NTFS.
FileIdentity IdentityOf(HANDLE file, const std::string& path) {
    FileIdentity identity;
    FileIdInfo info{};
    if (::GetFileInformationByHandleEx(file, kFileIdInfo, &info, sizeof info)) {
        identity.full = true;
        identity.volume = info.volumeSerialNumber;
        identity.id = info.fileId;
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION older{};
    if (!::GetFileInformationByHandle(file, &older)) ThrowLastError("cannot look at", path);
    identity.volume = older.dwVolumeSerialNumber;
    const ULONGLONG index = (ULONGLONG{older.nFileIndexHigh} << 32) | older.nFileIndexLow;
    std::memcpy(identity.id.data(), &index, sizeof index);
    return identity;
}

// For a folder's resolved path, which ends with a separator: its depth, and the folder above it.
std::size_t DepthOf(const std::wstring& folder) {
    return static_cast<std::size_t>(std::count(folder.begin(), folder.end(), L'\\'));
}
std::wstring ParentOf(const std::wstring& folder) {
    return folder.substr(0, folder.rfind(L'\\', folder.size() - 2) + 1);
}

// Given back when the folder is closed. A run that is killed holds it no longer either: the system
// closes its handle, and the semaphore goes with the last one.
void GiveBack(HANDLE lock) {
    ::ReleaseSemaphore(lock, 1, nullptr);
    ::CloseHandle(lock);
}
using HeldLock = UniqueResource<NullableTraits<HANDLE, &GiveBack>>;

// The last part of a name given to a Folder.
std::string LeafOf(const std::string& name) { return name.substr(name.rfind('\\') + 1); }

// A folder of the install, held open for as long as names in it are used, and where it lies.
struct Reached {
    UniqueHandle folder;
    std::wstring path;  // resolved, with a separator at its end

    std::wstring PathOf(const std::string& name) const { return path + Wide(LeafOf(name)); }
};

// The partial file and its folder stay open until the file takes its target's place: nobody can
// rename the folder or put a link in its place meanwhile, nor open the file.
class WindowsStagedFile final : public StagedFile {
  public:
    WindowsStagedFile(UniqueHandle folder, UniqueHandle file, std::wstring partial,
                      std::wstring target, std::string partialShown, std::string targetShown)
        : folder_(std::move(folder)),
          file_(std::move(file)),
          partial_(std::move(partial)),
          target_(std::move(target)),
          partialShown_(std::move(partialShown)),
          targetShown_(std::move(targetShown)) {}
    WindowsStagedFile(const WindowsStagedFile&) = delete;
    WindowsStagedFile& operator=(const WindowsStagedFile&) = delete;

    ~WindowsStagedFile() override {
        if (committed_) return;
        file_.Reset();
        // Left behind only when that fails too; the next run removes it.
        ::DeleteFileW(partial_.c_str());
    }

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            DWORD put = 0;
            if (!::WriteFile(file_.Get(), bytes.data(), TransferSize(bytes.size()), &put,
                             nullptr)) {
                ThrowLastError("cannot write", partialShown_);
            }
            bytes = bytes.subspan(put);
        }
    }

    // The product file keeps its hidden and system attributes; a file open without delete
    // sharing (a running program) makes the rename fail.
    void Commit() override {
        if (!::FlushFileBuffers(file_.Get())) ThrowLastError("cannot write", partialShown_);
        if (!::CloseHandle(file_.Release())) ThrowLastError("cannot close", partialShown_);
        const DWORD attributes = ::GetFileAttributesW(target_.c_str());
        const DWORD keep = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kHiddenOrSystem;
        // Only now that the new file is complete may it become hidden or a system file.
        if (keep != 0 && !::SetFileAttributesW(partial_.c_str(), keep)) {
            ThrowLastError("cannot set the attributes of", partialShown_);
        }
        if (!::MoveFileExW(partial_.c_str(), target_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ThrowLastError("cannot replace", targetShown_);
        }
        committed_ = true;
    }

  private:
    UniqueHandle folder_;  // first, so that it is closed last
    UniqueHandle file_;
    std::wstring partial_, target_;
    std::string partialShown_, targetShown_;  // for messages
    bool committed_ = false;
};

// A name for the folder that every run on this computer derives alike, whatever the spelling of
// the path it was given.
std::wstring LockName(const std::wstring& finalPath) {
    std::uint64_t hash = 14695981039346656037u;
    for (const wchar_t c : Upper(finalPath)) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211u;
    }
    std::wstring name = L"ZelvaneUpdater-";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
    return name;
}

class WindowsFolder final : public Folder {
  public:
    WindowsFolder(std::string path, std::wstring finalPath, FileIdentity identity)
        : path_(std::move(path)),
          finalPath_(std::move(finalPath)),
          depth_(DepthOf(finalPath_)),
          identity_(identity) {}

    // A named semaphore of one, rather than a mutex: a mutex lets the thread that holds it take it
    // again, so a second Folder of the same thread would get in, and only that thread may give it
    // back.
    bool TryLock() override {
        const std::wstring name = LockName(finalPath_);
        UniqueHandle lock(::CreateSemaphoreW(nullptr, 1, 1, (L"Global\\" + name).c_str()));
        // Another user's run may have made it where this one may not open it.
        if (!lock.Valid()) {
            lock.Reset(::CreateSemaphoreW(nullptr, 1, 1, (L"Local\\" + name).c_str()));
        }
        if (!lock.Valid()) ThrowLastError("cannot lock", path_);
        const DWORD taken = ::WaitForSingleObject(lock.Get(), 0);
        if (taken == WAIT_TIMEOUT) return false;
        if (taken != WAIT_OBJECT_0) ThrowLastError("cannot lock", path_);
        lock_.Reset(lock.Release());
        return true;
    }

    bool IsOrdinaryFile(const std::string& name) override {
        const Reached folder = Reach(name);
        const DWORD attributes = ::GetFileAttributesW(folder.PathOf(name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return (attributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0;
        }
        if (IsMissing(::GetLastError())) return false;
        Fail("cannot look for", name);
    }

    // A read-only product file is refused, as deleting it would be.
    std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                      const std::string& target) override {
        Reached folder = Reach(target);
        std::wstring targetPath = folder.PathOf(target);
        const DWORD attributes = ::GetFileAttributesW(targetPath.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ThrowError(ERROR_ACCESS_DENIED, "cannot replace the read-only file", path_ + target);
        }
        std::wstring path = folder.PathOf(partial);
        UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
        if (file.Valid()) {
            return std::make_unique<WindowsStagedFile>(std::move(folder.folder), std::move(file),
                                                       std::move(path), std::move(targetPath),
                                                       path_ + partial, path_ + target);
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return nullptr;
        ThrowError(error, "cannot create", path_ + partial);
    }

    void Remove(const std::string& name) override {
        const Reached folder = Reach(name);
        const std::wstring path = folder.PathOf(name);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (IsMissing(::GetLastError())) return;
            Fail("cannot delete", name);
        }
        if ((attributes & (FILE_ATTRIBUTE_READONLY | kHiddenOrSystem)) != 0 &&
            !::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
            Fail("cannot delete", name);
        }
        // A link to a folder goes as a folder does; the folder it leads to stays.
        const BOOL removed = (attributes & kFolderLink) == kFolderLink
                                 ? ::RemoveDirectoryW(path.c_str())
                                 : ::DeleteFileW(path.c_str());
        if (!removed && !IsMissing(::GetLastError())) Fail("cannot delete", name);
    }

  private:
    // The name's folder, held open while the name is used, once it is found to lie beneath the
    // install folder; nothing stays open once the caller is done with it.
    Reached Reach(const std::string& name) const {
        const auto slash = name.rfind('\\');
        const std::string parent = slash == std::string::npos ? "" : name.substr(0, slash);
        const std::wstring path = finalPath_ + Wide(parent);
        UniqueHandle folder = OpenFolderHandle(path, kShareAllButDelete);
        if (!folder.Valid()) Fail("cannot open the folder", parent);
        std::wstring resolved = FinalPath(folder.Get(), path_ + parent);
        if (!LiesBeneath(folder.Get(), resolved, path_ + parent)) {
            throw std::runtime_error("the folder \"" + path_ + parent +
                                     "\" leads outside the install folder");
        }
        return {std::move(folder), std::move(resolved)};
    }

    // Decided by identity rather than by the path's text: where names keep their case (Wine's
    // drives, folders made case-sensitive), "Install" beside "install" is another folder. The
    // install folder is the ancestor at its own depth, if any is.
    bool LiesBeneath(HANDLE folder, std::wstring resolved, const std::string& shown) const {
        if (IdentityOf(folder, shown) == identity_) return true;
        while (DepthOf(resolved) > depth_) {
            resolved = ParentOf(resolved);
            const std::string ancestor = win32::Utf8(resolved);
            // The folder of that name itself, not where a link put in its place since leads.
            const UniqueHandle opened =
                OpenFolderHandle(resolved, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
            if (!opened.Valid()) ThrowLastError("cannot open the folder", ancestor);
            if (IdentityOf(opened.Get(), ancestor) == identity_) return true;
        }
        return false;
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const DWORD error = ::GetLastError();
        ThrowError(error, action, path_ + name);
    }

    std::string path_;        // as the user gave it, for messages
    std::wstring finalPath_;  // where it lies, every link resolved
    std::size_t depth_;
    FileIdentity identity_;
    HeldLock lock_;
};

class WindowsFileSystem final : public FileSystem {
  public:
    char Separator() const override { return '\\'; }

    std::string NativePath(std::string_view path) const override {
        std::string native(path);
        std::replace(native.begin(), native.end(), '/', '\\');
        return native;
    }

    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        const std::wstring wide = Wide(path);
        const UniqueHandle folder = OpenFolderHandle(wide, kShareAll);
        if (!folder.Valid()) {
            if (IsMissing(::GetLastError())) return nullptr;
            ThrowLastError("cannot open", path);
        }
        if ((AttributesOf(folder.Get(), path) & FILE_ATTRIBUTE_DIRECTORY) == 0) return nullptr;
        return std::make_unique<WindowsFolder>(path.ends_with('\\') ? path : path + '\\',
                                               FinalPath(folder.Get(), path),
                                               IdentityOf(folder.Get(), path));
    }

    // Opened with backup semantics, a folder opens too, and is refused like a device or a pipe.
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        const std::wstring wide = Wide(path);
        UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.Valid()) ThrowLastError("cannot open", path);
        if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
            (AttributesOf(file.Get(), path) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            throw std::runtime_error("cannot read \"" + path +
                                     "\": it is not an ordinary file but a device, a pipe or a "
                                     "folder");
        }
        return std::make_unique<WindowsReadableFile>(std::move(file), path);
    }

    std::unique_ptr<ReadableFile> OpenIfPresent(const std::string& path) override {
        if (::GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
            (::GetLastError() == ERROR_FILE_NOT_FOUND ||
             ::GetLastError() == ERROR_PATH_NOT_FOUND)) {
            return nullptr;
        }
        return OpenForReading(path);
    }

    void ChangeDirectory(const std::string& path) override {
        const std::wstring wide = Wide(path);
        if (!::SetCurrentDirectoryW(wide.c_str())) {
            ThrowLastError("cannot change the current folder to", path);
        }
    }

    std::string CurrentDirectory() override {
        return win32::Utf8(FilledBuffer(
            [](DWORD size, wchar_t* buffer) { return ::GetCurrentDirectoryW(size, buffer); },
            "cannot tell the current folder", "."));
    }

    std::string AbsolutePath(const std::string& path) override {
        const std::wstring wide = Wide(path);
        return win32::Utf8(FilledBuffer(
            [&wide](DWORD size, wchar_t* buffer) {
                return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
            },
            "cannot resolve", path));
    }
};

}  // namespace

FileSystem& SystemFileSystem() {
    static WindowsFileSystem fileSystem;
    return fileSystem;
}

}  // namespace zelvane
