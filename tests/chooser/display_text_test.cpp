#include "display_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A real file with the given bytes, removed when the test ends.
struct temp_file {
    explicit temp_file(const std::string& bytes) {
        path = ::testing::TempDir() + "display_text_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~temp_file() { std::remove(path.c_str()); }
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;
    std::string path;
};

// The display text the loader builds from these lines: each followed by
// CR LF, and empty lines up to 42 in all.
std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (int i = 0; i < display_line_count; ++i) {
        if (i < static_cast<int>(lines.size()))
            out += lines[i];
        out += "\r\n";
    }
    return out;
}

// Loads from path into a full-size buffer prefilled with junk, and checks
// that the text ends where it says and nothing past the buffer was touched.
std::string load(const std::string& path) {
    std::vector<char> text(display_text_size + 16, 'x');
    EXPECT_EQ(load_display_text(path.c_str(), text.data(), display_text_size), 0);
    for (int i = display_text_size; i < display_text_size + 16; ++i)
        EXPECT_EQ(text[i], 'x') << "byte " << i << " written past the display text";
    return std::string(text.data());
}

std::string numbered_lines(int count) {
    std::string out;
    for (int i = 1; i <= count; ++i)
        out += "line " + std::to_string(i) + "\n";
    return out;
}

} // namespace

TEST(DisplayText, FileContentsBecomeFortyTwoLinesJoinedWithCrLf) {
    const std::string cut(display_line_max, 'L');
    const struct {
        const char* name;
        std::string file;
        std::vector<std::string> lines;
    } cases[] = {
        {"three lines", "A\nB\nC\n", {"A", "B", "C"}},
        {"no final line feed", "A\nB\nC", {"A", "B", "C"}},
        {"empty lines kept", "A\n\n\nD\n", {"A", "", "", "D"}},
        {"empty file", "", {}},
        {"0xFF is an ordinary byte",
         "a\xff"
         "b\n\xff\n",
         {"a\xff"
          "b",
          "\xff"}},
        {"a carriage return inside a line stays", "a\rb\n", {"a\rb"}},
        {"longest line kept whole", cut + "\nnext\n", {cut, "next"}},
        {"longer line cut, its rest dropped", cut + "REST OF LINE\nnext\n", {cut, "next"}},
        {"5000-byte line",
         std::string(5000, 'W') + "\nnext",
         {std::string(display_line_max, 'W'), "next"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        temp_file file(c.file);
        EXPECT_EQ(load(file.path), joined(c.lines));
    }
}

TEST(DisplayText, OnlyTheFirstFortyTwoLinesAreRead) {
    temp_file file(numbered_lines(50));
    std::vector<std::string> expected;
    for (int i = 1; i <= display_line_count; ++i)
        expected.push_back("line " + std::to_string(i));
    EXPECT_EQ(load(file.path), joined(expected));
}

TEST(DisplayText, FortyTwoLongestLinesFitTheDisplayText) {
    std::string content;
    for (int i = 0; i < display_line_count; ++i)
        content += std::string(display_line_max + 100, static_cast<char>('a' + i % 26)) + "\n";
    temp_file file(content);
    const std::string text = load(file.path);
    EXPECT_EQ(text.size(), static_cast<std::size_t>(display_line_count * (display_line_max + 2)));
    EXPECT_EQ(text.substr(text.size() - 3), "p\r\n");
}

TEST(DisplayText, MissingFileGivesAnEmptyTextAndClearsTheOldOne) {
    std::vector<char> text(display_text_size, 'x');
    EXPECT_EQ(load_display_text("/nonexistent/program_Main.txt", text.data(), display_text_size),
              0);
    EXPECT_EQ(std::string(text.data()), "");
    EXPECT_EQ(text[display_text_size - 1], '\0') << "the whole buffer is cleared";
}

TEST(DisplayText, SmallBufferStopsAppendingInsteadOfOverrunning) {
    temp_file file(numbered_lines(10));
    std::vector<char> text(40, 'x');
    EXPECT_EQ(load_display_text(file.path.c_str(), text.data(), 32), 0);
    // Whole lines only, and always NUL-terminated inside the 32 bytes.
    EXPECT_EQ(std::string(text.data()), "line 1\r\nline 2\r\nline 3\r\n");
    EXPECT_EQ(text[32], 'x');
}
