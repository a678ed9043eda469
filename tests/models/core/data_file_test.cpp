#include "data_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <cstdio>
#include <string>
#include <vector>

namespace models {
namespace {

struct read_result {
    std::string error;
    std::vector<std::string> names;
    std::vector<double> values;
    scan_counts counts;
};

// Header and rows of text, handed out chunk bytes at a time; columns empty
// means all of them.
read_result read_all(const std::string& text, std::size_t chunk,
                     std::vector<std::size_t> columns = {}) {
    read_result result;
    string_source source(text, chunk);
    const data_header header = read_header(source);
    if (!header.ok) {
        result.error = header.error;
        return result;
    }
    result.names = header.names;
    if (columns.empty()) {
        for (std::size_t i = 0; i < header.names.size(); ++i)
            columns.push_back(i);
    }
    result.counts = scan_rows(source, header, columns, [&](const double* values, std::size_t rows) {
        result.values.insert(result.values.end(), values, values + rows * columns.size());
        return true;
    });
    result.error = result.counts.error;
    return result;
}

struct good_case {
    const char* what;
    std::string text;
    std::vector<std::size_t> columns;
    std::vector<double> values;
    long long rows, skipped;
};

const std::vector<good_case> good_cases = {
    {"comma", "y,x\n1,2\n3,4\n", {}, {1, 2, 3, 4}, 2, 0},
    {"semicolon, decimal comma or point", "y;x\n1,5;2.25\n-0,5;3\n", {}, {1.5, 2.25, -.5, 3}, 2, 0},
    {"tab", "y\tx\n1\t-2e3\n", {}, {1, -2000}, 1, 0},
    {"BOM, CR LF, no last line end", "\xEF\xBB\xBFy,x\r\n1,2\r\n3,4", {}, {1, 2, 3, 4}, 2, 0},
    {"quoted names and numbers", "\"a;b\";\"c\"\"d\"\n\"3,5\"; \"4\" \n", {}, {3.5, 4}, 1, 0},
    {"quoted unused fields with delimiters, quotes, line ends",
     "y,note,x\n1,\"he said \"\"hi, there\"\"\",2\n3,\"two\r\nlines\",4\n5,x,6\n",
     {0, 2},
     {1, 2, 3, 4, 5, 6},
     3,
     0},
    {"missing values skipped and counted",
     "y,x\n1,NA\n,2\nNaN,3\n.,4\n5,6\n\n7, \n8,9\n",
     {},
     {5, 6, 8, 9},
     7,
     5},
    {"blank and delimiter-only lines are not rows",
     "y,x\n\n1,2\n,\n \r\n3,4\n\n",
     {},
     {1, 2, 3, 4},
     2,
     0},
    {"unused columns are not converted", "y,junk,x\n1,abc,2\n3,,4\n", {2, 0}, {2, 1, 4, 3}, 2, 0},
    {"plus sign, spaces, trailing empty field",
     "y,x\n+1, 2 ,\n+.5,-1e-2\n",
     {},
     {1, 2, .5, -.01},
     2,
     0},
    {"correctly rounded",
     "x\n0.1\n9007199254740993\n2.2250738585072014e-308\n1e-400\n",
     {},
     {0.1, 9007199254740992.0, 2.2250738585072014e-308, 0},
     4,
     0},
};

const std::string nul(1, '\0');

// Each refused file and its whole message.
const std::vector<std::pair<std::string, std::string>> refused_cases = {
    {"y,\"x\nunit\"\n1,2\n3,bad\n", "line 4, column 2 (\"x\\x0Aunit\"): \"bad\" is not a number"},
    {"y,dose\n1,2\n1,abc\n", "line 3, column 2 (\"dose\"): \"abc\" is not a number"},
    {"y,x\n1,1.5x\n", "line 2, column 2 (\"x\"): \"1.5x\" is not a number"},
    {"y\n+-1\n", "line 2, column 1 (\"y\"): \"+-1\" is not a number"},
    {"y\ninf\n", "line 2, column 1 (\"y\"): \"inf\" is not a finite number"},
    {"y\nnan\n", "line 2, column 1 (\"y\"): \"nan\" is not a finite number"},
    {"y\n1e400\n", "line 2, column 1 (\"y\"): \"1e400\" is not a finite number"},
    {"y,x\n\"1,5\",2\n", "line 2, column 1 (\"y\"): \"1,5\" is not a number"},
    {"y\n1\x01\n", "line 2, column 1 (\"y\"): \"1\\x01\" is not a number"},
    {"y,x,z\n1,2,3\n4\n", "line 3 has 1 field, but column 3 (\"z\") is used"},
    {"y,x\n1,2,3\n", "line 2 has 3 fields, more than the 2 columns of the header (are there "
                     "decimal commas in a comma-separated file?)"},
    {"y,x\n\"1\"2,3\n",
     "line 2, column 1 (\"y\"): text follows the closing quote of a quoted field"},
    {"y,x\n\"1,2\n3,4\n", "line 2: a quoted field has no closing quote"},
    {std::string("\xFF\xFEy\0,\0x\0", 8), "the file is UTF-16 text; save it as UTF-8 or ANSI"},
    {std::string("\xFE\xFF\0y", 4), "the file is UTF-16 text; save it as UTF-8 or ANSI"},
    {"y" + nul + ",x" + nul + "\n1,2\n", "the file holds NUL bytes, so it is not a text file (or "
                                         "it is UTF-16 text); save it as UTF-8 or ANSI"},
    {"", "the file is empty: it has no header line"},
    {"\r\n\n", "the file is empty: it has no header line"},
    {"y,x\r\n", "the file has no data rows, only the header line"},
    {"y,x\r1,2\r", "the file's lines end in CR alone; save it with CR LF or LF line ends"},
};

const std::size_t chunk_sizes[] = {std::size_t(-1), 1, 2, 3, 7};

TEST(DataFile, ReadsEveryCaseAtEveryChunkSize) {
    for (const good_case& c : good_cases) {
        for (const std::size_t chunk : chunk_sizes) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            const read_result got = read_all(c.text, chunk, c.columns);
            EXPECT_EQ(got.error, "");
            EXPECT_EQ(got.values, c.values);
            EXPECT_EQ(got.counts.rows, c.rows);
            EXPECT_EQ(got.counts.skipped, c.skipped);
            EXPECT_EQ(got.counts.used, c.rows - c.skipped);
        }
    }
    EXPECT_EQ(read_all(good_cases[3].text, 1).names, (std::vector<std::string>{"y", "x"}));
    EXPECT_EQ(read_all(good_cases[4].text, 1).names, (std::vector<std::string>{"a;b", "c\"d"}));
}

TEST(DataFile, RefusesEveryCaseAtEveryChunkSize) {
    for (const std::size_t chunk : chunk_sizes) {
        for (const auto& c : refused_cases)
            EXPECT_EQ(read_all(c.first, chunk, {}).error, c.second) << "chunk " << chunk;
        // Line ends inside a quoted field of an unused column count as lines.
        EXPECT_EQ(read_all("y,note,x\n1,\"a\nb\",2\n3,x,bad\n", chunk, {0, 2}).error,
                  "line 4, column 3 (\"x\"): \"bad\" is not a number");
    }
}

TEST(DataFile, HeaderDelimiterAndDecimalComma) {
    struct {
        std::string text;
        char delimiter;
        bool decimal_comma;
        std::size_t names;
    } cases[] = {{"a,b,c\n", ',', false, 3},         {"a;b;c\n", ';', true, 3},
                 {"a\tb\n", '\t', false, 2},         {"\"x,y\";z\n", ';', true, 2},
                 {"dose (mg,kg);w\n", ';', true, 2}, {"single\n", ',', false, 1}};
    for (const auto& c : cases) {
        string_source source(c.text);
        const data_header header = read_header(source);
        ASSERT_TRUE(header.ok) << c.text;
        EXPECT_EQ(header.delimiter, c.delimiter) << c.text;
        EXPECT_EQ(header.decimal_comma, c.decimal_comma) << c.text;
        EXPECT_EQ(header.names.size(), c.names) << c.text;
    }
}

TEST(DataFile, OverlongLineIsRefused) {
    const std::string long_field(2 * max_line_bytes + 10, '1');
    EXPECT_EQ(read_all("y\n" + long_field + "\n", std::size_t(-1)).error,
              "line 2 is longer than 1 MiB (or a quote is never closed); is this a delimited text "
              "file?");
    EXPECT_EQ(read_all("\"" + long_field, std::size_t(-1)).error,
              "line 1 is longer than 1 MiB (or a quote is never closed); is this a delimited text "
              "file?");
}

TEST(DataFile, BlocksStopAndProgress) {
    std::string text = "y,x\n";
    const int rows = 5000;
    for (int i = 0; i < rows; ++i)
        text += std::to_string(i) + "," + std::to_string(2 * i) + "\n";
    string_source source(text, 4096);
    const data_header header = read_header(source);
    ASSERT_TRUE(header.ok);

    std::vector<std::size_t> block_sizes;
    double sum = 0;
    std::uint64_t last_done = 0, last_total = 0;
    const scan_counts counts = scan_rows(
        source, header, {1, 0},
        [&](const double* values, std::size_t count) {
            block_sizes.push_back(count);
            for (std::size_t i = 0; i < count; ++i)
                sum += values[2 * i] - values[2 * i + 1];
            return true;
        },
        [&](std::uint64_t done, std::uint64_t total) {
            last_done = done;
            last_total = total;
        });
    ASSERT_TRUE(counts.ok) << counts.error;
    EXPECT_EQ(counts.used, rows);
    EXPECT_EQ(block_sizes, (std::vector<std::size_t>{2048, 2048, 904}));
    EXPECT_EQ(sum, rows * (rows - 1.0) / 2);
    EXPECT_EQ(last_done, text.size());
    EXPECT_EQ(last_total, text.size());

    // A sink that says stop is not called again.
    int calls = 0;
    const scan_counts stopped = scan_rows(source, header, {0}, [&](const double*, std::size_t) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(stopped.ok && stopped.stopped);
    EXPECT_EQ(calls, 1);
}

// The split scan gives every range's rows, in order, as the sequential scan
// gives them; where it cannot (a quoted line end across a boundary, a value
// that is not a number) it says so, for the sequential scan to decide.
TEST(DataFile, SplitScanMatchesTheSequentialScanOrDeclines) {
    struct split_case {
        const char* what;
        std::string middle; // put at the middle of the data (the first boundary)
        bool split;
    };
    const std::vector<split_case> cases = {
        {"plain rows", "", true},
        {"blank lines and missing values", "\n\n7,NA,1\n ,,\n", true},
        // Long enough for the middle of two ranges to fall inside it.
        {"a quoted line end across the boundary", "7,1,\"a\n" + std::string(300000, '\n') + "b\"\n",
         false},
        {"text in a used column", "7,oops,1\n", false},
    };
    for (const split_case& c : cases) {
        std::string text = "y,x,note\n";
        const int rows = 300000; // over split_bytes_min
        for (int i = 0; i < rows; ++i) {
            if (i == rows / 2)
                text += c.middle;
            text += std::to_string(i) + "," + std::to_string(i % 97) + ".5,\"n\"\n";
        }
        ASSERT_GT(text.size(), split_bytes_min);
        const read_result whole = read_all(text, 1 << 16, {0, 1});
        for (int threads : {2, 3}) {
            if (threads == 3 && c.middle.size() > 1000)
                continue; // the quoted field lies inside the middle range
            string_source source(text, 1 << 16);
            const data_header header = read_header(source);
            std::vector<std::vector<double>> ranges;
            std::uint64_t last_done = 0;
            scan_counts counts;
            const bool split = scan_rows_split(
                source, header, {0, 1}, threads,
                [&](int range, int count) -> row_sink {
                    ranges.resize(static_cast<std::size_t>(count));
                    std::vector<double>* into = &ranges[static_cast<std::size_t>(range)];
                    return [into](const double* values, std::size_t n) {
                        into->insert(into->end(), values, values + 2 * n);
                        return true;
                    };
                },
                counts, [&](std::uint64_t done, std::uint64_t) { last_done = done; });
            ASSERT_EQ(split, c.split) << c.what << ", " << threads << " threads";
            if (!split)
                continue;
            std::vector<double> joined;
            for (const auto& r : ranges)
                joined.insert(joined.end(), r.begin(), r.end());
            EXPECT_GE(ranges.size(), static_cast<std::size_t>(threads)) << c.what;
            EXPECT_EQ(joined, whole.values) << c.what;
            EXPECT_EQ(counts.rows, whole.counts.rows) << c.what;
            EXPECT_EQ(counts.skipped, whole.counts.skipped) << c.what;
            EXPECT_EQ(last_done, text.size()) << c.what;
        }
    }
    // Small files and one thread are read sequentially.
    string_source small("y\n1\n");
    scan_counts counts;
    const auto none = [](int, int) -> row_sink { return nullptr; };
    EXPECT_FALSE(scan_rows_split(small, read_header(small), {0}, 2, none, counts));
}

TEST(DataFile, RefusesBadColumnListsAndAChangedFile) {
    string_source source("y,x\n1,2\n");
    const data_header header = read_header(source);
    const auto sink = [](const double*, std::size_t) { return true; };
    EXPECT_EQ(scan_rows(source, header, {}, sink).error, "no columns are selected");
    EXPECT_EQ(scan_rows(source, header, {2}, sink).error,
              "there is no column 3; the file has 2 columns");
    EXPECT_EQ(scan_rows(source, header, {1, 1}, sink).error, "column 2 is selected twice");
    string_source other("y,z\n1,2\n");
    EXPECT_EQ(scan_rows(other, header, {0}, sink).error,
              "the file's header is not the one read before; was the file changed?");
}

TEST(DataFile, FileSourceReadsTwiceAndNamesAMissingFile) {
    const std::string path = testing::TempDir() + "reader_test.csv";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("y;x\r\n1,25;2\r\n", file);
    std::fclose(file);
    file_source source(path);
    ASSERT_TRUE(source.is_open());
    EXPECT_EQ(source.size(), 13u);
    const data_header header = read_header(source);
    ASSERT_TRUE(header.ok);
    std::vector<double> values;
    const auto sink = [&](const double* v, std::size_t rows) {
        values.assign(v, v + 2 * rows);
        return true;
    };
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(scan_rows(source, header, {0, 1}, sink).ok);
        EXPECT_EQ(values, (std::vector<double>{1.25, 2}));
    }
    std::remove(path.c_str());

    file_source missing(path);
    EXPECT_FALSE(missing.is_open());
    EXPECT_EQ(read_header(missing).error.rfind("cannot open \"" + path + "\": ", 0), 0u);
}

TEST(DataFile, PreviewShowsTheFirstLines) {
    string_source source("\xEF\xBB\xBFy,x\r\n1,2\r\n3,4\r\n5,6");
    const preview_lines preview = read_preview(source, 3, 3);
    ASSERT_TRUE(preview.ok);
    EXPECT_EQ(preview.lines, (std::vector<std::string>{"y,x", "1,2", "3,4"}));
    string_source wide(std::string("\xFF\xFEy\0", 4));
    EXPECT_EQ(read_preview(wide).error, "the file is UTF-16 text; save it as UTF-8 or ANSI");
}

} // namespace
} // namespace models

TEST(DecimalRounding, WhatTheDoubleTookAway) {
    struct rounding_case {
        const char* text;
        char point;
        long double exact; // 0: out of reach, the double stands
    };
    const rounding_case cases[] = {
        {"0.1", '.', 0.1L},
        {"-2,5E-3", ',', -2.5e-3L},
        {"2.044333373291E+00", '.', 2.044333373291L},
        {"000.050", '.', 0.05L},
        {"1234567890123456789", '.', 1234567890123456789.0L},
        {"12345678901234567891", '.', 0},
        {"1e30", '.', 0},
        {"1.5x", '.', 0},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        std::string dotted = text;
        std::replace(dotted.begin(), dotted.end(), ',', '.');
        const double value = std::strtod(dotted.c_str(), nullptr);
        const double want = c.exact == 0 ? 0.0 : static_cast<double>(c.exact - (long double)value);
        EXPECT_EQ(models::decimal_rounding(text.data(), text.data() + text.size(), c.point, value),
                  want)
            << c.text;
    }
}
