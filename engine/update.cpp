#include "zelvane/engine/update.h"

#include <stdexcept>
#include <vector>

#include "zelvane/engine/copy.h"
#include "zelvane/engine/launch.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

// The final report names at most this many failures.
constexpr std::size_t kMaxReportedFailures = 20;

// Something failed before any file was written: the update stops and the window stays.
class NotStarted : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Shows the busy pointer for as long as it lives, unless put back earlier.
class BusyPointer {
  public:
    explicit BusyPointer(WindowSide& window)
        : window_(window), savedPointer_(window.PointerShape()) {
        window_.SetPointerShape(kPointerHourglass);
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
    ~BusyPointer() {
        try {
            Restore();
        } catch (...) {
            // Already leaving because of a failure, which is the one worth reporting.
        }
    }

    void Restore() {
        if (restored_) return;
        window_.SetPointerShape(savedPointer_);
        restored_ = true;
    }

  private:
    WindowSide& window_;
    int savedPointer_;
    bool restored_ = false;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

class UpdateRun {
  public:
    explicit UpdateRun(const UpdateContext& context)
        : window_(context.window),
          files_(context.files),
          processes_(context.processes),
          folder_(InstallFolder(files_, window_.PathText())) {}

    UpdateOutcome Run() {
        if (!InstallFound()) {
            window_.ShowMessage(kNotFoundMessage, kMessageOk, "");
            return UpdateOutcome::NotFound;
        }
        BusyPointer pointer(window_);
        std::int64_t lastIndex = 0;
        PackageListReader list = OpenPackageList(lastIndex);
        window_.SetProgressValue(0.0f);
        window_.SetProgressMax(static_cast<float>(lastIndex + 1));
        CopyEntries(list, lastIndex);
        Register();
        window_.SetProgressValue(window_.ProgressValue() + 1.0f);
        RunPostInstallPrograms();
        pointer.Restore();
        window_.ShowMessage(FinalReport(lastIndex + 1), kMessageOk, "");
        window_.CloseWindow();
        return failures_.empty() ? UpdateOutcome::Installed : UpdateOutcome::Incomplete;
    }

  private:
    bool InstallFound() {
        for (const char* marker : kMarkerFiles) {
            try {
                if (!files_.IsOrdinaryFile(folder_ + marker)) return false;
            } catch (const std::exception& error) {
                throw NotStarted("The folder " + Quoted(folder_) +
                                 " could not be checked for an install: " + error.what());
            }
        }
        return true;
    }

    PackageListReader OpenPackageList(std::int64_t& lastIndex) {
        const std::string where = std::string("The package list ") + kPackageListName +
                                  " in the folder " + Quoted(CurrentFolderForMessages());
        try {
            PackageListReader list(ReadPackageListText(files_, kPackageListName));
            lastIndex = ReadLastIndex(list);
            return list;
        } catch (const std::exception& error) {
            throw NotStarted(where + " cannot be used: " + error.what() + ".");
        }
    }

    std::string CurrentFolderForMessages() {
        try {
            return files_.CurrentDirectory();
        } catch (const std::exception&) {
            return ".";
        }
    }

    void CopyEntries(PackageListReader& list, std::int64_t lastIndex) {
        for (std::int64_t index = 0; index <= lastIndex; ++index) {
            std::string destName;
            try {
                destName = list.ReadText();
                const std::string sourceName = list.ReadText();
                CopyEncryptedFile(files_, files_.NativePath(sourceName),
                                  DestinationPath(files_, folder_, destName));
                window_.SetProgressValue(static_cast<float>(index));
                ++copied_;
            } catch (const PackageListEnded& error) {
                FailEntriesFrom(index, lastIndex, destName, error.what());
                return;
            } catch (const std::exception& error) {
                failures_.push_back(kCopyFailurePrefix + destName + ": " + error.what());
            }
        }
    }

    // The list ended early: this entry and all after it fail alike, without reading further.
    void FailEntriesFrom(std::int64_t index, std::int64_t lastIndex, const std::string& destName,
                         const std::string& reason) {
        if (!destName.empty()) {
            failures_.push_back(kCopyFailurePrefix + destName + ": " + reason);
            ++index;
        }
        if (index > lastIndex) return;
        failures_.push_back(std::string(kCopyFailurePrefix) + "for entries " +
                            std::to_string(index) + " to " + std::to_string(lastIndex) +
                            ": the package list ends before them");
    }

    void Register() {
        const std::string command =
            RegistrationCommandLine(folder_ + kControlFile, window_.SilentFlag() == 1);
        try {
            ProgramLaunch launch = SplitCommandLine(command);
            launch.style = WindowStyle::MinimizedWithFocus;
            WaitOnProgram(processes_, processes_.Start(launch));
        } catch (const std::exception& error) {
            failures_.push_back(std::string("Cannot register ") + kControlFile + ": " +
                                error.what());
        }
    }

    void RunPostInstallPrograms() {
        std::string programFolder;
        try {
            programFolder = files_.AbsolutePath(folder_);
            files_.ChangeDirectory(folder_);
        } catch (const std::exception& error) {
            failures_.push_back(std::string("Cannot run ") + kFirstProgram + " and " +
                                kSecondProgram + ": " + error.what());
            return;
        }
        RunProgram(programFolder + kFirstProgram, WindowStyle::MinimizedWithFocus, 1);
        RunProgram(programFolder + kSecondProgram, WindowStyle::NormalWithoutFocus, 2);
    }

    // Starts the program by its full path, with no arguments, and waits for it.
    void RunProgram(const std::string& path, WindowStyle style, int attempts) {
        for (int attempt = 1;; ++attempt) {
            try {
                WaitOnProgram(processes_, processes_.Start({path, {}, style}));
                return;
            } catch (const std::exception& error) {
                if (attempt < attempts) continue;
                failures_.push_back("Cannot run " + path + ": " + error.what());
                return;
            }
        }
    }

    std::string FinalReport(std::int64_t entries) const {
        if (failures_.empty()) return kSuccessMessage;
        std::string report = "The update is incomplete: " + std::to_string(copied_) + " of " +
                             std::to_string(entries) + " files were installed.\n";
        for (std::size_t i = 0; i < failures_.size() && i < kMaxReportedFailures; ++i) {
            report += "\n" + failures_[i];
        }
        if (failures_.size() > kMaxReportedFailures) {
            report +=
                "\n... and " + std::to_string(failures_.size() - kMaxReportedFailures) + " more.";
        }
        return report;
    }

    WindowSide& window_;
    FileSystem& files_;
    Processes& processes_;
    const std::string folder_;
    std::vector<std::string> failures_;
    std::int64_t copied_ = 0;
};

}  // namespace

UpdateOutcome RunUpdate(const UpdateContext& context) {
    std::string stopped;
    try {
        return UpdateRun(context).Run();
    } catch (const NotStarted& error) {
        context.window.ShowMessage(error.what(), kMessageOk, "");
        return UpdateOutcome::NotStarted;
    } catch (const std::exception& error) {
        stopped = error.what();
    } catch (...) {
        stopped = "an unknown failure";
    }
    context.window.ShowMessage(kStoppedPrefix + stopped, kMessageOk, "");
    return UpdateOutcome::Stopped;
}

}  // namespace zelvane
