// The banner, as every renderer gets it: the bitmap format the window needs.
#include "zelvane/ui/form_description.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zelvane::ui {
namespace {

std::uint32_t LittleEndian(std::span<const std::byte> bytes, std::size_t offset, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | std::to_integer<std::uint32_t>(bytes[offset + i]);
    }
    return value;
}

TEST(FormDescription, BannerIsAn8BitUncompressedBottomUpBitmap) {
    const auto bmp = BannerBitmap();
    ASSERT_EQ(bmp.size(), 209640u);
    EXPECT_EQ(std::memcmp(bmp.data(), "BM", 2), 0);
    EXPECT_EQ(LittleEndian(bmp, 2, 4), 209640u);           // file size
    EXPECT_EQ(LittleEndian(bmp, 10, 4), 14u + 40 + 1024);  // pixels after a 256-colour palette
    EXPECT_EQ(LittleEndian(bmp, 18, 4), 658u);             // width
    EXPECT_EQ(LittleEndian(bmp, 22, 4), 316u);             // positive height: bottom-up
    EXPECT_EQ(LittleEndian(bmp, 28, 2), 8u);               // bits per pixel
    EXPECT_EQ(LittleEndian(bmp, 30, 4), 0u);               // no compression
    const std::uint32_t colours = LittleEndian(bmp, 46, 4);
    EXPECT_TRUE(colours == 0 || colours == 256) << colours;
}

}  // namespace
}  // namespace zelvane::ui
