#include "selection.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int untouched = 77;

enum class Parser { plain, ranges };

struct Outcome {
    int returned;
    std::vector<int> entries; // count entries and one guard entry after them
    std::string text;
};

// Runs a parser on a copy of text with a result array prefilled with a
// marker, one entry longer than count so that a write past it shows.
Outcome parse(Parser parser, const std::string& text, int count) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Outcome out;
    out.entries.assign((count > 0 ? count : 0) + 1, untouched);
    out.returned = parser == Parser::plain
                       ? separate_command(buffer.data(), out.entries.data(), count)
                       : separate_command_spc(buffer.data(), out.entries.data(), count);
    out.text = buffer.data();
    return out;
}

// The list as the array should hold it after a successful call: the items,
// zeros up to count, then the untouched guard.
std::vector<int> filled(std::vector<int> items, int count) {
    items.resize(count > 0 ? count : 0, 0);
    items.push_back(untouched);
    return items;
}

struct Case {
    Parser parser;
    const char* text;
    int count;
    int returned;
    std::vector<int> items; // ignored for -1: the array must be untouched
};

const Case cases[] = {
    {Parser::plain, "3, 1,5,3", 6, 3, {1, 3, 5}},
    {Parser::plain, "1,,2,", 6, 2, {1, 2}},
    {Parser::plain, "0,7,-2,abc,4", 6, 1, {4}},
    {Parser::plain, "2~4", 6, 1, {2}},
    {Parser::plain, "1~3, 5", 6, 2, {1, 5}},
    {Parser::plain, "2.9,+5", 6, 2, {2, 5}},
    {Parser::plain, "", 6, 0, {}},
    {Parser::plain, "    ", 6, 0, {}},
    {Parser::plain, ",", 6, 0, {}},
    {Parser::plain, "6,5,4,3,2,1,1", 6, 6, {1, 2, 3, 4, 5, 6}},
    {Parser::plain, "\t3,x3,3x", 6, 1, {3}},
    {Parser::plain, "1,2", 0, 0, {}},
    {Parser::plain, "1,2", -5, 0, {}},
    // Out-of-range values are clamped, never wrapped into 1..count.
    {Parser::plain, "4294967297,99999999999,-4294967295,3", 6, 1, {3}},

    {Parser::ranges, "1~3, 5", 6, 4, {1, 2, 3, 5}},
    {Parser::ranges, "4~6,1~5", 6, 6, {1, 2, 3, 4, 5, 6}},
    {Parser::ranges, "3,3,3", 6, 1, {3}},
    {Parser::ranges, "9,2", 6, 1, {2}},
    {Parser::ranges, "~3", 6, 3, {1, 2, 3}},
    {Parser::ranges, "0~3", 6, 3, {1, 2, 3}},
    {Parser::ranges, "-4~3", 6, 3, {1, 2, 3}},
    {Parser::ranges, "1~3,,5", 6, 4, {1, 2, 3, 5}},
    {Parser::ranges, "1~3~5", 6, 3, {1, 2, 3}},
    {Parser::ranges, ",3", 6, 1, {3}},
    {Parser::ranges, "2~4,", 6, 3, {2, 3, 4}},
    {Parser::ranges, "6~6,1", 6, 2, {1, 6}},
    {Parser::ranges, "1,2", 0, 0, {}},
    {Parser::ranges, "", 0, 0, {}},
    {Parser::ranges, "-4294967295~2", 6, 2, {1, 2}},
    {Parser::ranges, "1~9", 6, -1, {}},
    {Parser::ranges, "1~0", 6, -1, {}},
    {Parser::ranges, "5~2", 6, -1, {}},
    {Parser::ranges, "2~", 6, -1, {}},
    {Parser::ranges, "2~,", 6, -1, {}},
    {Parser::ranges, "~", 6, -1, {}},
    {Parser::ranges, "1,,2", 6, -1, {}},
    {Parser::ranges, "1~~3", 6, -1, {}},
    {Parser::ranges, "1~,3", 6, -1, {}},
    {Parser::ranges, "1,2,3~4~", 6, -1, {}},
    {Parser::ranges, "1~1", 0, -1, {}},
    {Parser::ranges, "1~1", -3, -1, {}},
    // Clamped bounds: a wrapping conversion would read 2 here.
    {Parser::ranges, "1~4294967298", 6, -1, {}},
    {Parser::ranges, "4294967298~3", 6, -1, {}},
};

TEST(Selection, ParsesEveryCase) {
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.parser == Parser::plain ? "separate_command" : "separate_command_spc") +
            " \"" + c.text + "\" count " + std::to_string(c.count));
        const Outcome out = parse(c.parser, c.text, c.count);
        EXPECT_EQ(out.returned, c.returned);
        if (c.returned < 0)
            EXPECT_EQ(out.entries, std::vector<int>(out.entries.size(), untouched));
        else
            EXPECT_EQ(out.entries, filled(c.items, c.count));
    }
}

TEST(Selection, RemovesSpacesFromTheCallersTextOnEveryPath) {
    EXPECT_EQ(parse(Parser::plain, "3, 1,5,3", 6).text, "3,1,5,3");
    EXPECT_EQ(parse(Parser::ranges, " 1 ~ 9 ", 6).text, "1~9");
    EXPECT_EQ(parse(Parser::ranges, "1\t~ 2", 6).text, "1\t~2");
}

// Big inputs finish at once: the work grows with the text and the count,
// not with the number of items the ranges name again and again.
TEST(Selection, HandlesLargeCountsAndOverlappingRanges) {
    const int count = 1000000;
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += std::to_string(1 + i * 1000) + "~" + std::to_string(count - i) + ",";
    text += "500000,1";
    const Outcome out = parse(Parser::ranges, text, count);
    ASSERT_EQ(out.returned, count);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(out.entries[i], i + 1) << "entry " << i;
    EXPECT_EQ(out.entries[count], untouched);

    const Outcome sparse = parse(Parser::plain, "999999,7,999999", count);
    ASSERT_EQ(sparse.returned, 2);
    EXPECT_EQ(sparse.entries[0], 7);
    EXPECT_EQ(sparse.entries[1], 999999);
    EXPECT_EQ(sparse.entries[2], 0);
    EXPECT_EQ(sparse.entries[count - 1], 0);
}

TEST(Selection, CheckBlankRemovesOnlySpaces) {
    struct {
        const char* text;
        const char* cleaned;
        int length;
    } const rows[] = {{" a b ", "ab", 2}, {"", "", 0}, {"   ", "", 0}, {"\ta\r b", "\ta\rb", 4}};
    for (const auto& row : rows) {
        std::string buffer = row.text;
        EXPECT_EQ(check_blank(buffer.data()), row.length) << row.text;
        EXPECT_STREQ(buffer.c_str(), row.cleaned);
    }
}

TEST(Selection, StringcutCopiesTheStretchBeforeEnd) {
    struct {
        int start;
        int end;
        const char* copied;
    } const rows[] = {{1, 3, "23"}, {3, 3, ""}, {4, 2, ""}, {0, 5, "12345"}};
    for (const auto& row : rows) {
        char destination[8] = "xxxxxxx";
        EXPECT_EQ(stringcut("12345", row.start, row.end, destination),
                  static_cast<int>(std::strlen(row.copied)));
        EXPECT_STREQ(destination, row.copied);
    }
}

} // namespace
