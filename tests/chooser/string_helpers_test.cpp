#include "string_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A read-only stream over the given bytes.
struct memory_stream {
    explicit memory_stream(const std::string& bytes) {
        file = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
    }
    ~memory_stream() { std::fclose(file); }
    memory_stream(const memory_stream&) = delete;
    memory_stream& operator=(const memory_stream&) = delete;
    std::FILE* file;
};

struct read_result {
    int code;
    std::string line;
};

std::vector<read_result> read_all(const std::string& bytes, int capacity, int calls) {
    memory_stream stream(bytes);
    std::vector<read_result> out;
    for (int i = 0; i < calls; ++i) {
        std::vector<char> line(static_cast<std::size_t>(capacity) + 8, '#');
        const int code = get_string(stream.file, line.data(), capacity);
        // Nothing may be written past the capacity.
        for (std::size_t j = static_cast<std::size_t>(capacity); j < line.size(); ++j)
            EXPECT_EQ(line[j], '#') << "byte " << j << " written past capacity " << capacity;
        out.push_back({code, line.data()});
    }
    return out;
}

} // namespace

TEST(StringHelpers, LensAndLengthString) {
    const struct {
        const char* text;
        int length;
    } cases[] = {{"", 0}, {"3", 1}, {"     3", 6}, {"abc", 3}, {"\xff\x80", 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(lens(c.text), c.length) << '"' << c.text << '"';
        EXPECT_EQ(length_string(c.text), c.length) << '"' << c.text << '"';
    }
}

TEST(StringHelpers, StrplusAppendsAndReturnsNewLength) {
    const struct {
        const char* destination;
        const char* source;
        const char* expected;
    } cases[] = {{"", "abc", "abc"}, {"ab", "", "ab"}, {"ab", "cd", "abcd"}, {"", "", ""}};
    for (const auto& c : cases) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        std::strcpy(buffer, c.destination);
        EXPECT_EQ(strplus(buffer, c.source), static_cast<int>(std::strlen(c.expected)));
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST(StringHelpers, ClearstringAndBlankClearExactlyTheirRange) {
    char buffer[120];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(clearstring(buffer, 0), 0);
    EXPECT_EQ(clearstring(buffer, -5), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(clearstring(buffer, 3), 0);
    EXPECT_EQ(std::string(buffer, 4), std::string("\0\0\0x", 4));

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(blank(buffer), 0);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(buffer[i], '\0') << "at " << i;
    EXPECT_EQ(buffer[100], 'x') << "blank wrote past 100 bytes";
}

TEST(StringHelpers, CheckStringNumber) {
    for (const char* ok : {"", "12", "3.5", "-7", "1,3~5", "+", "~", "1-2+3"})
        EXPECT_EQ(check_string_number(ok), 1) << '"' << ok << '"';
    for (const char* bad : {"a", "     3", "12 ", "1/2", "\xff", "3\t"})
        EXPECT_EQ(check_string_number(bad), -100) << '"' << bad << '"';
}

TEST(StringHelpers, GetStringLinesAndEndOfStream) {
    const struct {
        const char* name;
        std::string bytes;
        int capacity;
        std::vector<read_result> expected;
    } cases[] = {
        {"line then tail", "ab\nc", 2048, {{0, "ab"}, {-2, "c"}, {-1, ""}, {-1, ""}}},
        {"empty stream", "", 2048, {{-1, ""}, {-1, ""}}},
        {"empty lines", "\n\n", 2048, {{0, ""}, {0, ""}, {-1, ""}}},
        {"carriage return kept", "a\r\nb", 2048, {{0, "a\r"}, {-2, "b"}}},
        {"0xFF is an ordinary byte",
         "a\xff"
         "b\nc",
         2048,
         {{0, "a\xff"
              "b"},
          {-2, "c"}}},
        {"0xFF at the end", "\xff", 2048, {{-2, "\xff"}, {-1, ""}}},
        {"long line cut, rest dropped", "abcdefg\nxy\n", 4, {{0, "abc"}, {0, "xy"}, {-1, ""}}},
        {"long tail at end of stream", "abcdefg", 4, {{~3, "abc"}, {-1, ""}}},
        {"exactly capacity - 1", "abc\n", 4, {{0, "abc"}, {-1, ""}}},
        {"capacity 1 stores only NUL", "abc\nd", 1, {{0, ""}, {-1, ""}, {-1, ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = read_all(c.bytes, c.capacity, static_cast<int>(c.expected.size()));
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(got[i].code, c.expected[i].code) << "call " << i;
            EXPECT_EQ(got[i].line, c.expected[i].line) << "call " << i;
        }
    }
}

TEST(StringHelpers, GetStringCapsARealChooserLine) {
    // The display loader reads into 2048 bytes: a 5000-byte line is cut to
    // 2047 and the next line is read whole.
    const std::string bytes = std::string(5000, 'q') + "\nnext\n";
    const auto got = read_all(bytes, 2048, 2);
    EXPECT_EQ(got[0].code, 0);
    EXPECT_EQ(got[0].line, std::string(2047, 'q'));
    EXPECT_EQ(got[1].line, "next");
}

TEST(StringHelpers, ClampedAtoiReadsLikeAtoiAndClamps) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"3", 3},
        {"     3", 3},
        {"2.9", 2},
        {"+4", 4},
        {"-1", -1},
        {"3x", 3},
        {"x3", 0},
        {"\t\n 7", 7},
        {"- 5", 0},
        {"+-5", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999", INT_MIN},
        {"000000000000000000000042", 42},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clamped_atoi(c.text), c.value) << '"' << c.text << '"';
}
