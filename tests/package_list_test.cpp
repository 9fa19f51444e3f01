#include "zelvane/engine/package_list.h"

#include <gtest/gtest.h>

#include <cctype>

namespace zelvane {
namespace {

using Texts = std::vector<std::string>;

// The list's first field as a number, then its text fields until it ends.
std::pair<std::optional<std::int64_t>, Texts> ReadAll(const std::string& list) {
    PackageListReader reader(list);
    std::pair<std::optional<std::int64_t>, Texts> read{reader.ReadNumber(), {}};
    try {
        for (;;) read.second.push_back(reader.ReadText());
    } catch (const PackageListEnded&) {
    }
    return read;
}

TEST(PackageList, ReadsFieldsAsWritten) {
    const std::tuple<std::string, std::optional<std::int64_t>, Texts> cases[] = {
        {"1\r\n\"a.txt\",\"p0\"\r\n\"Help\\b.htm\",\"p1\"\r\n",
         1,
         {"a.txt", "p0", "Help\\b.htm", "p1"}},
        {"0\r\n\"a, b.txt\",\"x,y\"\r\n", 0, {"a, b.txt", "x,y"}},
        {"0\r\na, b.txt,x\r\n", 0, {"a", "b.txt", "x"}},
        {"  3  \r\n   \"a\",   b  \r\n", 3, {"a", "b"}},
        {"2 entries follow\r\n\"a\",\"b\"\r\n", 2, {"a", "b"}},
        {"4,\"a\",\"b\"", 4, {"a", "b"}},
        {"1\r\n\"a\",\"b\"\r\n\r\n\"c\",\"d\"\r\n", 1, {"a", "b", "", "c", "d"}},
        {"0\r\n,\"b\"\r\n", 0, {"", "b"}},
        {"1\n\"a\",\"b\"\n\"c\",\"d\"", 1, {"a", "b", "c", "d"}},
        {"1\r\"a\",\"b\"\r", 1, {"a", "b"}},
        {"0\r\n\"a\"xyz,\"b\"\r\n", 0, {"a", "b"}},
        {"0\r\n\"a,b\r\nc", 0, {"a,b\r\nc"}},
        {"abc\r\n\"a\"", std::nullopt, {"a"}},
        {"\xEF\xBB\xBF\"7\",\"a\"", 7, {"a"}},  // after the byte-order mark Notepad writes
        {std::string("0\r\n\"a\0b\",\"c\"", 12), 0, {std::string("a\0b", 3), "c"}},
    };
    for (const auto& [list, count, texts] : cases) {
        EXPECT_EQ(ReadAll(list), std::make_pair(count, texts)) << list;
    }
}

// The index read, or a part of the failure's text.
TEST(PackageList, LastIndexIsCheckedBeforeUse) {
    const std::pair<const char*, const char*> cases[] = {{"0\r\n", "0"},
                                                         {"2147483646\r\n", "2147483646"},
                                                         {"2147483647\r\n", "too large"},
                                                         {"-1\r\n", "below 0"},
                                                         {"99999999999999999999\r\n", "too large"},
                                                         {"   ", "empty"},
                                                         {"x\r\n", "number"},
                                                         {"\r\n3\r\n", "number"}};
    for (const auto& [list, expected] : cases) {
        PackageListReader reader(list);
        std::string read;
        try {
            read = std::to_string(ReadLastIndex(reader));
        } catch (const std::runtime_error& error) {
            read = error.what();
        }
        const bool number = std::isdigit(static_cast<unsigned char>(*expected));
        EXPECT_TRUE(number ? read == expected : read.find(expected) != std::string::npos)
            << list << ": " << read;
    }
}

}  // namespace
}  // namespace zelvane
