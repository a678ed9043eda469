#include "line_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Standard input reads the given bytes: they are written to a temporary file
// that replaces it. Each test runs in its own process.
class TypedInput : public ::testing::Test {
  protected:
    void type(const std::string& bytes) {
        char name[] = "/tmp/typed_input.XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        ASSERT_NE(std::freopen(name, "rb", stdin), nullptr);
        unlink(name);
    }

    struct Line {
        int returned;
        std::string text;
        bool guard_kept;
    };

    // Reads one line into a buffer of the given capacity followed by a guard
    // byte that must stay as it was.
    Line read(int (*reader)(char*, int), int capacity) {
        std::vector<char> buffer(static_cast<size_t>(capacity) + 1, '#');
        const int returned = reader(buffer.data(), capacity);
        const bool guard_kept = buffer[capacity] == '#';
        return {returned, capacity > 0 ? std::string(buffer.data()) : "", guard_kept};
    }
};

TEST_F(TypedInput, StoresPrintableAndHighBytesDropsLowControls) {
    struct {
        const char* typed;
        int returned;
        const char* stored;
    } const rows[] = {
        {"a\tb\r\n", 2, "ab"},
        {"\n", 0, ""},
        {"x\x1by\n", 3, "x\x1by"},
        {"\xe9t\xe9\n", 3, "\xe9t\xe9"},         // typed non-ASCII letters are kept
        {"\xff\x80 \x7f\n", 4, "\xff\x80 \x7f"}, // 0xFF is a byte, not the end
        {"\x01\x08\x0b\x0c\x14q\x15\n", 2, "q\x15"},
        {"*ab\n", 3, "*ab"},
    };
    for (int (*reader)(char*, int) : {quibscanf, quibscanf_spc}) {
        for (const auto& row : rows) {
            type(row.typed);
            const Line line = read(reader, 64);
            EXPECT_EQ(line.returned, row.returned) << row.typed;
            EXPECT_EQ(line.text, row.stored) << row.typed;
        }
    }
}

// Successive reads from one typed input: over-long lines, tiny buffers and
// the end of input.
TEST_F(TypedInput, BoundsTheLineAndEndsAtTheEndOfInput) {
    struct Read {
        int capacity;
        int returned;
        const char* stored;
    };
    struct {
        const char* typed;
        std::vector<Read> reads;
    } const rows[] = {
        {"abcdef\nxy\n", {{4, 3, "abc"}, {4, 2, "xy"}}},
        {"abc\nabc\nz", {{1, 0, ""}, {0, 0, ""}, {0, ~0, ""}}},
        {"one\nab", {{16, 3, "one"}, {16, ~2, "ab"}, {16, -1, ""}, {16, -1, ""}}},
        {"abcdef", {{3, ~2, "ab"}}},
        {"", {{8, -1, ""}}},
    };
    for (const auto& row : rows) {
        type(row.typed);
        for (const Read& want : row.reads) {
            const Line line = read(quibscanf, want.capacity);
            EXPECT_EQ(line.returned, want.returned) << row.typed << " capacity " << want.capacity;
            EXPECT_EQ(line.text, want.stored) << row.typed << " capacity " << want.capacity;
            EXPECT_TRUE(line.guard_kept) << row.typed << " capacity " << want.capacity;
        }
    }
}

TEST(LineText, StrcompIsExact) {
    EXPECT_EQ(strcomp("END", "END"), 0);
    EXPECT_EQ(strcomp("", ""), 0);
    EXPECT_EQ(strcomp("END", "end"), 1);
    EXPECT_EQ(strcomp("ab", "abc"), 1);
    EXPECT_EQ(strcomp("abc", "abd"), 1);
}

TEST(LineText, RetCompClassifiesCommandsAndNumbers) {
    struct {
        const char* text;
        int code;
    } const rows[] = {{"END", 0},     {"bye", -1}, {"end", -100}, {"BYE", -100}, {"1 2", -100},
                      {"END ", -100}, {"12", 1},   {"1~3,5", 1},  {"-", 1},      {"", 1}};
    for (const auto& row : rows)
        EXPECT_EQ(ret_comp(row.text), row.code) << '"' << row.text << '"';
}

TEST(LineText, StrcompxFoldsOnlyAsciiCapitalsAndComparesSignedBytes) {
    struct {
        const char* text;
        const char* other;
        int result;
    } const rows[] = {
        {"Hello", "hELLO", 0}, {"abc", "abd", -1},      {"B", "a", 1},        {"ab", "abc", -99},
        {"abc", "AB", 99},     {"ab", "abC", -67},      {"ab", "ab\xe9", 23}, {"[", "{", -32},
        {"", "", 0},           {"\xe9", "a", -23 - 97},
    };
    for (const auto& row : rows)
        EXPECT_EQ(strcompx(row.text, row.other), row.result) << row.text << " / " << row.other;
}

TEST(LineText, DeleteBlankRemovesSpacesAndReturnsZero) {
    std::string text = " 1, 2 ,3 ";
    EXPECT_EQ(delete_blank(text.data()), 0);
    EXPECT_STREQ(text.c_str(), "1,2,3");
}

} // namespace
