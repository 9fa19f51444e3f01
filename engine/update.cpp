#include "zelvane/engine/update.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "zelvane/engine/commit.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/launch.h"
#include "zelvane/engine/messages.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/ansi.h"
#include "zelvane/platform/session.h"

namespace zelvane {
namespace {

// A failure line longer than this is cut in the final message and its details.
constexpr std::size_t kLongestShownFailure = 1000;

bool LacksRights(const std::exception& error) {
    const auto* system = dynamic_cast<const std::system_error*>(&error);
    return system && system->code() == std::errc::permission_denied;
}

// The log of a run that keeps none.
class NoLog final : public UpdateLog {
  public:
    void Write(std::string_view) override {}
    std::string Where() const override { return kLogNotKept; }
    std::string Problem() const override { return {}; }
};

// Something failed before any file was written: the update stops and the window stays.
class NotStarted : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Product files that a running program holds: nothing was written, and the update may be tried
// again once they are free.
class FilesBusy : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Entries failed before any product file changed; each failure has been told.
struct NothingChanged {};

// One list entry, judged and its package file looked at before anything is written.
struct Entry {
    std::int64_t index;
    std::string destName;     // as the list gives it, for messages
    std::string destination;  // in this platform's spelling, relative to the install folder
    std::string packageFile;  // in this platform's spelling, relative to the current folder
    const ManifestEntry* expected;
    std::uint64_t size;
};

// Free space beyond the new files' size that an update asks for: the folders' own growth, and
// room for the system to go on.
constexpr std::uint64_t kSpaceMargin = 1 << 20;

// Rounded up, so that a few bytes needed are not shown as none.
std::uint64_t MegabytesNeeded(std::uint64_t bytes) { return (bytes + (1 << 20) - 1) >> 20; }

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

std::string Shortened(const std::string& line) {
    if (line.size() <= kLongestShownFailure) return line;
    return std::string(CutUtf8(line, kLongestShownFailure)) + "...";
}

// A list saved as UTF-8 (with a byte-order mark, or valid as such) is read as it is; any other
// in the ANSI code page that old Windows tools wrote.
std::string ListAsUtf8(std::string text) {
    if (text.starts_with("\xEF\xBB\xBF") || IsValidUtf8(text)) return text;
    return AnsiToUtf8(text);
}

// Every failure of a run is told at once; the first few are kept for the final message, and as
// many as fit in a bounded buffer for its details, so that memory stays small however many fail.
class FailureLog {
  public:
    FailureLog(WindowSide& window, UpdateLog& log) : window_(window), log_(log) {}

    void Add(const std::string& text) {
        const std::string line = Visible(text);
        window_.TellFailure(line);
        if (++count_ <= kLoggedFailures) log_.Write(FailedLogLine(line));
        const std::string shown = Shortened(line);
        if (shown_.size() < kShownFailures) shown_.push_back(shown);
        if (details_.size() + shown.size() < kFailureDetailsBudget) {
            details_ += shown + "\n";
        } else {
            ++notInDetails_;
        }
    }

    bool Empty() const { return count_ == 0; }

    // The failures past those the log lists, counted there at the end of the run.
    void LogTheRest() const {
        if (count_ > kLoggedFailures) {
            log_.Write(MoreFailuresLogLine(count_ - kLoggedFailures));
        }
    }

    // The summary above the failures.
    FailureReport Report(const std::string& summary) const {
        FailureReport report{summary, summary + "\n", details_};
        AddShown(report);
        return report;
    }

    // The summary below the failures.
    FailureReport ReportEndingWith(const std::string& summary) const {
        FailureReport report{summary, "", details_};
        AddShown(report);
        report.text = report.text.substr(1) + "\n\n" + summary;
        return report;
    }

