# Writes the bytes of INPUT as the body of zelvane::ui::BannerBitmap() into OUTPUT.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from banner.bmp by embed-bitmap.cmake.
#include <array>
#include <cstdint>

#include \"zelvane/ui/form_description.h\"

namespace zelvane::ui {
namespace {
constexpr std::uint8_t kBanner[] = {
${bytes}
};
}  // namespace

std::span<const std::byte> BannerBitmap() {
    return std::as_bytes(std::span(kBanner));
}

}  // namespace zelvane::ui
")
