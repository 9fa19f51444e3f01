// The parts of the test support that only the Windows tests need.
#include <cstdlib>

#include "test_support.h"

namespace zelvane::test {

// _putenv_s also changes the environment that started programs inherit.
ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    ::_putenv_s(name_.c_str(), value.c_str());
}

ScopedEnv::~ScopedEnv() { ::_putenv_s(name_.c_str(), old_ ? old_->c_str() : ""); }

}  // namespace zelvane::test
