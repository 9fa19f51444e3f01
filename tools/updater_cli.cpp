// zelvane-updater-cli: the update without a window, for scripts and tests.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zelvane/engine/package_list.h"
#include "zelvane/engine/update.h"

namespace {

constexpr int kExitInstalled = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitIncomplete = 2;
constexpr int kExitFailed = 3;
constexpr int kExitFilesInUse = 4;
constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "usage: zelvane-updater-cli [--silent] [--keep-going] [--public-key PUBLIC_KEY_FILE] "
    "INSTALL_FOLDER";

// The window side on a terminal: messages and every failure, as it happens, on standard output;
// progress on standard error.
class ConsoleWindow final : public zelvane::WindowSide {
  public:
    ConsoleWindow(std::string path, bool silent)
        : path_(std::move(path)), silent_(silent), showProgress_(::isatty(STDERR_FILENO) == 1) {}

    std::string PathText() override { return path_; }
    bool SilentMode() override { return silent_; }
    void SetProgressMax(float maximum) override { maximum_ = maximum; }
    void SetProgressValue(float value) override {
        value_ = value;
        if (showProgress_) {
            std::fprintf(stderr, "\rInstalling: %.0f of %.0f", value_, maximum_);
            std::fflush(stderr);
        }
    }
    float ProgressValue() override { return value_; }
    zelvane::PointerShape Pointer() override { return pointer_; }
    void SetPointer(zelvane::PointerShape shape) override { pointer_ = shape; }
    void ShowMessage(const std::string& text, zelvane::MessageKind, const std::string&) override {
        EndProgressLine();
        std::cout << text << std::endl;
    }
    void TellFailure(const std::string& line) override {
        EndProgressLine();
        std::cout << line << std::endl;
    }
    // Every failure has been printed already.
    void ShowFailures(const zelvane::FailureReport& report) override {
        ShowMessage(report.summary, zelvane::MessageKind::Ok, "");
    }
    void CloseWindow() override {}

  private:
    void EndProgressLine() {
        if (showProgress_ && maximum_ > 0) std::fputc('\n', stderr);
    }

    std::string path_;
    bool silent_;
    bool showProgress_;
    float maximum_ = 0;
    float value_ = 0;
    zelvane::PointerShape pointer_ = zelvane::PointerShape::Default;
};

void PrintHelp() {
    std::cout
        << kUsage << "\n\n"
        << "Updates the Zelvane install in INSTALL_FOLDER to version 3.7 from the package in\n"
           "the current folder (FileList.txt and the package files it names).\n\n"
           "  --silent                      register the control without the registration\n"
           "                                tool's messages\n"
           "  --keep-going                  put each file in place as soon as it is copied and\n"
           "                                go on after a file that fails, as updates did\n"
           "                                before they were all or nothing\n"
           "  --public-key PUBLIC_KEY_FILE  install only a package whose Package.manifest is\n"
           "                                signed with this key's private key\n"
           "  --help                        show this text\n\n"
           "Exit status: 0 installed, 1 no install of version 3.0 or later in the folder,\n"
           "2 finished with failures (each is listed) or stopped after writing, 3 nothing was\n"
           "changed (for example a missing or damaged FileList.txt or package file, a full\n"
           "disk, or another update of the folder running), 4 nothing was changed because\n"
           "programs hold product files (try again once they are closed), 64 bad arguments.\n";
}

int ExitStatus(zelvane::UpdateOutcome outcome) {
    switch (outcome) {
        case zelvane::UpdateOutcome::Installed:
            return kExitInstalled;
        case zelvane::UpdateOutcome::NotFound:
            return kExitNotFound;
        case zelvane::UpdateOutcome::Incomplete:
        case zelvane::UpdateOutcome::StoppedPartway:
            return kExitIncomplete;
        case zelvane::UpdateOutcome::NotStarted:
        case zelvane::UpdateOutcome::Stopped:
            return kExitFailed;
        case zelvane::UpdateOutcome::FilesInUse:
            return kExitFilesInUse;
    }
    return kExitFailed;
}

struct Arguments {
    bool silent = false;
    zelvane::FailurePolicy policy = zelvane::FailurePolicy::AllOrNothing;
    std::optional<std::string> folder;
    std::vector<std::string> vendorKeys = zelvane::BuiltInVendorKeys();
};

std::string ReadKey(const std::string& path) {
    return zelvane::ReadSmallFile(*zelvane::SystemFileSystem().OpenForReading(path), path);
}

// Nothing when the arguments are not understood.
std::optional<Arguments> ParseArguments(const std::vector<std::string_view>& words) {
    Arguments arguments;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--silent") {
            arguments.silent = true;
        } else if (words[i] == "--keep-going") {
            arguments.policy = zelvane::FailurePolicy::KeepGoing;
        } else if (words[i] == "--public-key" && i + 1 < words.size()) {
            arguments.vendorKeys.push_back(ReadKey(std::string(words[++i])));
        } else if (!arguments.folder && !words[i].starts_with("--")) {
            arguments.folder = words[i];
        } else {
            return std::nullopt;
        }
    }
    if (!arguments.folder) return std::nullopt;
    return arguments;
}

int Main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    if (std::find(words.begin(), words.end(), "--help") != words.end()) {
        PrintHelp();
        return kExitInstalled;
    }
    const std::optional<Arguments> arguments = ParseArguments(words);
    if (!arguments) {
        std::cerr << kUsage << "\n";
        return kExitUsage;
    }
    ConsoleWindow window(*arguments->folder, arguments->silent);
    return ExitStatus(zelvane::RunUpdate(
        {window, zelvane::SystemFileSystem(), zelvane::SystemProcesses(), arguments->vendorKeys,
         arguments->policy}));
}

}  // namespace

// Called by this platform's entry point with the arguments in UTF-8. Whatever fails ends as a
// message and an exit status, never as an uncaught exception.
int UpdaterCliMain(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& error) {
        std::cout << zelvane::kStoppedPrefix << error.what() << std::endl;
    } catch (...) {
        std::cout << zelvane::kStoppedPrefix << zelvane::kUnknownFailure << std::endl;
    }
    return kExitFailed;
}
