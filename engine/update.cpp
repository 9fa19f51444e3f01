#include "zelvane/engine/update.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "zelvane/engine/copy.h"
#include "zelvane/engine/launch.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

// A failure line longer than this is cut in the final message and its details.
constexpr std::size_t kLongestShownFailure = 1000;

// Something failed before any file was written: the update stops and the window stays.
class NotStarted : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Shows the busy pointer for as long as it lives, unless put back earlier.
class BusyPointer {
  public:
    explicit BusyPointer(WindowSide& window) : window_(window), savedPointer_(window.Pointer()) {
        window_.SetPointer(PointerShape::Hourglass);
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
        window_.SetPointer(savedPointer_);
        restored_ = true;
    }

  private:
    WindowSide& window_;
    PointerShape savedPointer_;
    bool restored_ = false;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Shortened(const std::string& line) {
    if (line.size() <= kLongestShownFailure) return line;
    return line.substr(0, kLongestShownFailure) + "...";
}

// Every failure of a run is told at once; the first few are kept for the final message, and as
// many as fit in a bounded buffer for its details, so that memory stays small however many fail.
class FailureLog {
  public:
    explicit FailureLog(WindowSide& window) : window_(window) {}

    void Add(const std::string& text) {
        const std::string line = Visible(text);
        window_.TellFailure(line);
        ++count_;
        const std::string shown = Shortened(line);
        if (shown_.size() < kShownFailures) shown_.push_back(shown);
        if (details_.size() + shown.size() < kFailureDetailsBudget) {
            details_ += shown + "\n";
        } else {
            ++notInDetails_;
        }
    }

    bool Empty() const { return count_ == 0; }

    FailureReport Report(const std::string& summary) const {
        FailureReport report{summary, summary + "\n", details_};
        for (const auto& line : shown_) report.text += "\n" + line;
        if (count_ > shown_.size()) {
            report.text += "\n... and " + std::to_string(count_ - shown_.size()) + " more.";
        }
        if (notInDetails_ > 0) {
            report.details += "... and " + std::to_string(notInDetails_) + " more.\n";
        }
        return report;
    }

  private:
    WindowSide& window_;
    std::vector<std::string> shown_;
    std::string details_;
    std::uint64_t count_ = 0;
    std::uint64_t notInDetails_ = 0;
};

class UpdateRun {
  public:
    explicit UpdateRun(const UpdateContext& context)
        : window_(context.window),
          files_(context.files),
          processes_(context.processes),
          vendorKeys_(context.vendorKeys),
          failures_(window_) {}

    UpdateOutcome Run() {
        folder_ = InstallFolder(files_, window_.PathText());
        install_ = OpenInstall();
        if (!install_) {
            window_.ShowMessage(kNotFoundMessage, MessageKind::Ok, "");
            return UpdateOutcome::NotFound;
        }
        BusyPointer pointer(window_);
        std::int64_t lastIndex = 0;
        PackageListReader list = OpenPackageList(lastIndex);
        entries_ = lastIndex + 1;
        window_.SetProgressValue(0.0f);
        window_.SetProgressMax(static_cast<float>(entries_));
        CopyEntries(list, lastIndex);
        Register();
        window_.SetProgressValue(window_.ProgressValue() + 1.0f);
        RunPostInstallPrograms();
        pointer.Restore();
        if (failures_.Empty()) {
            window_.ShowMessage(kSuccessMessage, MessageKind::Ok, "");
        } else {
            window_.ShowFailures(failures_.Report(InstalledSummary("The update is incomplete: ")));
        }
        window_.CloseWindow();
        return failures_.Empty() ? UpdateOutcome::Installed : UpdateOutcome::Incomplete;
    }

    // An unforeseen failure ended the run: says so, and what had been done by then.
    UpdateOutcome Stop(const std::string& reason) {
        std::string text = kStoppedPrefix + Visible(reason);
        if (!changed_) {
            window_.ShowMessage(text, MessageKind::Ok, "");
            return UpdateOutcome::Stopped;
        }
        window_.ShowMessage(text + "\n\n" + InstalledSummary("Before it stopped, "),
                            MessageKind::Ok, "");
        return UpdateOutcome::StoppedPartway;
    }

  private:
    // The install folder, locked for this run, when it holds an install; nothing when it does not.
    std::unique_ptr<Folder> OpenInstall() {
        std::unique_ptr<Folder> install;
        try {
            install = files_.OpenFolder(folder_);
            if (install && !install->TryLock()) throw NotStarted(kLockedMessage);
            for (const char* marker : kMarkerFiles) {
                if (install && !install->IsOrdinaryFile(marker)) install.reset();
            }
        } catch (const NotStarted&) {
            throw;
        } catch (const std::exception& error) {
            throw NotStarted("The folder " + Quoted(folder_) +
                             " could not be checked for an install: " + error.what());
        }
        return install;
    }

