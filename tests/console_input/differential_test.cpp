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
