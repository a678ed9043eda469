#include "handoff.h"

#include "ansi_path.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

std::string line_of(const std::string& buffer_bytes) {
    std::vector<char> buffer(path_buffer_size, '\0');
    buffer_bytes.copy(buffer.data(), buffer_bytes.size());
    const handoff_line line = build_handoff_line(buffer.data(), buffer.size());
    return std::string(line.bytes.data(), line.size);
}

std::string report_of(int code, std::uintptr_t location, const std::vector<std::uintptr_t>& returns,
                      std::uintptr_t base, std::uintptr_t size) {
    const error_report report =
        format_error_report(code, location, returns.data(), returns.size(), base, size);
    return std::string(report.bytes.data(), report.size);
}

// Records the file operations in order; open and write fail on request.
struct recording_files final : handoff_files {
    std::uint32_t open_error = 0;
    bool write_succeeds = true;
    std::vector<std::string> calls;

    std::uint32_t open(const char* path) override {
        calls.push_back(std::string("open ") + path);
        return open_error;
    }
    bool write(const char* bytes, std::size_t count) override {
        calls.push_back("write " + std::string(bytes, count));
        return write_succeeds;
    }
    void close() override { calls.push_back("close"); }
    void fail(int code) override { calls.push_back("fail " + std::to_string(code)); }
};

// A code page of ASCII, two single-byte characters and one double-byte
// character; anything else has no mapping. Short forms as the test sets.
struct fake_code_page final : ansi_code_page {
    std::map<std::wstring, std::wstring> short_forms;

    std::size_t to_ansi(const wchar_t* wide, std::size_t count, char* out, std::size_t room,
                        bool& exact) override {
        std::string bytes;
        for (std::size_t i = 0; i < count; ++i) {
            const wchar_t c = wide[i];
            bytes += c < 0x80     ? std::string(1, static_cast<char>(c))
                     : c == L'é'  ? "\xE9"
                     : c == L'€'  ? "\x80"
                     : c == L'あ' ? "\x82\xA0"
                                  : "?";
            exact = exact && bytes.back() != '?';
        }
        if (bytes.size() <= room) {
            bytes.copy(out, bytes.size());
        }
        return bytes.size();
    }

    std::size_t short_form(const wchar_t* path, wchar_t* out, std::size_t room) override {
        const auto found = short_forms.find(path);
        if (found == short_forms.end() || found->second.size() >= room) {
            return 0;
        }
        found->second.copy(out, found->second.size());
        out[found->second.size()] = L'\0';
        return found->second.size();
    }
};

std::vector<wchar_t> wide_buffer(const std::wstring& path) {
    std::vector<wchar_t> buffer(path_buffer_size, L'\0');
    path.copy(buffer.data(), path.size());
    return buffer;
}

} // namespace

