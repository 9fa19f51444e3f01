#include <algorithm>
#include <cstdint>
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

class WindowsWritableFile final : public WritableFile {
  public:
    WindowsWritableFile(UniqueHandle file, std::string path)
        : file_(std::move(file)), path_(std::move(path)) {}

    void Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            DWORD put = 0;
            if (!::WriteFile(file_.Get(), bytes.data(), TransferSize(bytes.size()), &put,
                             nullptr)) {
                ThrowLastError("cannot write", path_);
            }
            bytes = bytes.subspan(put);
        }
    }

    void Finish() override {
        if (!::FlushFileBuffers(file_.Get())) ThrowLastError("cannot write", path_);
        if (!::CloseHandle(file_.Release())) ThrowLastError("cannot close", path_);
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

// Windows compares file names without regard to case; so do the checks here.
std::wstring Upper(const std::wstring& text) {
    std::wstring upper(text.size(), L'\0');
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                    static_cast<int>(text.size()), upper.data(), static_cast<int>(upper.size()),
                    nullptr, nullptr, 0);
    return upper;
}

// Opens a folder, following every link on the way, to look at it only.
UniqueHandle OpenFolderHandle(const std::wstring& path, DWORD share) {
    return UniqueHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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

// Given back when the folder is closed. A run that is killed holds it no longer either: the system
// closes its handle, and the semaphore goes with the last one.
void GiveBack(HANDLE lock) {
    ::ReleaseSemaphore(lock, 1, nullptr);
    ::CloseHandle(lock);
}
using HeldLock = UniqueResource<NullableTraits<HANDLE, &GiveBack>>;

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
    WindowsFolder(std::string path, std::wstring finalPath)
        : path_(std::move(path)), finalPath_(std::move(finalPath)), upperPath_(Upper(finalPath_)) {}

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
        const std::wstring path = PathOf(name);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return (attributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0;
        }
        if (IsMissing(::GetLastError())) return false;
        Fail("cannot look for", name);
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
        const std::wstring path = PathOf(name);
        UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
        if (file.Valid()) {
            return std::make_unique<WindowsWritableFile>(std::move(file), path_ + name);
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return nullptr;
        ThrowError(error, "cannot create", path_ + name);
    }

    void Remove(const std::string& name) override {
        const std::wstring path = PathOf(name);
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

    // A read-only product file is refused, as deleting it would be. Any other existing file,
    // hidden and system ones included, takes the new content in one rename and keeps its
    // attributes; a file open without delete sharing (a running program) makes the rename fail.
    void Replace(const std::string& from, const std::string& to) override {
        const std::wstring target = PathOf(to);
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ThrowError(ERROR_ACCESS_DENIED, "cannot replace the read-only file", path_ + to);
        }
        const DWORD keep = exists ? attributes & kHiddenOrSystem : 0;
        const std::wstring source = PathOf(from);
        // Only now that the new file is complete may it become hidden or a system file.
        if (keep != 0 && !::SetFileAttributesW(source.c_str(), keep)) {
            Fail("cannot set the attributes of", from);
        }
        if (!::MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            Fail("cannot replace", to);
        }
    }

  private:
    // The name's path in its folder, once that folder is found to lie beneath the install folder.
    std::wstring PathOf(const std::string& name) {
        const auto slash = name.rfind('\\');
        const std::string parent = slash == std::string::npos ? "" : name.substr(0, slash);
        // Entries of one folder follow each other in a package: keep the last folder open.
        if (parent != heldName_ || !held_.Valid()) Hold(parent);
        return heldPath_ + Wide(slash == std::string::npos ? name : name.substr(slash + 1));
    }

    // Opens the folder without delete sharing, so that nobody can rename it or put a link in its
    // place while names in it are created and replaced.
    void Hold(const std::string& parent) {
        held_.Reset();
        const std::wstring path = finalPath_ + Wide(parent);
        UniqueHandle folder = OpenFolderHandle(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (!folder.Valid()) Fail("cannot open the folder", parent);
        std::wstring resolved = FinalPath(folder.Get(), path_ + parent);
        if (!Upper(resolved).starts_with(upperPath_)) {
            throw std::runtime_error("the folder \"" + path_ + parent +
                                     "\" leads outside the install folder");
        }
        held_ = std::move(folder);
        heldName_ = parent;
        heldPath_ = std::move(resolved);
    }

    [[noreturn]] void Fail(const char* action, const std::string& name) const {
        const DWORD error = ::GetLastError();
        ThrowError(error, action, path_ + name);
    }

    std::string path_;        // as the user gave it, for messages
    std::wstring finalPath_;  // where it lies, every link resolved
    std::wstring upperPath_;
    HeldLock lock_;
    std::string heldName_;
    std::wstring heldPath_;
    UniqueHandle held_;
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
        const UniqueHandle folder =
            OpenFolderHandle(wide, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (!folder.Valid()) {
            if (IsMissing(::GetLastError())) return nullptr;
            ThrowLastError("cannot open", path);
        }
        if ((AttributesOf(folder.Get(), path) & FILE_ATTRIBUTE_DIRECTORY) == 0) return nullptr;
        return std::make_unique<WindowsFolder>(path.ends_with('\\') ? path : path + '\\',
                                               FinalPath(folder.Get(), path));
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
