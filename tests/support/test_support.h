#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zelvane/engine/window_side.h"

namespace zelvane::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempFolder {
  public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const fs::path& Path() const { return path_; }
    fs::path operator/(const fs::path& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Sets an environment variable for the life of the object (Windows only).
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value);
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv();

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Makes a folder current for the life of the object.
class ScopedCurrentFolder {
  public:
    explicit ScopedCurrentFolder(const fs::path& folder);
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
    ~ScopedCurrentFolder();

  private:
    fs::path old_;
};

// A path as the engine takes it: UTF-8 on every platform.
std::string PathText(const fs::path& path);

void WriteFile(const fs::path& path, std::string_view content);
std::string ReadFile(const fs::path& path);
// Exclusive-or with 0x5A, written here independently of the updater's own code.
std::string Scramble(std::string_view content);

// Every file, folder and link under root, with its permissions and, for a file, its content.
std::map<std::string, std::string> Snapshot(const fs::path& root);

// Writes the nine marker files and the control file into folder, and copies the recording program
// in as UnpackDirs.exe and ViewHost.exe.
void MakeInstall(const fs::path& folder);

// One run of the recording program.
struct Record {
    std::string program;
    std::string currentFolder;
    std::vector<std::string> arguments;
};
std::vector<Record> ReadRecords(const fs::path& log);

struct Message {
    std::string text;
    MessageKind kind = MessageKind::Ok;
    std::string title{};
    PointerShape pointerWhileShown = PointerShape::Default;
    std::string details{};
    friend bool operator==(const Message&, const Message&) = default;
};

// The window side, recording every call in order.
class RecordingWindow : public WindowSide {
  public:
    explicit RecordingWindow(std::string path, bool silent = false)
        : path_(std::move(path)), silent_(silent) {}

    std::string PathText() override { return path_; }
    bool SilentMode() override { return silent_; }
    void SetProgressMax(float maximum) override { maxima.push_back(maximum); }
    void SetProgressValue(float value) override {
        onProgress(value);
        values.push_back(value);
    }
    float ProgressValue() override { return values.empty() ? 0 : values.back(); }
    PointerShape Pointer() override { return pointer; }
    void SetPointer(PointerShape shape) override {
        pointer = shape;
        pointers.push_back(shape);
    }
    void ShowMessage(const std::string& text, MessageKind kind, const std::string& title) override {
        messages.push_back({text, kind, title, pointer, {}});
    }
    void TellFailure(const std::string& line) override { failures.push_back(line); }
    void ShowFailures(const FailureReport& report) override {
        messages.push_back({report.text, MessageKind::Ok, "", pointer, report.details});
    }
    void CloseWindow() override { closed = true; }

    std::function<void(float)> onProgress = [](float) {};  // may throw, as a failing window does
    std::vector<float> maxima;
    std::vector<float> values;
    std::vector<PointerShape> pointers;
    std::vector<Message> messages;
    std::vector<std::string> failures;
    PointerShape pointer = PointerShape::Default;
    bool closed = false;

  private:
    std::string path_;
    bool silent_;
};

}  // namespace zelvane::test
