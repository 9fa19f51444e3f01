#include "zelvane/engine/commit.h"

#include <span>
#include <stdexcept>
#include <string_view>

#include "zelvane/engine/messages.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

constexpr std::string_view kHeader = "zelvane-record 1\n";
// The two states of a commit, each the record's second line: until every new file is in place
// and on the disk, and after.
constexpr std::string_view kPutting = "putting in place\n";
constexpr std::string_view kInPlace = "in place\n";

// Replaces the record whole, and on the disk with every file staged before it, before anything
// else is done.
void WriteRecord(Folder& folder, std::string_view state, const std::vector<std::string>& names) {
    std::string text = std::string(kHeader) + std::string(state);
    for (const auto& name : names) text += name + '\n';
    const std::string partial = PartialName(kRecordName);
    folder.Remove(partial);
    const auto staged = folder.Stage(partial, kRecordName);
    if (!staged) throw std::runtime_error(kRecordNotWritten);
    staged->Write(std::as_bytes(std::span(text)));
    staged->Finish();
    folder.Flush();
    staged->Commit();
    folder.Flush();
}

// Each name is back as it was before the commit: its old file from the backup where there was
// one, no file where the new one had none, and no staged file beside it.
void RollBack(Folder& folder, const std::vector<std::string>& names) {
    for (const auto& name : names) {
        const std::string backup = BackupName(name);
        const std::string partial = PartialName(name);
        if (folder.Exists(backup)) {
            // Not yet replaced, the backup is a second name of the file itself, which a rename
            // leaves as it is.
            folder.Rename(backup, name);
            folder.Remove(backup);
        } else if (!folder.Exists(partial)) {
            folder.Remove(name);  // new in this update, and already in place
        }
        folder.Remove(partial);
    }
    folder.Flush();
    folder.Remove(kRecordName);
}

void RemoveBackups(Folder& folder, const std::vector<std::string>& names) {
    for (const auto& name : names) folder.Remove(BackupName(name));
    folder.Remove(kRecordName);
}

}  // namespace

void UpdateCommit::Add(const std::string& destName, std::unique_ptr<StagedFile> staged) {
    const auto [place, added] = indexes_.try_emplace(destName, names_.size());
    if (!added) {
        staged_[place->second] = std::move(staged);
        return;
    }
    names_.push_back(destName);
    staged_.push_back(std::move(staged));
}

// Every step is on the disk before the next begins: the staged files and the record before any
// backup, every backup before any rename, every rename before the record says "in place" (the
// record's own flush sees to that).
void UpdateCommit::Commit() {
    WriteRecord(folder_, kPutting, names_);
    try {
        for (const auto& name : names_) folder_.KeepAs(name, BackupName(name));
        folder_.Flush();
        for (const auto& staged : staged_) staged->Commit();
    } catch (const std::exception& error) {
        try {
            RollBack(folder_, names_);
        } catch (const std::exception& again) {
            throw RollBackFailed(RollBackFailedMessage(error.what(), again.what()));
        }
        throw;
    }
    WriteRecord(folder_, kInPlace, names_);
    RemoveBackups(folder_, names_);
}

bool MendInterruptedUpdate(FileSystem& files, Folder& folder, const std::string& folderPath) {
    folder.Remove(PartialName(kRecordName));
    const std::string path = folderPath + kRecordName;
    const auto file = files.OpenIfPresent(path);
    if (!file) return false;
    const std::string text = ReadSmallFile(*file, path);
    std::string_view rest = text;
    if (!rest.starts_with(kHeader)) throw std::runtime_error(RecordDamagedMessage(path));
    rest.remove_prefix(kHeader.size());
    const bool inPlace = rest.starts_with(kInPlace);
    if (!inPlace && !rest.starts_with(kPutting)) {
        throw std::runtime_error(RecordDamagedMessage(path));
    }
    rest.remove_prefix(inPlace ? kInPlace.size() : kPutting.size());
    std::vector<std::string> names;
    for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
         rest.remove_prefix(end + 1)) {
        names.emplace_back(rest.substr(0, end));
    }
    if (inPlace) {
        RemoveBackups(folder, names);
    } else {
        RollBack(folder, names);
    }
    return true;
}

}  // namespace zelvane
