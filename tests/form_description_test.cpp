// The window's description: the numbers every renderer builds from.
#include "zelvane/ui/form_description.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zelvane::ui {
namespace {

struct Expected {
    std::string_view name;
    PixelRect pixels;
};

// The layout in pixels at 96 dots per inch, written out independently of the twips.
TEST(FormDescription, PixelsDeriveFromTwips) {
    const Expected table[] = {
        {"Frame1", {8, 6, 693, 361}},     {"Image1", {16, 22, 658, 316}},
        {"Label1", {382, 302, 57, 17}},   {"Text1", {446, 300, 145, 21}},
        {"Command3", {594, 300, 65, 22}}, {"Label2", {10, 380, 687, 45}},
        {"Check1", {624, 418, 77, 15}},   {"ProgressBar1", {8, 444, 691, 17}},
        {"Command1", {8, 470, 97, 25}},   {"Command2", {602, 470, 97, 25}},
    };
    ASSERT_EQ(Controls().size(), std::size(table));
    for (const auto& expected : table) {
        EXPECT_EQ(Control(expected.name).Pixels(), expected.pixels) << expected.name;
    }
    EXPECT_EQ(Form().ClientPixels(), (PixelRect{0, 0, 709, 500}));
    EXPECT_EQ(Form().background.Value(), 0x00DDDDDDu);
}

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
