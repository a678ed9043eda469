// The parsers against the plain quadratic versions on many seeded random
// texts built from the bytes and numbers that reach every rule.
#include "line_input.h"
#include "selection.h"
#include "selection_oracle.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int texts = 120000;

std::string random_text(std::mt19937& random) {
    static const char alphabet[] = "0123456789,~ -+x";
    static const char* const numbers[] = {"2147483647", "2147483648",  "-2147483648", "-2147483649",
                                          "4294967297", "99999999999", "\t"};
    std::string text;
    const int length = static_cast<int>(random() % 25);
    for (int i = 0; i < length; ++i) {
        if (random() % 16 == 0)
            text += numbers[random() % (sizeof numbers / sizeof *numbers)];
        else
            text += alphabet[random() % (sizeof alphabet - 1)];
    }
    return text;
}

struct Run {
    int returned;
    std::vector<int> entries;
    std::string text;
};

Run run(int (*parser)(char*, int*, int), const std::string& text, int count, int fill) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Run r;
    r.entries.assign((count > 0 ? count : 0) + 2, fill);
    r.returned = parser(buffer.data(), r.entries.data(), count);
    r.text = buffer.data();
    return r;
}

void expect_same(int (*product)(char*, int*, int), int (*plain)(char*, int*, int),
                 const std::string& text, int count, int fill, int& failures) {
    const Run got = run(product, text, count, fill);
    const Run want = run(plain, text, count, fill);
    if (got.returned == want.returned && got.entries == want.entries && got.text == want.text)
        return;
    if (++failures > 5)
        return;
    ADD_FAILURE() << "text \"" << text << "\" count " << count << ": expected " << want.returned
                  << " and cleaned \"" << want.text << "\", got " << got.returned << " and \""
                  << got.text << "\"" << (got.entries == want.entries ? "" : "; arrays differ");
}

TEST(SelectionDifferential, MatchesThePlainAlgorithmOnSeededRandomTexts) {
    std::mt19937 random(20240605);
    int failures = 0;
    for (int i = 0; i < texts; ++i) {
        const std::string text = random_text(random);
        // Mostly small counts, where ranges both fit and overflow; some
        // larger ones; a few zero and negative.
        const int count = random() % 8 == 0 ? static_cast<int>(random() % 64)
                                            : static_cast<int>(random() % 15) - 2;
        const int fill = static_cast<int>(random() % 3) - 1;
        expect_same(separate_command, oracle::separate_command, text, count, fill, failures);
        expect_same(separate_command_spc, oracle::separate_command_spc, text, count, fill,
                    failures);
    }
    EXPECT_EQ(failures, 0);
}

// Longer texts of whole items: numbers of up to 14 digits, often with
// leading zeros so that long digit runs still name items within count, after
// optional white space and signs and before stray bytes, so that items and
// commas fall at every position of an eight-byte word and near the text's
// end.
std::string random_items(std::mt19937& random) {
    static const char* const prefixes[] = {"", "", "", "\t", "\n\r", "+", "-", " ", "\t-"};
    static const char* const suffixes[] = {"", "", "", "x", "~", "~3", ".5", "-1", " 2"};
    static const char* const separators[] = {",", ",", ",", ",", ",,", "~"};
    std::string text;
    const int items = static_cast<int>(random() % 12);
    for (int i = 0; i < items; ++i) {
        text += prefixes[random() % (sizeof prefixes / sizeof *prefixes)];
        text += std::string(random() % 10, '0');
        const int digits = static_cast<int>(random() % 15);
        for (int d = 0; d < digits; ++d)
            text += static_cast<char>('0' + (d == 0 ? random() % 7 : random() % 10));
        text += suffixes[random() % (sizeof suffixes / sizeof *suffixes)];
        if (i + 1 < items || random() % 4 == 0)
            text += separators[random() % (sizeof separators / sizeof *separators)];
    }
    return text;
}

TEST(SelectionDifferential, MatchesThePlainAlgorithmOnLongNumbers) {
    std::mt19937 random(99);
    int failures = 0;
    for (int i = 0; i < 40000; ++i) {
        const std::string text = random_items(random);
        const int count = static_cast<int>(random() % 70) - 2;
        expect_same(separate_command, oracle::separate_command, text, count, 5, failures);
        expect_same(separate_command_spc, oracle::separate_command_spc, text, count, 5, failures);
    }
    EXPECT_EQ(failures, 0);
}

TEST(SelectionDifferential, StrcompxMatchesThePlainComparison) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string a, b;
        for (std::string* s : {&a, &b}) {
            const int length = static_cast<int>(random() % 5);
            for (int j = 0; j < length; ++j)
                *s += static_cast<char>(random() % 255 + 1); // any byte but NUL
        }
        if (random() % 2)
            b = a.substr(0, random() % (a.size() + 1));
        ASSERT_EQ(strcompx(a.c_str(), b.c_str()), oracle::strcompx(a.c_str(), b.c_str()));
    }
}

} // namespace
