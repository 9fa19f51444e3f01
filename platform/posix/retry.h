#pragma once

#include <cerrno>

namespace zelvane::posix {

// Calls a system function again for as long as a signal interrupts it before it has done anything
// (-1 with EINTR), and returns its last result.
template <typename Call>
auto RetryOnInterrupt(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

}  // namespace zelvane::posix
