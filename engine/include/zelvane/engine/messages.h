#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Every text of the engine that a person may read, in one place so that it can be translated: the
// messages of the window and the command line, the failure lines and the log's lines. File names
// and the words of the updater's own records are not for people and stay where they are used.

namespace zelvane {

// Install check: the folder chosen holds no install of version 3.0 or later, or is busy.
inline constexpr const char* kNotFoundMessage =
    "Version 3.0 or later could not be found in this folder";
inline constexpr const char* kLockedMessage = "Another update of this folder is running.";
// missingMarker is the first marker file missing, or null when there is no such folder.
inline std::string NotFoundReason(const char* missingMarker) {
    return std::string(kNotFoundMessage) + ": " +
           (missingMarker ? std::string(missingMarker) + " is missing" : "no such folder");
}
inline std::string FolderNotCheckedMessage(const std::string& folder, const std::string& reason) {
    return "The folder \"" + folder + "\" could not be checked for an install: " + reason;
}

// Package list: the list file itself, and the names its entries give.
inline constexpr char kListEnded[] = "the package list ends before this entry";
inline constexpr char kListEmpty[] = "it is empty";
inline constexpr char kListLacksLastIndex[] = "it does not begin with the number of its last entry";
inline constexpr char kListIndexBelowZero[] = "it begins with a number below 0";
inline constexpr char kListIndexTooLarge[] = "it begins with a number that is too large";
inline std::string ListTooLargeMessage(const std::string& path) {
    return "\"" + path + "\" is far too large for a package's list";
}
inline std::string ListUnusableMessage(const std::string& listName, const std::string& folder,
                                       const std::string& reason) {
    return "The package list " + listName + " in the folder \"" + folder +
           "\" cannot be used: " + reason + ".";
}
inline constexpr char kNameEmpty[] = "the name is empty";
inline constexpr char kNameNotUtf8[] = "the name is not valid UTF-8 text";
inline constexpr char kNameHoldsControl[] = "the name holds a control character";
inline constexpr char kNameAbsolute[] = "the name is an absolute path";
inline constexpr char kNameHoldsDrive[] = "the name holds a drive or a colon";
inline constexpr char kNameLikeUpdaterFiles[] = "the name ends like the updater's own files";
inline constexpr char kNameClimbsOut[] = "the name climbs out of the install folder";
inline constexpr char kNameIsDevice[] = "the name is a device";
inline constexpr char kNamePartTooLong[] = "a part of the name is longer than 255 characters";
inline constexpr char kNamePartEndsBadly[] =
    "a part of the name ends with a dot or a blank, which Windows would drop";
inline std::string NameHoldsForbiddenReason(char forbidden) {
    return std::string("the name holds ") + forbidden + ", which Windows does not allow";
}
inline std::string OutsideInstallReason(const std::string& nameReason) {
    return "it would not be written inside the install folder: " + nameReason;
}
inline std::string PackageFileUnreadableReason(const std::string& nameReason) {
    return "the package file cannot be read: " + nameReason;
}

// Manifest: what is wrong with the package manifest, or with the package list against it.
inline std::string ManifestLineMessage(std::size_t lineNumber, const std::string& manifestName,
                                       const std::string& problem) {
    return "line " + std::to_string(lineNumber) + " of " + manifestName + " " + problem;
}
inline constexpr char kLineHoldsCarriageReturn[] =
    "holds a carriage return: lines end in a line feed alone";
inline constexpr char kLineLacksDigest[] =
    "does not begin with a SHA-256 digest in 64 lowercase hex digits";
inline constexpr char kLineLacksBlanks[] = "lacks two blanks after the digest";
inline constexpr char kLineLacksSize[] = "does not give a size in decimal digits after the digest";
inline constexpr char kLineLacksName[] = "does not end with two blanks and a name after the size";
inline constexpr char kLineLacksLineFeed[] = "does not end with a line feed";
inline std::string NotHeaderProblem(std::string_view header) {
    return "is not \"" + std::string(header) + "\"";
}
inline std::string NameTwiceProblem(const std::string& name) {
    return "names \"" + name + "\" a second time";
}
inline std::string UncarriableNameMessage(const std::string& name) {
    return "a manifest line cannot carry the name \"" + name + "\"";
}
inline std::string ManifestUnusableMessage(const std::string& manifestName,
                                           const std::string& reason) {
    return "The package manifest " + manifestName + " cannot be used: " + reason + ".";
}
inline std::string ListNotInManifestMessage(const std::string& listName) {
    return "The package list " + listName + " does not match the package manifest.";
}

// Signature: the package is not the vendor's, or the vendor's key cannot check it.
inline constexpr const char* kNotSignedPrefix = "The package is not signed by the vendor: ";
inline std::string NotSignedMessage(const std::string& reason) { return kNotSignedPrefix + reason; }
inline std::string LacksFileReason(const std::string& name) { return "it has no " + name + "."; }
inline std::string SignatureNotVerifiedReason(const std::string& signatureName) {
    return "the signature " + signatureName + " does not verify with the vendor's key.";
}
inline std::string VendorKeyUnusableMessage(const std::string& reason) {
    return "The vendor's public key cannot be used: " + reason;
}

// Copy: an entry that cannot be copied, and the checks before the first file is written.
inline constexpr const char* kCopyFailurePrefix = "Cannot copy file ";
inline constexpr const char* kManifestMismatch = "it does not match the package manifest";
inline std::string CopyFailureMessage(const std::string& name, const std::string& reason) {
    return kCopyFailurePrefix + name + ": " + reason;
}
// What names an entry that gives no name.
inline std::string EntryNumberName(std::int64_t index) {
    return "of entry " + std::to_string(index);
}
inline std::string ListEndedEarlyMessage(std::int64_t firstIndex, std::int64_t lastIndex) {
    return std::string(kCopyFailurePrefix) + "for entries " + std::to_string(firstIndex) + " to " +
           std::to_string(lastIndex) + ": the package list ends before them";
}
inline std::string CannotCreateMessage(const std::string& name) {
    return "cannot create \"" + name + "\"";
}
inline std::string ChangedWhileReadMessage(const std::string& name) {
    return "\"" + name + "\" changed while it was being read";
}
inline std::string FreeSpaceUnknownMessage(const std::string& reason) {
    return "The free space on the install's drive is not known: " + reason;
}
inline std::string NotEnoughSpaceMessage(std::uint64_t neededMegabytes,
                                         std::uint64_t freeMegabytes) {
    return "There is not enough free space for the update on the install's drive: " +
           std::to_string(neededMegabytes) + " MB are needed, " + std::to_string(freeMegabytes) +
           " MB are free.";
}
inline std::string FilesNotCheckedMessage(const std::string& reason) {
    return "The product files could not be checked for programs that use them: " + reason;
}
// Between the names of FilesInUseMessage's lists.
inline constexpr char kListSeparator[] = ", ";
inline std::string FilesInUseMessage(const std::string& files, const std::string& holders) {
    return "These files are in use: " + files + ". Close the programs that use them" +
           (holders.empty() ? "" : " (" + holders + ")") + " and try again.";
}

// Commit: the new files could not all be put in place, or an earlier update left a mess.
inline constexpr const char* kCommitFailurePrefix = "Cannot put the new files in place: ";
inline std::string CommitFailureMessage(const std::string& reason) {
    return kCommitFailurePrefix + reason;
}
inline constexpr char kRecordNotWritten[] = "cannot write the record of the update";
inline std::string RecordDamagedMessage(const std::string& path) {
    return "\"" + path + "\" is damaged";
}
inline std::string RollBackFailedMessage(const std::string& failure,
                                         const std::string& rollBackFailure) {
    return failure + "; the files replaced so far could not be put back (" + rollBackFailure +
           "), which the next update of this folder does";
}
inline std::string InterruptedNotMendedMessage(const std::string& reason) {
    return "An earlier update of this folder was interrupted, and what it left could not be put "
           "right: " +
           reason;
}

// Registration and programs: the control cannot be registered, or a program cannot be run.
inline constexpr const char* kResultLost = "its result could not be read";
inline std::string CannotRegisterMessage(const std::string& control, const std::string& reason) {
    return "Cannot register " + control + ": " + reason;
}
inline std::string RegistrationExitCodeReason(int exitCode) {
    return "the registration tool ended with exit code " + std::to_string(exitCode);
}
inline std::string RegistrationResultLostReason() {
    return std::string("the registration tool ran, but ") + kResultLost;
}
inline std::string CannotRunMessage(const std::string& program, const std::string& reason) {
    return "Cannot run " + program + ": " + reason;
}
inline std::string CannotRunEitherMessage(const std::string& first, const std::string& second,
                                          const std::string& reason) {
    return "Cannot run " + first + " and " + second + ": " + reason;
}
inline std::string ProgramResultLostReason() { return std::string("it ran, but ") + kResultLost; }

// Summary: how the update ended, as the last message says it.
inline constexpr const char* kSuccessMessage = "The update was installed successfully.";
inline constexpr const char* kNothingChanged = "Nothing was changed.";
inline constexpr const char* kStoppedPrefix = "The update stopped: ";
inline constexpr const char* kUnknownFailure = "an unknown failure";
inline constexpr char kIncompletePrefix[] = "The update is incomplete: ";
inline constexpr char kBeforeStoppedPrefix[] = "Before it stopped, ";
inline std::string InstalledCountSentence(std::int64_t copied, std::int64_t entries) {
    return std::to_string(copied) + " of " + std::to_string(entries) +
           (entries == 1 ? " file " : " files ") + (copied == 1 ? "was" : "were") + " installed.";
}
inline std::string StoppedMessage(const std::string& reason) { return kStoppedPrefix + reason; }
inline std::string NoRightsMessage(const std::string& advice) {
    return "The install folder cannot be written with this user's rights. " + advice;
}
// The failures that the message, or its details, leave out.
inline std::string MoreFailuresLine(std::uint64_t count) {
    return "... and " + std::to_string(count) + " more.";
}
inline std::string LogPlaceMessage(const std::string& where) {
    return "The log of this update: " + where;
}
inline constexpr char kLogNotKept[] = "not kept";

// Log: the lines a run writes, and why the log could not be written.
inline std::string QuotedArguments(const std::vector<std::string>& arguments) {
    std::string quoted;
    for (const auto& argument : arguments) quoted += " \"" + argument + "\"";
    return quoted;
}
inline std::string HeaderLogLine(const std::string& program, const std::string& updaterVersion,
                                 const std::string& productVersion,
                                 const std::vector<std::string>& arguments) {
    return "---- " + program + " " + updaterVersion + " for Zelvane " + productVersion +
           ", started with" + (arguments.empty() ? " no arguments" : QuotedArguments(arguments));
}
inline std::string FoldersLogLine(const std::string& installFolder,
                                  const std::string& packageFolder) {
    return "install folder \"" + installFolder + "\", package folder \"" + packageFolder + "\"";
}
inline std::string UserLogLine(const std::string& user, bool elevated) {
    return "user " + user + (elevated ? ", as administrator" : ", not elevated");
}
inline constexpr char kMendedLogLine[] = "put right what an interrupted update of this folder left";
inline std::string FreeSpaceLogLine(std::uint64_t neededMegabytes, std::uint64_t freeMegabytes) {
    return "free space: " + std::to_string(neededMegabytes) + " MB needed, " +
           std::to_string(freeMegabytes) + " MB free";
}
inline constexpr char kNoFileInUseLogLine[] = "no product file is in use";
inline constexpr char kFilesInUseLogLine[] = "product files are in use";
inline std::string CopiedLogLine(const std::string& name) { return "copied " + name; }
inline std::string PuttingInPlaceLogLine(std::size_t count) {
    return "putting " + std::to_string(count) + " files in place";
}
inline constexpr char kAllInPlaceLogLine[] = "every file is in place";
inline std::string FailedLogLine(const std::string& failure) { return "failed: " + failure; }
inline std::string MoreFailuresLogLine(std::uint64_t count) {
    return "... and " + std::to_string(count) + " more failures";
}
inline std::string StartingLogLine(const std::string& program,
                                   const std::vector<std::string>& arguments) {
    return "starting " + program + QuotedArguments(arguments);
}
inline std::string ExitedLogLine(const std::string& program, int exitCode) {
    return program + " ended with exit code " + std::to_string(exitCode);
}
inline std::string StillRunningLogLine(const std::string& program) {
    return program + " is still running; the update goes on";
}
inline std::string ResultLostLogLine(const std::string& program) {
    return program + " ran, but " + kResultLost;
}
inline std::string ExitStatusLogLine(int status) {
    return "ended with exit status " + std::to_string(status);
}
inline std::string LogNotKeptAsReason(const std::string& oldLogPath, const std::string& reason) {
    return "cannot keep it as \"" + oldLogPath + "\": " + reason;
}
inline constexpr char kLogNotOpened[] = "cannot open it for writing";
inline constexpr char kLogNotWritten[] = "cannot write to it";
inline std::string LogProblemMessage(const std::string& path, const std::string& problem) {
    return "The log \"" + path + "\" could not be written: " + problem;
}

}  // namespace zelvane