TEST(HandoffLine, IsThePathUpToItsFirstNulThenCrLf) {
    const std::string longest = "C:\\" + std::string(path_max - 3, 'd');
    struct {
        const char* what;
        std::string buffer;
        std::string line;
    } const cases[] = {
        {"a chosen file", "C:\\data\\a.txt", "C:\\data\\a.txt\r\n"},
        {"a cancel", "", "\r\n"},
        {"an older, longer path behind the NUL", std::string("C:\\b\0C:\\older\\x.txt", 19),
         "C:\\b\r\n"},
        {"ANSI bytes outside ASCII", "C:\\caf\xE9\\\xFF.txt", "C:\\caf\xE9\\\xFF.txt\r\n"},
        {"the longest path", longest, longest + "\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(line_of(c.buffer), c.line) << c.what;
    }
    EXPECT_EQ(line_of(longest).size(), 261u);
}

TEST(HandoffLine, NeverReadsBeyondTheBufferOrTheLongestPath) {
    const std::vector<char> no_nul(path_buffer_size, 'x');
    const handoff_line line = build_handoff_line(no_nul.data(), no_nul.size());
    EXPECT_EQ(std::string(line.bytes.data(), line.size), std::string(path_max, 'x') + "\r\n");

    const char short_buffer[3] = {'a', 'b', 'c'};
    const handoff_line short_line = build_handoff_line(short_buffer, sizeof short_buffer);
    EXPECT_EQ(std::string(short_line.bytes.data(), short_line.size), "abc\r\n");
}

TEST(OpenFailureCode, MapsTheSystemErrorNumber) {
    struct {
        std::uint32_t system_error;
        int code;
    } const cases[] = {
        {2, 2},       {3, 3},
        {5, 5},       {18, 18},
        {19, 150},    {25, 156},
        {31, 162},    {32, 5},
        {33, 33},     {112, 112},
        {0x10003, 3}, {0xFFFFFFFFu, 0xFFFF},
        {0, 0xFFFF},  {0x20000, 0xFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(open_failure_code(c.system_error), c.code) << "system error " << c.system_error;
    }
}

TEST(ErrorReport, ListsTheCheckAndTheReturnsIntoTheProgram) {
    const std::uintptr_t base = 0x140000000u;
    const std::string report =
        report_of(3, base + 0x1A2B, {base + 0x15F0, base + 0x13C4}, base, 0x20000);
    EXPECT_EQ(report, "Runtime error 3 at 0x00001A2B\r\n"
                      "  0x00001A2B\r\n"
                      "  0x000015F0\r\n"
                      "  0x000013C4\r\n"
                      "\r\n");
}

TEST(ErrorReport, EndsWhereTheCallsLeaveTheProgram) {
    const std::uintptr_t base = 0x400000u;
    const std::uintptr_t size = 0x9000u;
    struct {
        const char* what;
        std::uintptr_t outside;
    } const cases[] = {{"below the image", base - 1},
                       {"just past the image", base + size},
                       {"far above it", 0x7FF00001u}};
    for (const auto& c : cases) {
        const std::string report =
            report_of(162, base + 0xBEEF, {base + 0x10, c.outside, base + 0x20}, base, size);
        EXPECT_EQ(report, "Runtime error 162 at 0x0000BEEF\r\n"
                          "  0x0000BEEF\r\n"
                          "  0x00000010\r\n"
                          "\r\n")
            << c.what;
    }
}

TEST(ErrorReport, StopsAtItsMostAddresses) {
    const std::vector<std::uintptr_t> returns(report_max_addresses + 5, 0x1010u);
    const std::string report = report_of(101, 0x1abc, returns, 0x1000, 0x1000);
    std::string expected = "Runtime error 101 at 0x00000ABC\r\n  0x00000ABC\r\n";
    for (std::size_t i = 0; i < report_max_addresses; ++i) {
        expected += "  0x00000010\r\n";
    }
    EXPECT_EQ(report, expected + "\r\n");
}

TEST(WriteHandoff, OpensWritesTheWholeLineAndClosesThenChecksThePathWasHandedOn) {
    const std::string open = "open C:\\trelvane\\tep\\zzz0000quib.txt";
    struct {
        std::wstring path;
        int code;
        std::vector<std::string> calls;
    } const cases[] = {
        {L"C:\\data\\a.txt", 0, {open, "write C:\\data\\a.txt\r\n", "close"}},
        {L"C:\\data\\日本.txt", 1113, {open, "write \r\n", "close", "fail 1113"}},
    };
    for (const auto& c : cases) {
        recording_files files;
        fake_code_page code_page;
        const std::vector<wchar_t> buffer = wide_buffer(c.path);
        EXPECT_EQ(write_handoff(buffer.data(), buffer.size(), code_page, files), c.code);
        EXPECT_EQ(files.calls, c.calls);
    }
}

TEST(WriteHandoff, StopsAtTheFirstFailedCheckWithoutClosing) {
    const std::string open = "open C:\\trelvane\\tep\\zzz0000quib.txt";
    struct {
        const char* what;
        std::wstring path;
        std::uint32_t open_error;
        bool write_succeeds;
        int code;
        std::vector<std::string> calls;
    } const cases[] = {
        {"missing directory", L"", 3, true, 3, {open, "fail 3"}},
        {"sharing violation", L"", 32, true, 5, {open, "fail 5"}},
        {"write-protected medium", L"", 19, true, 150, {open, "fail 150"}},
        {"failed write", L"", 0, false, 101, {open, "write \r\n", "fail 101"}},
        {"missing directory, no ANSI form", L"C:\\日.txt", 3, true, 3, {open, "fail 3"}},
        {"failed write, no ANSI form",
         L"C:\\日.txt",
         0,
         false,
         101,
         {open, "write \r\n", "fail 101"}},
    };
    for (const auto& c : cases) {
        recording_files files;
        files.open_error = c.open_error;
        files.write_succeeds = c.write_succeeds;
        fake_code_page code_page;
        const std::vector<wchar_t> buffer = wide_buffer(c.path);
        EXPECT_EQ(write_handoff(buffer.data(), buffer.size(), code_page, files), c.code) << c.what;
        EXPECT_EQ(files.calls, c.calls) << c.what;
    }
}

TEST(AnsiPath, IsThePathWhenExactElseItsShortFormWhenExactElseNone) {
    using form = ansi_path_form;
    const auto ascii = [](const std::wstring& text) {
        return std::string(text.begin(), text.end());
    };
    const std::wstring bytes_259 = L"C:\\" + std::wstring(path_max - 3, L'd');
    const std::wstring double_259 = L"C:\\" + std::wstring(128, L'あ');
    std::string double_259_bytes = "C:\\";
    for (int i = 0; i < 128; ++i) {
        double_259_bytes += "\x82\xA0";
    }
    const std::wstring short_258 = L"C:\\" + std::wstring(path_max - 4, L'S');
    struct {
        const char* what;
        std::wstring path;
        std::wstring short_path; // none when empty
        form expected_form;
        std::string bytes;
    } const cases[] = {
        {"a cancel", L"", L"", form::exact, ""},
        {"ASCII", L"C:\\data\\a.txt", L"C:\\DATA\\A.TXT", form::exact, "C:\\data\\a.txt"},
        {"mapped characters", L"C:\\café€.txt", L"", form::exact, "C:\\caf\xE9\x80.txt"},
        {"259 bytes", bytes_259, L"C:\\D~1", form::exact, ascii(bytes_259)},
        {"259 bytes in double-byte characters", double_259, L"C:\\X~1", form::exact,
         double_259_bytes},
        {"260 bytes", L"C:\\x" + double_259.substr(3), L"C:\\X~1", form::short_form, "C:\\X~1"},
        {"260 bytes, no short form", L"C:\\x" + double_259.substr(3), L"", form::none, ""},
        {"no mapping", L"C:\\日本.txt", L"C:\\__~~~2CT.TXT", form::short_form, "C:\\__~~~2CT.TXT"},
        {"no mapping, no short form", L"C:\\日本.txt", L"", form::none, ""},
        {"a short form with no mapping", L"C:\\日本.txt", L"C:\\日本.txt", form::none, ""},
        {"a short form of 259 bytes", L"C:\\日", short_258 + L"S", form::short_form,
         ascii(short_258 + L"S")},
        {"a short form of 260 bytes", L"C:\\日", short_258 + L"SS", form::none, ""},
        {"a short form of 259 characters, 260 bytes", L"C:\\日", short_258 + L"あ", form::none, ""},
    };
    for (const auto& c : cases) {
        fake_code_page code_page;
        if (!c.short_path.empty()) {
            code_page.short_forms[c.path] = c.short_path;
        }
        const std::vector<wchar_t> buffer = wide_buffer(c.path);
        const ansi_path path = choose_ansi_path(buffer.data(), buffer.size(), code_page);
        EXPECT_EQ(path.form, c.expected_form) << c.what;
        EXPECT_EQ(std::string(path.bytes.data()), c.bytes) << c.what;
    }
}

TEST(AnsiPath, IsNoneWhenTheDialogLeftNoNulInItsPart) {
    fake_code_page code_page;
    std::vector<wchar_t> buffer(path_buffer_size, L'x');
    buffer.back() = L'\0';
    EXPECT_EQ(choose_ansi_path(buffer.data(), buffer.size(), code_page).form, ansi_path_form::none);
    EXPECT_EQ(choose_ansi_path(buffer.data(), 3, code_page).form, ansi_path_form::none);
}
