#include "zelvane/engine/package_list.h"

#include <gtest/gtest.h>

#include <variant>

namespace zelvane {
namespace {

// Reads a count field, then text fields until the list ends.
struct Parsed {
    std::optional<std::int64_t> count;
    std::vector<std::string> texts;
};

Parsed ReadAll(const std::string& list) {
    PackageListReader reader(list);
    Parsed parsed;
    parsed.count = reader.ReadNumber();
    try {
        for (;;) parsed.texts.push_back(reader.ReadText());
    } catch (const PackageListEnded&) {
    }
    return parsed;
}

struct FieldCase {
    const char* name;
    std::string list;
    std::optional<std::int64_t> count;
    std::vector<std::string> texts;
};

class FieldRules : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldRules, ReadsFieldsAsWritten) {
    const Parsed parsed = ReadAll(GetParam().list);
    EXPECT_EQ(parsed.count, GetParam().count);
    EXPECT_EQ(parsed.texts, GetParam().texts);
}

INSTANTIATE_TEST_SUITE_P(
    PackageList, FieldRules,
    testing::Values(
        FieldCase{"Canonical",
                  "1\r\n\"a.txt\",\"p0\"\r\n\"Help\\b.htm\",\"p1\"\r\n",
                  1,
                  {"a.txt", "p0", "Help\\b.htm", "p1"}},
        FieldCase{"QuotedCommas", "0\r\n\"a, b.txt\",\"x,y\"\r\n", 0, {"a, b.txt", "x,y"}},
        FieldCase{"UnquotedStopAtComma", "0\r\na, b.txt,x\r\n", 0, {"a", "b.txt", "x"}},
        FieldCase{"BlanksBeforeFieldSkipped", "  3  \r\n   \"a\",   b  \r\n", 3, {"a", "b"}},
        FieldCase{"NumberEndsAtBlank", "2 entries follow\r\n\"a\",\"b\"\r\n", 2, {"a", "b"}},
        FieldCase{"NumberEndsAtComma", "4,\"a\",\"b\"", 4, {"a", "b"}},
        FieldCase{"BlankLineIsEmptyField",
                  "1\r\n\"a\",\"b\"\r\n\r\n\"c\",\"d\"\r\n",
                  1,
                  {"a", "b", "", "c", "d"}},
        FieldCase{"EmptyBetweenCommas", "0\r\n,\"b\"\r\n", 0, {"", "b"}},
        FieldCase{"LoneLineFeeds", "1\n\"a\",\"b\"\n\"c\",\"d\"", 1, {"a", "b", "c", "d"}},
        FieldCase{"LoneCarriageReturns", "1\r\"a\",\"b\"\r", 1, {"a", "b"}},
        FieldCase{"TextAfterClosingQuoteDropped", "0\r\n\"a\"xyz,\"b\"\r\n", 0, {"a", "b"}},
        FieldCase{"UnterminatedQuoteRunsToEnd", "0\r\n\"a,b\r\nc", 0, {"a,b\r\nc"}},
        FieldCase{"NotANumber", "abc\r\n\"a\"", std::nullopt, {"a"}},
        FieldCase{"EmptyFirstLine", "\r\n5\r\n", std::nullopt, {"5"}},
        FieldCase{"NegativeNumber", "-1\r\n", -1, {}},
        FieldCase{"HugeNumberClamps",
                  "99999999999999999999999\r\n",
                  std::numeric_limits<std::int64_t>::max(),
                  {}},
        FieldCase{"NulInsideName",
                  std::string("0\r\n\"a\0b\",\"c\"", 12),
                  0,
                  {std::string("a\0b", 3), "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PackageList, ReadingPastTheEndThrows) {
    PackageListReader reader("0\r\n\"a\",");
    EXPECT_EQ(reader.ReadNumber(), 0);
    EXPECT_EQ(reader.ReadText(), "a");
    EXPECT_THROW(reader.ReadText(), PackageListEnded);
    EXPECT_THROW(PackageListReader("").ReadNumber(), PackageListEnded);
}

struct CountCase {
    const char* list;
    std::variant<std::int64_t, const char*> expected;  // the index, or a word of the error
};

TEST(PackageList, LastIndexIsCheckedBeforeUse) {
    const CountCase cases[] = {
        {"0\r\n", std::int64_t{0}},
        {"2147483646\r\n", std::int64_t{2147483646}},
        {"2147483647\r\n", "too large"},
        {"99999999999999999999\r\n", "too large"},
        {"-1\r\n", "below 0"},
        {"", "empty"},
        {"   ", "empty"},
        {"x\r\n", "number"},
        {"\r\n3\r\n", "number"},
    };
    for (const auto& c : cases) {
        PackageListReader reader(c.list);
        if (const auto* index = std::get_if<std::int64_t>(&c.expected)) {
            EXPECT_EQ(ReadLastIndex(reader), *index) << c.list;
            continue;
        }
        try {
            ReadLastIndex(reader);
            ADD_FAILURE() << "no error for " << c.list;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(std::get<const char*>(c.expected)),
                      std::string::npos)
                << error.what();
        }
    }
}

}  // namespace
}  // namespace zelvane
