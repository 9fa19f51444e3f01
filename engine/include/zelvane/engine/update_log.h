#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {

// What an update did, line by line, for whoever reads it afterwards: an administrator who pushed
// the update to many computers reads it the next morning. Writing it never stops the update.
class UpdateLog {
  public:
    virtual ~UpdateLog() = default;
    virtual void Write(std::string_view line) = 0;
    // Where it is kept, and a sentence that says why it could not be written there (empty when
    // it could).
    virtual std::string Where() const = 0;
    virtual std::string Problem() const = 0;
};

// A run's log appended to a plain UTF-8 file, each line after the time in UTC. A file past
// kLogRotationSize when the run starts becomes FILE.1 (one old log is kept) and a new one begins.
class FileUpdateLog final : public UpdateLog {
  public:
    explicit FileUpdateLog(std::string path);
    void Write(std::string_view line) override;
    std::string Where() const override { return path_; }
    std::string Problem() const override { return problem_; }

  private:
    void Fail(const std::string& problem);

    std::string path_;
    std::ofstream file_;
    std::string problem_;
};

inline constexpr std::uint64_t kLogRotationSize = 10 << 20;
// A run lists this many failures in its log, then how many more there were.
inline constexpr std::uint64_t kLoggedFailures = 10000;

// The first lines of a run: who started which program how, on which folders.
struct LogHeader {
    std::string program;
    std::vector<std::string> arguments;
    std::string installFolder;
    std::string packageFolder;
    std::string user;
    bool elevated;
};
void WriteHeader(UpdateLog& log, const LogHeader& header);

}  // namespace zelvane
