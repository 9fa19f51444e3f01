// The parts of the test support that differ between POSIX and Windows.
#include <cstdlib>

#include "test_support.h"

namespace zelvane::test {

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

RecordingRegistrationTool::RecordingRegistrationTool(const fs::path& folder)
    : path_("PATH", folder.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "")) {
    fs::copy_file(ZELVANE_RECORD_PROGRAM, folder / "regsvr32.exe",
                  fs::copy_options::overwrite_existing);
}

}  // namespace zelvane::test