    PackageListReader OpenPackageList(std::int64_t& lastIndex) {
        const std::string where = std::string("The package list ") + kPackageListName +
                                  " in the folder " + Quoted(CurrentFolderForMessages());
        std::string text;
        try {
            text = ReadPackageListText(files_, kPackageListName);
        } catch (const std::exception& error) {
            throw NotStarted(where + " cannot be used: " + error.what() + ".");
        }
        try {
            manifest_ = CheckedManifest(files_, text, vendorKeys_);
        } catch (const std::exception& error) {
            throw NotStarted(error.what());
        }
        try {
            PackageListReader list(std::move(text));
            lastIndex = ReadLastIndex(list);
            return list;
        } catch (const std::exception& error) {
            throw NotStarted(where + " cannot be used: " + error.what() + ".");
        }
    }

    // What the package's manifest says the package file holds; nothing without a manifest.
    const ManifestEntry* Expected(const std::string& sourceName) const {
        if (!manifest_) return nullptr;
        const ManifestEntry* expected = manifest_->Find(sourceName);
        if (!expected) throw std::runtime_error(kManifestMismatch);
        return expected;
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
                CopyEncryptedFile(files_, *install_, PackageFileName(files_, sourceName),
                                  DestinationName(files_, destName), Expected(sourceName));
                ++copied_;
                changed_ = true;
                window_.SetProgressValue(static_cast<float>(index));
            } catch (const PackageListEnded& error) {
                FailEntriesFrom(index, lastIndex, destName, error.what());
                return;
            } catch (const std::exception& error) {
                failures_.Add(kCopyFailurePrefix + destName + ": " + error.what());
            }
        }
    }

    // The list ended early: this entry and all after it fail alike, without reading further.
    void FailEntriesFrom(std::int64_t index, std::int64_t lastIndex, const std::string& destName,
                         const std::string& reason) {
        if (!destName.empty()) {
            failures_.Add(kCopyFailurePrefix + destName + ": " + reason);
            ++index;
        }
        if (index > lastIndex) return;
        failures_.Add(std::string(kCopyFailurePrefix) + "for entries " + std::to_string(index) +
                      " to " + std::to_string(lastIndex) + ": the package list ends before them");
    }

    void Register() {
        const std::string cannot = std::string("Cannot register ") + kControlFile + ": ";
        try {
            changed_ = true;
            const ProgramWait result = WaitOnProgram(
                processes_,
                processes_.Start(RegistrationLaunch(folder_ + kControlFile, window_.SilentMode())));
            if (result.end == WaitEnd::ResultUnknown) {
                failures_.Add(cannot + "the registration tool ran, but " + kResultLost);
            } else if (result.end == WaitEnd::Exited && result.exitCode != 0) {
                failures_.Add(cannot + "the registration tool ended with exit code " +
                              std::to_string(result.exitCode));
            }
        } catch (const std::exception& error) {
            failures_.Add(cannot + error.what());
        }
    }

    void RunPostInstallPrograms() {
        std::string programFolder;
        try {
            programFolder = files_.AbsolutePath(folder_);
            files_.ChangeDirectory(folder_);
        } catch (const std::exception& error) {
            failures_.Add(std::string("Cannot run ") + kFirstProgram + " and " + kSecondProgram +
                          ": " + error.what());
            return;
        }
        RunProgram(programFolder + kFirstProgram, WindowStyle::MinimizedWithFocus, 1);
        RunProgram(programFolder + kSecondProgram, WindowStyle::NormalWithoutFocus, 2);
    }

    // Starts the program by its full path, with no arguments, and waits for it. Its exit code
    // says nothing: the product's programs promise nothing about it.
    void RunProgram(const std::string& path, WindowStyle style, int attempts) {
        for (int attempt = 1;; ++attempt) {
            try {
                const ProgramWait result =
                    WaitOnProgram(processes_, processes_.Start({path, {}, style}));
                if (result.end == WaitEnd::ResultUnknown) {
                    failures_.Add("Cannot run " + path + ": it ran, but " + kResultLost);
                }
                return;
            } catch (const std::exception& error) {
                if (attempt < attempts) continue;
                failures_.Add("Cannot run " + path + ": " + error.what());
                return;
            }
        }
    }

    std::string InstalledSummary(const std::string& start) const {
        return start + std::to_string(copied_) + " of " + std::to_string(entries_) +
               " files were installed.";
    }

    WindowSide& window_;
    FileSystem& files_;
    Processes& processes_;
    const std::vector<std::string>& vendorKeys_;
    FailureLog failures_;
    std::optional<Manifest> manifest_;
    std::string folder_;
    std::unique_ptr<Folder> install_;
    std::int64_t entries_ = 0;
    std::int64_t copied_ = 0;
    bool changed_ = false;  // a file was written or a program started
};

}  // namespace

UpdateOutcome RunUpdate(const UpdateContext& context) {
    UpdateRun run(context);
    std::string stopped;
    try {
        return run.Run();
    } catch (const NotStarted& error) {
        context.window.ShowMessage(Visible(error.what()), MessageKind::Ok, "");
        return UpdateOutcome::NotStarted;
    } catch (const std::exception& error) {
        stopped = error.what();
    } catch (...) {
        stopped = kUnknownFailure;
    }
    return run.Stop(stopped);
}

}  // namespace zelvane
