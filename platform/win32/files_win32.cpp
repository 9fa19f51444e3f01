#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "zelvane/platform/files.h"
#include "zelvane/win32/system_library.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"

// The Restart Manager's header needs the Windows API declared first.
// clang-format off
#include "zelvane/win32/windows.h"
#include <restartmanager.h>
// clang-format on

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
// Every rename is on the disk when it returns.
constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

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

// Windows takes a path of MAX_PATH characters or more only in its "\\?\" form, which it reads as
// it stands. So the path is first made whole as Windows would make it ("." and ".." gone,
// backslashes only, relative to the current folder), then given the prefix. A device or a path
// already in that form stays; one that cannot be made whole is left to the call, which says why.
std::wstring LongPath(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\")) return path;
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
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
    return UniqueHandle(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES, share, nullptr,
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
std::wstring ResolvedPath(HANDLE folder, const std::string& path) {
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
std::wstring ParentFolderOf(const std::wstring& folder) {
    return folder.substr(0, folder.rfind(L'\\', folder.size() - 2) + 1);
}

// Given back when the folder is closed. A run that is killed holds it no longer either: the system
// closes its handle, and the semaphore goes with the last one.
void GiveBack(HANDLE lock) {
    ::ReleaseSemaphore(lock, 1, nullptr);
    ::CloseHandle(lock);
}
using HeldLock = UniqueResource<NullableTraits<HANDLE, &GiveBack>>;

// The last part of a name given to a Folder, and the part before it (empty for a name in the
// folder itself).
std::string LeafOf(const std::string& name) { return name.substr(name.rfind('\\') + 1); }
std::string ParentOf(const std::string& name) {
    const auto slash = name.rfind('\\');
    return slash == std::string::npos ? "" : name.substr(0, slash);
}

[[noreturn]] void ThrowOutside(const std::string& folder) {
    throw std::runtime_error("the folder \"" + folder + "\" leads outside the install folder");
}

// A folder of the install, held open for as long as names in it are used, and where it lies.
// Held without delete sharing: nobody can rename it or put a link in its place meanwhile.
struct Reached {
    UniqueHandle folder;
    std::wstring path;  // resolved, in the long form, with a separator at its end

    std::wstring PathOf(const std::string& name) const { return path + Wide(LeafOf(name)); }
};

// The install folder, known by where it lies and by its identity. Every name is reached beneath
// it, its folder opened anew each time, since a folder may have been moved or replaced since it
// was last used.
class InstallRoot {
  public:
    InstallRoot(std::string path, std::wstring finalPath, const FileIdentity& identity)
        : path_(std::move(path)),
          finalPath_(std::move(finalPath)),
          depth_(DepthOf(finalPath_)),
          identity_(identity) {}

    const std::string& Path() const { return path_; }
    const std::wstring& FinalPath() const { return finalPath_; }

    // The name's folder, once it is found to lie beneath the install folder.
    Reached Reach(const std::string& name) const {
        const std::string parent = ParentOf(name);
        const std::wstring path = finalPath_ + Wide(parent);
        UniqueHandle folder = OpenFolderHandle(path, kShareAllButDelete);
        if (!folder.Valid()) Fail("cannot open the folder", parent);
        std::wstring resolved = ResolvedPath(folder.Get(), path_ + parent);
        if (!LiesBeneath(folder.Get(), resolved, path_ + parent)) ThrowOutside(path_ + parent);
        return {std::move(folder), LongPath(resolved)};
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const DWORD error = ::GetLastError();
        ThrowError(error, action, path_ + name);
    }

  private:
    // Decided by identity rather than by the path's text: where names keep their case (Wine's
    // drives, folders made case-sensitive), "Install" beside "install" is another folder. The
    // install folder is the ancestor at its own depth, if any is.
    bool LiesBeneath(HANDLE folder, std::wstring resolved, const std::string& shown) const {
        if (IdentityOf(folder, shown) == identity_) return true;
        while (DepthOf(resolved) > depth_) {
            resolved = ParentFolderOf(resolved);
            const std::string ancestor = win32::Utf8(resolved);
            // The folder of that name itself, not where a link put in its place since leads.
            const UniqueHandle opened =
                OpenFolderHandle(resolved, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
            if (!opened.Valid()) ThrowLastError("cannot open the folder", ancestor);
            if (IdentityOf(opened.Get(), ancestor) == identity_) return true;
        }
        return false;
    }

    std::string path_;        // as the user gave it, for messages
    std::wstring finalPath_;  // where it lies, every link resolved
    std::size_t depth_;
    FileIdentity identity_;
};

// A file or folder itself, never where a link leads, opened without taking anything from others.
UniqueHandle OpenItself(const std::wstring& path, DWORD access) {
    return UniqueHandle(::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
}

// While it is written, the partial file is open without sharing and its folder without delete
// sharing: nobody can rename either or put a link in their place. Once it is finished it holds
// nothing open, and the file and its folder are known again by their identity.
class WindowsStagedFile final : public StagedFile {
  public:
    WindowsStagedFile(const InstallRoot& root, UniqueHandle folder, UniqueHandle file,
                      std::string partial, std::string target)
        : root_(root),
          folder_(std::move(folder)),
          file_(std::move(file)),
          partial_(std::move(partial)),
          target_(std::move(target)),
          folderIdentity_(IdentityOf(folder_.Get(), FolderShown())),
          fileIdentity_(IdentityOf(file_.Get(), Shown())) {}
    WindowsStagedFile(const WindowsStagedFile&) = delete;
    WindowsStagedFile& operator=(const WindowsStagedFile&) = delete;

    ~WindowsStagedFile() override {
        if (committed_) return;
        try {
            const UniqueHandle file =
                file_.Valid() ? std::move(file_) : Reopen(SameFolder(), DELETE);
            FILE_DISPOSITION_INFO gone{TRUE};  // once the handle is closed
            ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &gone, sizeof gone);
        } catch (const std::exception&) {
            // Replaced, or moved away with its folder: no longer ours to remove.
        }
    }

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            DWORD put = 0;
            if (!::WriteFile(file_.Get(), bytes.data(), TransferSize(bytes.size()), &put,
                             nullptr)) {
                Fail("cannot write");
            }
            bytes = bytes.subspan(put);
        }
    }

    // On the disk before the commit begins, which no flush of the folder does on Windows.
    void Finish() override {
        if (!::FlushFileBuffers(file_.Get())) Fail("cannot write");
        if (!::CloseHandle(file_.Release())) Fail("cannot write");
        folder_.Reset();
    }

    // The rename goes by name, as only MoveFileExW writes it through; a link put in the file's
    // place after it was looked at would be moved as a link, never followed. A target open
    // without delete sharing (a running program) makes it fail.
    void Commit() override {
        const Reached folder = SameFolder();
        const std::wstring partial = folder.PathOf(partial_), target = folder.PathOf(target_);
        KeepHiddenOrSystem(Reopen(folder, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES), target);
        if (!::MoveFileExW(partial.c_str(), target.c_str(), kReplace)) {
            root_.Fail("cannot replace", target_);
        }
        committed_ = true;
    }

  private:
    std::string Shown() const { return root_.Path() + partial_; }
    std::string FolderShown() const { return root_.Path() + ParentOf(partial_); }

    [[noreturn]] void Fail(const char* action) const { root_.Fail(action, partial_); }

    // The folder the file was written in, reached again beneath the install folder: when it was
    // moved, it no longer lies there, or another folder has its name.
    Reached SameFolder() const {
        try {
            Reached folder = root_.Reach(partial_);
            if (IdentityOf(folder.folder.Get(), FolderShown()) == folderIdentity_) return folder;
        } catch (const std::system_error&) {
            // Gone from its place: the same verdict.
        }
        ThrowOutside(FolderShown());
    }

    // The file written, opened again by its name: fails unless the name still leads to it.
    UniqueHandle Reopen(const Reached& folder, DWORD access) const {
        UniqueHandle file = OpenItself(folder.PathOf(partial_), access);
        if (!file.Valid() && !IsMissing(::GetLastError())) Fail("cannot open");
        if (!file.Valid() || IdentityOf(file.Get(), Shown()) != fileIdentity_ ||
            (AttributesOf(file.Get(), Shown()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            throw std::runtime_error("\"" + Shown() + "\" was replaced while it was written");
        }
        return file;
    }

    // Only now that the file is complete may it become hidden or a system file, as its target is.
    void KeepHiddenOrSystem(UniqueHandle file, const std::wstring& target) const {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kHiddenOrSystem) == 0) return;
        FILE_BASIC_INFO info{};  // times of 0 stay as they are
        info.FileAttributes = attributes & kHiddenOrSystem;
        if (!::SetFileInformationByHandle(file.Get(), FileBasicInfo, &info, sizeof info)) {
            Fail("cannot set the attributes of");
        }
    }

    const InstallRoot& root_;
    UniqueHandle folder_;  // while the file is written
    UniqueHandle file_;
    std::string partial_, target_;  // names beneath the install folder
    FileIdentity folderIdentity_, fileIdentity_;
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

// A product file that exists, where it lies, and the programs that hold it.
struct Candidate {
    std::string name;
    std::wstring path;
    std::vector<std::string> programs{};
};

// Windows' Restart Manager, from the system folder: it knows the programs that use a file, even
// one that only runs from it, which every program may share for deletion.
struct RestartManagerApi {
    win32::SystemLibrary library{L"rstrtmgr.dll"};
    ZELVANE_SYSTEM_FUNCTION(library, RmStartSession);
    ZELVANE_SYSTEM_FUNCTION(library, RmEndSession);
    ZELVANE_SYSTEM_FUNCTION(library, RmRegisterResources);
    ZELVANE_SYSTEM_FUNCTION(library, RmGetList);
};

const RestartManagerApi& RestartManager() {
    static const RestartManagerApi api;
    return api;
}

// One Restart Manager session, ended when destroyed.
class RestartSession {
  public:
    explicit RestartSession(const std::string& folder) : folder_(folder) {
        std::array<WCHAR, CCH_RM_SESSION_KEY + 1> key{};
        Check(RestartManager().RmStartSession(&session_, 0, key.data()));
    }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;
    ~RestartSession() { RestartManager().RmEndSession(session_); }

    // The names of the programs that use any of the files.
    std::vector<std::string> Programs(std::span<const Candidate> files) {
        std::vector<LPCWSTR> paths;
        for (const Candidate& file : files) paths.push_back(file.path.c_str());
        Check(RestartManager().RmRegisterResources(session_, static_cast<UINT>(paths.size()),
                                                   paths.data(), 0, nullptr, 0, nullptr));
        std::vector<RM_PROCESS_INFO> found;
        for (;;) {
            UINT needed = 0;
            auto count = static_cast<UINT>(found.size());
            DWORD reasons = 0;
            const DWORD error =
                RestartManager().RmGetList(session_, &needed, &count, found.data(), &reasons);
            if (error == ERROR_SUCCESS) {
                found.resize(count);
                break;
            }
            if (error != ERROR_MORE_DATA) Check(error);
            found.resize(needed);  // and asked again, as more may have started meanwhile
        }
        std::vector<std::string> programs;
        for (const RM_PROCESS_INFO& process : found) {
            programs.push_back(win32::Utf8(process.strAppName));
        }
        return programs;
    }

  private:
    void Check(DWORD error) const {
        if (error != ERROR_SUCCESS) {
            ThrowError(error, "cannot find the programs that use the files of", folder_);
        }
    }

    const std::string& folder_;
    DWORD session_ = 0;
};

// The Restart Manager asked about all the files at once, and only where it names programs, about
// each half in turn: an update of thousands of files that no program uses costs one session.
void FindHolders(std::span<Candidate> files, const std::string& folder) {
    const std::vector<std::string> programs = RestartSession(folder).Programs(files);
    if (programs.empty()) return;
    if (files.size() == 1) {
        files.front().programs = programs;
        return;
    }
    FindHolders(files.first(files.size() / 2), folder);
    FindHolders(files.subspan(files.size() / 2), folder);
}

// Looking at a file's attributes takes nothing from a program that holds it.
bool NamesOfOneFile(const std::wstring& first, const std::wstring& second,
                    const std::string& shown) {
    const UniqueHandle one = OpenItself(first, FILE_READ_ATTRIBUTES);
    const UniqueHandle other = OpenItself(second, FILE_READ_ATTRIBUTES);
    return one.Valid() && other.Valid() &&
           IdentityOf(one.Get(), shown) == IdentityOf(other.Get(), shown);
}

// Opened as a rename opens its target: a program that holds the file without delete sharing
// makes that fail. This works where the Restart Manager knows nothing (under Wine).
bool HeldWithoutDeleteSharing(const std::wstring& path) {
    const UniqueHandle file = OpenItself(path, DELETE);
    return !file.Valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

class WindowsFolder final : public Folder {
  public:
    explicit WindowsFolder(InstallRoot root) : root_(std::move(root)) {}

    // A named semaphore of one, rather than a mutex: a mutex lets the thread that holds it take it
    // again, so a second Folder of the same thread would get in, and only that thread may give it
    // back.
    bool TryLock() override {
        const std::wstring name = LockName(root_.FinalPath());
        UniqueHandle lock(::CreateSemaphoreW(nullptr, 1, 1, (L"Global\\" + name).c_str()));
        // Another user's run may have made it where this one may not open it.
        if (!lock.Valid()) {
            lock.Reset(::CreateSemaphoreW(nullptr, 1, 1, (L"Local\\" + name).c_str()));
        }
        if (!lock.Valid()) root_.Fail("cannot lock", "");
        const DWORD taken = ::WaitForSingleObject(lock.Get(), 0);
        if (taken == WAIT_TIMEOUT) return false;
        if (taken != WAIT_OBJECT_0) root_.Fail("cannot lock", "");
        lock_.Reset(lock.Release());
        return true;
    }

    bool IsOrdinaryFile(const std::string& name) override {
        const std::wstring path = root_.Reach(name).PathOf(name);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return (attributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0;
        }
        const DWORD error = ::GetLastError();
        if (IsMissing(error)) return false;
        ThrowError(error, "cannot look for", root_.Path() + name);
    }

    // A read-only product file is refused, as deleting it would be.
    std::unique_ptr<StagedFile> Stage(const std::string& partial,
                                      const std::string& target) override {
        Reached folder = root_.Reach(target);
        const DWORD attributes = ::GetFileAttributesW(folder.PathOf(target).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            // Not a lack of rights, which running as administrator would mend.
            ThrowError(ERROR_FILE_READ_ONLY, "cannot replace the read-only file",
                       root_.Path() + target);
        }
        const std::wstring path = folder.PathOf(partial);
        UniqueHandle file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file.Valid()) {
            return std::make_unique<WindowsStagedFile>(root_, std::move(folder.folder),
                                                       std::move(file), partial, target);
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return nullptr;
        ThrowError(error, "cannot create", root_.Path() + partial);
    }

    bool KeepAs(const std::string& name, const std::string& backup) override {
        const Reached folder = root_.Reach(name);
        const std::wstring path = folder.PathOf(name), backupPath = folder.PathOf(backup);
        Delete(backupPath, backup);
        if (::CreateHardLinkW(backupPath.c_str(), path.c_str(), nullptr)) return true;
        const DWORD error = ::GetLastError();
        if (IsMissing(error)) return false;
        if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
            ThrowError(error, "cannot keep a copy of", root_.Path() + name);
        }
        CopyToDisk(path, backupPath, name);
        return true;
    }

    // Two names of one file stay as they are, as POSIX renames them: an old file whose new one
    // never took its place is where it was, even while a program holds it.
    void Rename(const std::string& from, const std::string& to) override {
        const Reached folder = root_.Reach(to);
        const std::wstring fromPath = folder.PathOf(from), toPath = folder.PathOf(to);
        if (NamesOfOneFile(fromPath, toPath, to) ||
            ::MoveFileExW(fromPath.c_str(), toPath.c_str(), kReplace) ||
            IsMissing(::GetLastError())) {
            return;
        }
        root_.Fail("cannot replace", to);
    }

    bool Exists(const std::string& name) override {
        const std::wstring path = root_.Reach(name).PathOf(name);
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        const DWORD error = ::GetLastError();
        if (IsMissing(error)) return false;
        ThrowError(error, "cannot look for", root_.Path() + name);
    }

    void Remove(const std::string& name) override {
        const Reached folder = root_.Reach(name);
        Delete(folder.PathOf(name), name);
    }

    // Nothing is left to do here. Each staged file was flushed when finished, and every rename
    // is written through, which on NTFS forces its journal, and with it every change before it
    // (a hard link made, a file removed), onto the disk; where there is no journal, a backup is
    // a copy flushed at once.
    void Flush() override {}

    std::uint64_t FreeSpace() override {
        ULARGE_INTEGER available{};
        if (!::GetDiskFreeSpaceExW(LongPath(root_.FinalPath()).c_str(), &available, nullptr,
                                   nullptr)) {
            root_.Fail("cannot tell the free space of", "");
        }
        return available.QuadPart;
    }

    // A name that cannot be reached, or whose file cannot be opened for another reason, is left
    // to the copy, which tells why.
    std::vector<FileInUse> FilesInUse(const std::vector<std::string>& names) override {
        std::vector<Candidate> present;
        for (const auto& name : names) {
            std::wstring path;
            try {
                path = root_.Reach(name).PathOf(name);
            } catch (const std::exception&) {
                continue;
            }
            if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
                present.push_back({name, std::move(path)});
            }
        }
        if (!present.empty()) FindHolders(present, root_.Path());
        std::vector<FileInUse> inUse;
        for (Candidate& file : present) {
            if (!file.programs.empty() || HeldWithoutDeleteSharing(file.path)) {
                inUse.push_back({std::move(file.name), std::move(file.programs)});
            }
        }
        return inUse;
    }

  private:
    // FAT32 and exFAT have no hard links: there a backup costs a copy, put on the disk at once,
    // as without a journal no later write-through rename takes it along.
    void CopyToDisk(const std::wstring& from, const std::wstring& to,
                    const std::string& name) const {
        if (!::CopyFileW(from.c_str(), to.c_str(), TRUE)) root_.Fail("cannot keep a copy of", name);
        const UniqueHandle copy(::CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        if (!copy.Valid() || !::FlushFileBuffers(copy.Get())) {
            root_.Fail("cannot keep a copy of", name);
        }
    }

    // Removes the file or link at this path, whatever its attributes.
    void Delete(const std::wstring& path, const std::string& name) const {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (IsMissing(::GetLastError())) return;
            root_.Fail("cannot delete", name);
        }
        // Only read-only keeps a file from going. Attributes belong to the file, not the name:
        // another name of it (a backup's old file) keeps its hidden and system attributes.
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            root_.Fail("cannot delete", name);
        }
        // A link to a folder goes as a folder does; the folder it leads to stays.
        const BOOL removed = (attributes & kFolderLink) == kFolderLink
                                 ? ::RemoveDirectoryW(path.c_str())
                                 : ::DeleteFileW(path.c_str());
        if (removed) return;
        const DWORD error = ::GetLastError();
        if (IsMissing(error)) return;
        // A program started from the file keeps it until the program ends: it goes at the next
        // restart, which only an administrator may ask for.
        if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            return;
        }
        ThrowError(error, "cannot delete", root_.Path() + name);
    }

    InstallRoot root_;
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
        return std::make_unique<WindowsFolder>(
            InstallRoot(path.ends_with('\\') ? path : path + '\\', ResolvedPath(folder.Get(), path),
                        IdentityOf(folder.Get(), path)));
    }

    // Opened with backup semantics, a folder opens too, and is refused like a device or a pipe.
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        const std::wstring wide = LongPath(Wide(path));
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

    std::uint64_t OrdinaryFileSize(const std::string& path) override {
        return OpenForReading(path)->Length();
    }

    std::unique_ptr<ReadableFile> OpenIfPresent(const std::string& path) override {
        if (::GetFileAttributesW(LongPath(Wide(path)).c_str()) == INVALID_FILE_ATTRIBUTES &&
            (::GetLastError() == ERROR_FILE_NOT_FOUND ||
             ::GetLastError() == ERROR_PATH_NOT_FOUND)) {
            return nullptr;
        }
        return OpenForReading(path);
    }

    // The current folder keeps the ordinary spelling: in the long form, every path made from it,
    // and shown, would carry the prefix.
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