  private:
    void AddShown(FailureReport& report) const {
        for (const auto& line : shown_) report.text += "\n" + line;
        if (count_ > shown_.size()) {
            report.text += "\n" + MoreFailuresLine(count_ - shown_.size());
        }
        if (notInDetails_ > 0) {
            report.details += MoreFailuresLine(notInDetails_) + "\n";
        }
        report.details += '\n';
        report.details += log_.Problem().empty() ? LogPlaceMessage(log_.Where()) : log_.Problem();
    }

    WindowSide& window_;
    UpdateLog& log_;
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
          policy_(context.policy),
          log_(context.log ? *context.log : noLog_),
          failures_(window_, log_) {}

    UpdateOutcome Run() {
        folder_ = InstallFolder(files_, window_.PathText());
        install_ = OpenInstall();
        if (!install_) {
            // The window's message is the one its users know; a script and the log get the reason.
            const std::string reason = NotFoundReason(missingMarker_);
            log_.Write(reason);
            window_.TellFailure(reason);
            window_.ShowMessage(kNotFoundMessage, MessageKind::Ok, "");
            return UpdateOutcome::NotFound;
        }
        BusyPointer pointer(window_);
        MendInterrupted();
        std::int64_t lastIndex = 0;
        PackageListReader list = OpenPackageList(lastIndex);
        entries_ = lastIndex + 1;
        window_.SetProgressValue(0.0f);
        window_.SetProgressMax(static_cast<float>(entries_));
        if (policy_ == FailurePolicy::KeepGoing) {
            CopyEntriesOneByOne(list, lastIndex);
        } else {
            InstallAllOrNothing(list, lastIndex);
        }
        Register();
        window_.SetProgressValue(window_.ProgressValue() + 1.0f);
        RunPostInstallPrograms();
        pointer.Restore();
        if (failures_.Empty()) {
            window_.ShowMessage(kSuccessMessage, MessageKind::Ok, "");
        } else {
            window_.ShowFailures(failures_.Report(InstalledSummary(kIncompletePrefix)));
        }
        window_.CloseWindow();
        return failures_.Empty() ? UpdateOutcome::Installed : UpdateOutcome::Incomplete;
    }

    // Runs the update and tells how it ended, whatever happens; throws only when the window fails
    // to tell it.
    UpdateOutcome RunToTheEnd();

    void LogEnd(UpdateOutcome outcome) {
        failures_.LogTheRest();
        log_.Write(ExitStatusLogLine(ExitStatusOf(outcome)));
    }

  private:
    UpdateOutcome Tell(const std::string& message, UpdateOutcome outcome) {
        log_.Write(message);
        window_.ShowMessage(Visible(message), MessageKind::Ok, "");
        return outcome;
    }

    // Every failure was told; the report ends by saying that the install is as it was.
    UpdateOutcome TellNothingChanged() {
        std::string summary = kNothingChanged;
        if (lacksRights_) {
            summary += '\n';
            summary += NoRightsMessage(AdviceForMissingRights());
        }
        window_.ShowFailures(failures_.ReportEndingWith(summary));
        return UpdateOutcome::NotStarted;
    }

    // An unforeseen failure ended the run: says so, and what had been done by then.
    UpdateOutcome Stop(const std::string& reason) {
        std::string text = StoppedMessage(Visible(reason));
        log_.Write(text);
        if (!changed_) {
            window_.ShowMessage(text, MessageKind::Ok, "");
            return UpdateOutcome::Stopped;
        }
        const std::string summary = InstalledSummary(kBeforeStoppedPrefix);
        window_.ShowMessage(text + "\n\n" + summary, MessageKind::Ok, "");
        return UpdateOutcome::StoppedPartway;
    }

    // The install folder, locked for this run, when it holds an install; nothing when it does not.
    std::unique_ptr<Folder> OpenInstall() {
        std::unique_ptr<Folder> install;
        try {
            install = files_.OpenFolder(folder_);
            if (install && !install->TryLock()) throw NotStarted(kLockedMessage);
            for (const char* marker : kMarkerFiles) {
                if (install && !install->IsOrdinaryFile(marker)) {
                    install.reset();
                    missingMarker_ = marker;
                }
            }
        } catch (const NotStarted&) {
            throw;
        } catch (const std::exception& error) {
            throw NotStarted(FolderNotCheckedMessage(folder_, error.what()));
        }
        return install;
    }

