#pragma once

#include <unistd.h>

#include "zelvane/platform/unique_resource.h"

namespace zelvane::posix {

struct FdTraits {
    using Type = int;
    static constexpr int None() { return -1; }
    static constexpr bool Valid(int fd) { return fd >= 0; }
    static void Release(int fd) { ::close(fd); }
};

// Owns a file descriptor and closes it when destroyed.
using UniqueFd = UniqueResource<FdTraits>;

}  // namespace zelvane::posix
