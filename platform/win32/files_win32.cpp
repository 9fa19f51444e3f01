#include <algorithm>
#include <limits>
#include <vector>

#include "zelvane/platform/files.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

using win32::ThrowLastError;
using win32::UniqueHandle;
using win32::Wide;

constexpr DWORD kLargestTransfer = 1u << 30;

DWORD TransferSize(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, kLargestTransfer));
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
std::wstring FilledBuffer(Fill fill, const std::string& action, const std::string& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = fill(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) ThrowLastError(action, path);
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
}

class WindowsFileSystem final : public FileSystem {
  public:
    char Separator() const override { return '\\'; }

    std::string NativePath(std::string_view path) const override {
        std::string native(path);
        std::replace(native.begin(), native.end(), '/', '\\');
        return native;
    }

    bool IsOrdinaryFile(const std::string& path) override {
        const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                error == ERROR_INVALID_NAME) {
                return false;
            }
            ThrowLastError("cannot look for", path);
        }
        return (attributes &
                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
    }

    void DeleteFile(const std::string& path) override {
        if (!::DeleteFileW(Wide(path).c_str())) ThrowLastError("cannot delete", path);
    }

    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        UniqueHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) ThrowLastError("cannot open", path);
        return std::make_unique<WindowsReadableFile>(std::move(file), path);
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        UniqueHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) ThrowLastError("cannot create", path);
        return std::make_unique<WindowsWritableFile>(std::move(file), path);
    }

    // A read-only product file is refused, as deleting it would be. Any other existing file,
    // hidden and system ones included, takes the new content in one rename and keeps its
    // attributes; a file open without delete sharing (a running program) makes the rename fail.
    void Replace(const std::string& from, const std::string& to) override {
        const std::wstring target = Wide(to);
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            ThrowLastError("cannot replace the read-only file", to);
        }
        const DWORD keep = attributes == INVALID_FILE_ATTRIBUTES
                               ? 0
                               : attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        const std::wstring source = Wide(from);
        if (keep != 0 && !::SetFileAttributesW(source.c_str(), keep)) {
            ThrowLastError("cannot set the attributes of", from);
        }
        if (!::MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ThrowLastError("cannot replace", to);
        }
    }

    void ChangeDirectory(const std::string& path) override {
        if (!::SetCurrentDirectoryW(Wide(path).c_str())) {
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