    PackageListReader OpenPackageList(std::int64_t& lastIndex) {
        const std::string folder = CurrentFolderForMessages();
        std::string text;
        try {
            text = ReadPackageListText(files_, kPackageListName);
        } catch (const std::exception& error) {
            throw NotStarted(ListUnusableMessage(kPackageListName, folder, error.what()));
        }
        try {
            manifest_ = CheckedManifest(files_, text, vendorKeys_);
        } catch (const std::exception& error) {
            throw NotStarted(error.what());
        }
        try {
            PackageListReader list(ListAsUtf8(std::move(text)));
            lastIndex = ReadLastIndex(list);
            return list;
        } catch (const std::exception& error) {
            throw NotStarted(ListUnusableMessage(kPackageListName, folder, error.what()));
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

    // What an update killed while it put its files in place left is put right first.
    void MendInterrupted() {
        try {
            if (MendInterruptedUpdate(files_, *install_, folder_)) {
                log_.Write(kMendedLogLine);
            }
        } catch (const std::exception& error) {
            throw NotStarted(InterruptedNotMendedMessage(error.what()));
        }
    }

    // Every entry is judged and its package file found before any is copied; all are copied
    // beside their product files before any is put in place; and all are put in place, or none.
    void InstallAllOrNothing(PackageListReader& list, std::int64_t lastIndex) {
        std::vector<Entry> entries;
        ForEachEntry(list, lastIndex, [&](Entry entry) { entries.push_back(std::move(entry)); });
        if (!failures_.Empty()) throw NothingChanged();
        CheckFreeSpace(entries);
        CheckFilesInUse(entries);
        UpdateCommit commit(*install_);
        for (const Entry& entry : entries) {
            try {
                commit.Add(entry.destination, Copy(entry));
                log_.Write(CopiedLogLine(entry.destName));
                window_.SetProgressValue(static_cast<float>(entry.index));
            } catch (const std::exception& error) {
                lacksRights_ = lacksRights_ || LacksRights(error);
                failures_.Add(CopyFailureMessage(entry.destName, error.what()));
            }
        }
        if (!failures_.Empty()) throw NothingChanged();
        try {
            log_.Write(PuttingInPlaceLogLine(entries.size()));
            commit.Commit();
        } catch (const RollBackFailed&) {
            changed_ = true;
            throw;
        } catch (const std::exception& error) {
            failures_.Add(CommitFailureMessage(error.what()));
            throw NothingChanged();
        }
        copied_ = static_cast<std::int64_t>(entries.size());
        log_.Write(kAllInPlaceLogLine);
        changed_ = true;
    }

    // As updates were before they were all or nothing: each entry is put in place once copied,
    // and a failing one is passed over.
    void CopyEntriesOneByOne(PackageListReader& list, std::int64_t lastIndex) {
        ForEachEntry(list, lastIndex, [&](const Entry& entry) {
            Copy(entry)->Commit();
            ++copied_;
            changed_ = true;
            window_.SetProgressValue(static_cast<float>(entry.index));
        });
    }

    std::unique_ptr<StagedFile> Copy(const Entry& entry) {
        return CopyEncryptedFile(files_, *install_, entry.packageFile, entry.destination,
                                 entry.expected);
    }

    // Reads the entries and hands each on, checked; a failing one is told and passed over.
    template <typename Use>
    void ForEachEntry(PackageListReader& list, std::int64_t lastIndex, Use use) {
        for (std::int64_t index = 0; index <= lastIndex; ++index) {
            std::string destName;
            try {
                destName = list.ReadText();
                const std::string sourceName = list.ReadText();
                use(CheckedEntry(index, destName, sourceName));
            } catch (const PackageListEnded& error) {
                FailEntriesFrom(index, lastIndex, destName, error.what());
                return;
            } catch (const std::exception& error) {
                failures_.Add(CopyFailureMessage(NameOf(index, destName), error.what()));
            }
        }
    }

    // An entry without a name is named by its place in the list.
    static std::string NameOf(std::int64_t index, const std::string& destName) {
        return destName.empty() ? EntryNumberName(index) : destName;
    }

    // The entry's names judged, and its package file found as an ordinary file of the size that
    // the manifest gives, if there is one.
    Entry CheckedEntry(std::int64_t index, const std::string& destName,
                       const std::string& sourceName) const {
        std::string destination = DestinationName(files_, destName);
        std::string packageFile = PackageFileName(files_, sourceName);
        const ManifestEntry* expected = Expected(sourceName);
        const std::uint64_t size = files_.OrdinaryFileSize(packageFile);
        if (expected && expected->size != size) throw std::runtime_error(kManifestMismatch);
        return {index, destName, std::move(destination), std::move(packageFile), expected, size};
    }

    void CheckFreeSpace(const std::vector<Entry>& entries) {
        std::uint64_t needed = kSpaceMargin;
        for (const Entry& entry : entries) needed += entry.size;
        std::uint64_t free = 0;
        try {
            free = install_->FreeSpace();
        } catch (const std::exception& error) {
            throw NotStarted(FreeSpaceUnknownMessage(error.what()));
        }
        const std::uint64_t neededMegabytes = MegabytesNeeded(needed);
        const std::uint64_t freeMegabytes = free >> 20;
        log_.Write(FreeSpaceLogLine(neededMegabytes, freeMegabytes));
        if (needed > free) throw NotStarted(NotEnoughSpaceMessage(neededMegabytes, freeMegabytes));
    }

    void CheckFilesInUse(const std::vector<Entry>& entries) {
        std::vector<std::string> names;
        names.reserve(entries.size());
        for (const Entry& entry : entries) names.push_back(entry.destination);
        std::vector<FileInUse> inUse;
        try {
            inUse = install_->FilesInUse(names);
        } catch (const std::exception& error) {
            throw NotStarted(FilesNotCheckedMessage(error.what()));
        }
        log_.Write(inUse.empty() ? kNoFileInUseLogLine : kFilesInUseLogLine);
        if (inUse.empty()) return;
        std::string files;
        std::vector<std::string> programs;
        for (const FileInUse& file : inUse) {
            files += (files.empty() ? "" : kListSeparator) + file.name;
            for (const auto& program : file.programs) {
                if (std::ranges::find(programs, program) == programs.end()) {
                    programs.push_back(program);
                }
            }
        }
        std::string holders;
        for (const auto& program : programs) {
            holders += (holders.empty() ? "" : kListSeparator) + program;
        }
        throw FilesBusy(FilesInUseMessage(files, holders));
    }

    // The list ended early: this entry and all after it fail alike, without reading further.
    void FailEntriesFrom(std::int64_t index, std::int64_t lastIndex, const std::string& destName,
                         const std::string& reason) {
        if (!destName.empty()) {
            failures_.Add(CopyFailureMessage(destName, reason));
            ++index;
        }
        if (index > lastIndex) return;
        failures_.Add(ListEndedEarlyMessage(index, lastIndex));
    }

    void Register() {
        try {
            changed_ = true;
            // One at a time, so that the failure named is the same whichever compiler built it.
            const std::string controlPath = folder_ + kControlFile;
            const bool silent = window_.SilentMode();
            const ProgramLaunch launch = RegistrationLaunch(controlPath, silent);
            const ProgramWait result = WaitFor(launch.program, Start(launch));
            if (result.end == WaitEnd::ResultUnknown) {
                failures_.Add(CannotRegisterMessage(kControlFile, RegistrationResultLostReason()));
            } else if (result.end == WaitEnd::Exited && result.exitCode != 0) {
                failures_.Add(CannotRegisterMessage(kControlFile,
                                                    RegistrationExitCodeReason(result.exitCode)));
            }
        } catch (const std::exception& error) {
            failures_.Add(CannotRegisterMessage(kControlFile, error.what()));
        }
    }

    void RunPostInstallPrograms() {
        std::string programFolder;
        try {
            programFolder = files_.AbsolutePath(folder_);
            files_.ChangeDirectory(folder_);
        } catch (const std::exception& error) {
            failures_.Add(CannotRunEitherMessage(kFirstProgram, kSecondProgram, error.what()));
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
                const ProgramWait result = WaitFor(path, Start({path, {}, style}));
                if (result.end == WaitEnd::ResultUnknown) {
                    failures_.Add(CannotRunMessage(path, ProgramResultLostReason()));
                }
                return;
            } catch (const std::exception& error) {
                if (attempt < attempts) continue;
                failures_.Add(CannotRunMessage(path, error.what()));
                return;
            }
        }
    }

    // Started and, once waited for, noted in the log with how it ended.
    std::int32_t Start(const ProgramLaunch& launch) {
        log_.Write(StartingLogLine(launch.program, launch.arguments));
        return processes_.Start(launch);
    }

    ProgramWait WaitFor(const std::string& program, std::int32_t id) {
        const ProgramWait result = WaitOnProgram(processes_, id);
        switch (result.end) {
            case WaitEnd::Exited:
                log_.Write(ExitedLogLine(program, result.exitCode));
                break;
            case WaitEnd::StillRunning:
                log_.Write(StillRunningLogLine(program));
                break;
            case WaitEnd::ResultUnknown:
                log_.Write(ResultLostLogLine(program));
                break;
        }
        return result;
    }

    std::string InstalledSummary(const std::string& start) const {
        return start + InstalledCountSentence(copied_, entries_);
    }

    WindowSide& window_;
    FileSystem& files_;
    Processes& processes_;
    const std::vector<std::string>& vendorKeys_;
    FailurePolicy policy_;
    NoLog noLog_;
    UpdateLog& log_;
    FailureLog failures_;
    std::optional<Manifest> manifest_;
    std::string folder_;
    std::unique_ptr<Folder> install_;
    const char* missingMarker_ = nullptr;
    bool lacksRights_ = false;  // a file could not be written for lack of rights
    std::int64_t entries_ = 0;
    std::int64_t copied_ = 0;
    bool changed_ = false;  // a file was written or a program started
};

}  // namespace

int ExitStatusOf(UpdateOutcome outcome) {
    switch (outcome) {
        case UpdateOutcome::Installed:
            return kExitInstalled;
        case UpdateOutcome::NotFound:
            return kExitNotFound;
        case UpdateOutcome::Incomplete:
        case UpdateOutcome::StoppedPartway:
            return kExitIncomplete;
        case UpdateOutcome::FilesInUse:
            return kExitFilesInUse;
        case UpdateOutcome::NotStarted:
        case UpdateOutcome::Stopped:
            break;
    }
    return kExitNothingChanged;
}

UpdateOutcome RunUpdate(const UpdateContext& context) {
    UpdateRun run(context);
    const UpdateOutcome outcome = run.RunToTheEnd();
    run.LogEnd(outcome);
    return outcome;
}

UpdateOutcome UpdateRun::RunToTheEnd() {
    std::string stopped;
    try {
        return Run();
    } catch (const NotStarted& error) {
        return Tell(error.what(), UpdateOutcome::NotStarted);
    } catch (const FilesBusy& error) {
        return Tell(error.what(), UpdateOutcome::FilesInUse);
    } catch (const NothingChanged&) {
        return TellNothingChanged();
    } catch (const std::exception& error) {
        stopped = error.what();
    } catch (...) {
        stopped = kUnknownFailure;
    }
    return Stop(stopped);
}

}  // namespace zelvane
