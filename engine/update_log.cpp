#include "zelvane/engine/update_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "zelvane/engine/messages.h"
#include "zelvane/engine/paths.h"
#include "zelvane/engine/update.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;

// The path from UTF-8, so that Windows opens it by its wide name.
fs::path PathOf(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string Now() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ ", std::gmtime(&now));
    return text;
}

}  // namespace

FileUpdateLog::FileUpdateLog(std::string path) : path_(std::move(path)) {
    const fs::path file = PathOf(path_);
    std::error_code error;
    if (fs::file_size(file, error) > kLogRotationSize && !error) {
        const std::string oldLog = path_ + ".1";
        fs::rename(file, PathOf(oldLog), error);
        if (error) {
            Fail(LogNotKeptAsReason(oldLog, error.message()));
            return;
        }
    }
    file_.open(file, std::ios::app | std::ios::binary);
    if (!file_) Fail(kLogNotOpened);
}

void FileUpdateLog::Write(std::string_view line) {
    if (!problem_.empty()) return;
    file_ << Now() << Visible(line) << '\n' << std::flush;
    if (!file_) Fail(kLogNotWritten);
}

void FileUpdateLog::Fail(const std::string& problem) {
    if (problem_.empty()) problem_ = LogProblemMessage(path_, problem);
}

void WriteHeader(UpdateLog& log, const LogHeader& header) {
    log.Write(HeaderLogLine(header.program, kUpdaterVersion, kProductVersion, header.arguments));
    log.Write(FoldersLogLine(header.installFolder, header.packageFolder));
    log.Write(UserLogLine(header.user, header.elevated));
}

}  // namespace zelvane
