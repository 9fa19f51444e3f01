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

#include "texts.h"
#include "zelvane/engine/package_check.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"
#include "zelvane/engine/update.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/session.h"

namespace {

namespace text = zelvane::tools::text;

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
            std::fprintf(stderr, text::kInstallingFormat, value_, maximum_);
            std::fflush(stderr);
            progressShown_ = true;
        }
    }
    float ProgressValue() override { return value_; }
    zelvane::PointerShape Pointer() override { return pointer_; }
    void SetPointer(zelvane::PointerShape shape) override { pointer_ = shape; }
    void ShowMessage(const std::string& message, zelvane::MessageKind,
                     const std::string&) override {
        EndProgressLine();
        std::cout << message << std::endl;
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
    // A message starts on a line of its own, never after the progress.
    void EndProgressLine() {
        if (progressShown_) std::fputc('\n', stderr);
        progressShown_ = false;
    }

    std::string path_;
    bool silent_;
    bool showProgress_;
    bool progressShown_ = false;
    float maximum_ = 0;
    float value_ = 0;
    zelvane::PointerShape pointer_ = zelvane::PointerShape::Default;
};

void PrintHelp() { std::cout << text::kCliUsage << "\n\n" << text::kCliHelp; }

struct Arguments {
    bool silent = false;
    zelvane::FailurePolicy policy = zelvane::FailurePolicy::AllOrNothing;
    std::optional<std::string> folder;
    std::optional<std::string> packageFolder;
    std::optional<std::string> logFile;
    std::vector<std::string> vendorKeys = zelvane::BuiltInVendorKeys();
};

// What the command line asks for, or why it cannot be understood.
struct Request {
    enum class Kind { Update, Help, Version, Misunderstood } kind = Kind::Update;
    Arguments arguments{};
    std::string problem{};
};

// The key in the file, checked now: one that cannot be used is a bad argument, not a bad package.
std::string ReadKey(const std::string& path) {
    std::string key =
        zelvane::ReadSmallFile(*zelvane::SystemFileSystem().OpenForReading(path), path);
    zelvane::CheckVendorKey(key);
    return key;
}

// An option's value, or nothing when the option is the last word.
std::optional<std::string> ValueOf(const std::vector<std::string_view>& words, std::size_t& i) {
    if (i + 1 >= words.size()) return std::nullopt;
    return std::string(words[++i]);
}

bool IsOption(std::string_view word, bool optionsEnded) {
    if (optionsEnded || word.size() < 2) return false;
    // Windows programs take options after a slash; a path there never starts with one.
    return word.starts_with('-') || (zelvane::SystemFileSystem().Separator() == '\\' &&
                                     word.starts_with('/'));
}

Request ParseArguments(const std::vector<std::string_view>& words) {
    Request request;
    Arguments& arguments = request.arguments;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        std::optional<std::string> value;
        if (!optionsEnded && (word == "-h" || word == "--help" || word == "/?")) {
            return {Request::Kind::Help};
        } else if (!IsOption(word, optionsEnded)) {
            if (arguments.folder) {
                return {Request::Kind::Misunderstood, {}, text::kMoreThanOneFolder};
            }
            arguments.folder = word;
        } else if (word == "--version") {
            return {Request::Kind::Version};
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--silent") {
            arguments.silent = true;
        } else if (word == "--keep-going") {
            arguments.policy = zelvane::FailurePolicy::KeepGoing;
        } else if (word == "--public-key" && (value = ValueOf(words, i))) {
            try {
                arguments.vendorKeys.push_back(ReadKey(*value));
            } catch (const std::exception& error) {
                return {Request::Kind::Misunderstood, {},
                        text::PublicKeyUnusableMessage(*value, error.what())};
            }
        } else if (word == "--package" && (value = ValueOf(words, i))) {
            arguments.packageFolder = std::move(value);
        } else if (word == "--log" && (value = ValueOf(words, i))) {
            arguments.logFile = std::move(value);
        } else {
            return {Request::Kind::Misunderstood, {}, text::UnknownOptionProblem(word)};
        }
    }
    if (!arguments.folder) return {Request::Kind::Misunderstood, {}, text::kNoInstallFolder};
    return request;
}

int Main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    const Request request = ParseArguments(words);
    switch (request.kind) {
        case Request::Kind::Help:
            PrintHelp();
            return zelvane::kExitInstalled;
        case Request::Kind::Version:
            std::cout << text::CliVersionMessage(zelvane::kUpdaterVersion, zelvane::kProductVersion)
                      << "\n";
            return zelvane::kExitInstalled;
        case Request::Kind::Misunderstood:
            std::cerr << text::kCliProblemPrefix << zelvane::Visible(request.problem) << "\n"
                      << text::kCliUsage << "\n";
            return zelvane::kExitUsage;
        case Request::Kind::Update:
            break;
    }
    const Arguments& arguments = request.arguments;
    zelvane::FileSystem& files = zelvane::SystemFileSystem();
    zelvane::FileUpdateLog log(arguments.logFile.value_or(zelvane::DefaultLogPath()));
    const zelvane::Session session = zelvane::CurrentSession();
    zelvane::WriteHeader(log, {"zelvane-updater-cli", {words.begin(), words.end()},
                               *arguments.folder,
                               arguments.packageFolder.value_or(files.CurrentDirectory()), session.user,
                               session.elevated});
    if (arguments.packageFolder) files.ChangeDirectory(*arguments.packageFolder);
    ConsoleWindow window(*arguments.folder, arguments.silent);
    const int status = zelvane::ExitStatusOf(zelvane::RunUpdate(
        {window, files, zelvane::SystemProcesses(), arguments.vendorKeys, arguments.policy, &log}));
    if (!log.Problem().empty()) std::cout << zelvane::Visible(log.Problem()) << std::endl;
    return status;
}

}  // namespace

// Called by this platform's entry point with the arguments in UTF-8. Whatever fails ends as a
// message and an exit status, never as an uncaught exception.
int ToolMain(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& error) {
        std::cout << zelvane::kStoppedPrefix << zelvane::Visible(error.what()) << std::endl;
    } catch (...) {
        std::cout << zelvane::kStoppedPrefix << zelvane::kUnknownFailure << std::endl;
    }
    return zelvane::kExitNothingChanged;
}
