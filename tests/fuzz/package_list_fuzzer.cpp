// Any bytes as a package list give entries or a clear error: never a crash, a hang or unbounded
// memory.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "zelvane/engine/package_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelvane::PackageListReader list(std::string(reinterpret_cast<const char*>(data), size));
    std::int64_t lastIndex = 0;
    try {
        lastIndex = zelvane::ReadLastIndex(list);
    } catch (const std::runtime_error&) {
        return 0;
    }
    try {
        for (std::int64_t index = 0; index <= lastIndex; ++index) {
            list.ReadText();
            list.ReadText();
        }
    } catch (const zelvane::PackageListEnded&) {
    }
    return 0;
}
