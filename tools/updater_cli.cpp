// zelvane-updater-cli: the update without a window, for scripts and tests.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "zelvane/engine/update.h"

namespace {

constexpr int kExitInstalled = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitIncomplete = 2;
constexpr int kExitFailed = 3;
constexpr int kExitUsage = 64;

constexpr const char* kUsage = "usage: zelvane-updater-cli [--silent] INSTALL_FOLDER";

// The window side on a terminal: messages on standard output, progress on standard error.
class ConsoleWindow final : public zelvane::WindowSide {
  public:
    ConsoleWindow(std::string path, bool silent)
        : path_(std::move(path)), silent_(silent), showProgress_(::isatty(STDERR_FILENO) == 1) {}

    std::string PathText() override { return path_; }
    int SilentFlag() override { return silent_ ? 1 : 0; }
    void SetProgressMax(float maximum) override { maximum_ = maximum; }
    void SetProgressValue(float value) override {
        value_ = value;
        if (showProgress_) {
            std::fprintf(stderr, "\rInstalling: %.0f of %.0f", value_, maximum_);
            std::fflush(stderr);
        }
    }
    float ProgressValue() override { return value_; }
    int PointerShape() override { return pointer_; }
    void SetPointerShape(int shape) override { pointer_ = shape; }
    void ShowMessage(const std::string& text, int, const std::string&) override {
        if (showProgress_ && maximum_ > 0) std::fputc('\n', stderr);
        std::cout << text << std::endl;
    }
    void CloseWindow() override {}

  private:
    std::string path_;
    bool silent_;
    bool showProgress_;
    float maximum_ = 0;
    float value_ = 0;
    int pointer_ = zelvane::kPointerDefault;
};

void PrintHelp() {
    std::cout
        << kUsage << "\n\n"
        << "Updates the Zelvane install in INSTALL_FOLDER to version 3.7 from the package in\n"
           "the current folder (FileList.txt and the package files it names).\n\n"
           "  --silent  register the control without the registration tool's messages\n"
           "  --help    show this text\n\n"
           "Exit status: 0 installed, 1 no install of version 3.0 or later in the folder,\n"
           "2 finished with failures, 3 stopped by a failure, 64 bad arguments.\n";
}

int ExitStatus(zelvane::UpdateOutcome outcome) {
    switch (outcome) {
        case zelvane::UpdateOutcome::Installed:
            return kExitInstalled;
        case zelvane::UpdateOutcome::NotFound:
            return kExitNotFound;
        case zelvane::UpdateOutcome::Incomplete:
            return kExitIncomplete;
        case zelvane::UpdateOutcome::NotStarted:
        case zelvane::UpdateOutcome::Stopped:
            return kExitFailed;
    }
    return kExitFailed;
}

int Main(int argc, char** argv) {
    bool silent = false;
    std::string folder;
    bool haveFolder = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            PrintHelp();
            return kExitInstalled;
        }
        if (argument == "--silent") {
            silent = true;
        } else if (!haveFolder && !argument.starts_with("--")) {
            folder = argument;
            haveFolder = true;
        } else {
            std::cerr << kUsage << "\n";
            return kExitUsage;
        }
    }
    if (!haveFolder) {
        std::cerr << kUsage << "\n";
        return kExitUsage;
    }
    ConsoleWindow window(folder, silent);
    return ExitStatus(
        zelvane::RunUpdate({window, zelvane::SystemFileSystem(), zelvane::SystemProcesses()}));
}

}  // namespace

// Whatever fails ends as a message and an exit status, never as an uncaught exception.
int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& error) {
        std::cout << zelvane::kStoppedPrefix << error.what() << std::endl;
    } catch (...) {
        std::cout << zelvane::kStoppedPrefix << "an unknown failure" << std::endl;
    }
    return kExitFailed;
}
