// libFuzzer target: both selection parsers and the case-folding comparison
// against the plain versions. The first input byte picks the count; the rest
// is the selection text, and, split at its first NUL, the two texts to
// compare. Any difference aborts.
#include "line_input.h"
#include "selection.h"
#include "selection_oracle.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The plain versions are quadratic: keep their work small.
constexpr size_t longest_input = 256;

struct Run {
    int returned;
    std::vector<int> entries;
    std::string text;
};

Run run(int (*parser)(char*, int*, int), const std::string& text, int count) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Run r;
    r.entries.assign((count > 0 ? count : 0) + 1, -7);
    r.returned = parser(buffer.data(), r.entries.data(), count);
    r.text = buffer.data();
    return r;
}

void check(const char* name, int (*product)(char*, int*, int), int (*plain)(char*, int*, int),
           const std::string& text, int count) {
    const Run got = run(product, text, count);
    const Run want = run(plain, text, count);
    if (got.returned != want.returned || got.entries != want.entries || got.text != want.text) {
        std::fprintf(stderr, "%s(\"%s\", count %d): expected %d, got %d%s%s\n", name, text.c_str(),
                     count, want.returned, got.returned,
                     got.entries != want.entries ? "; arrays differ" : "",
                     got.text != want.text ? "; cleaned texts differ" : "");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > longest_input)
        return 0;
    const int count = static_cast<int>(data[0] % 48) - 4;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string text = bytes.c_str(); // up to the first NUL
    check("separate_command", separate_command, oracle::separate_command, text, count);
    check("separate_command_spc", separate_command_spc, oracle::separate_command_spc, text, count);

    const std::string other = text.size() < bytes.size() ? bytes.c_str() + text.size() + 1 : "";
    const int got = strcompx(text.c_str(), other.c_str());
    const int want = oracle::strcompx(text.c_str(), other.c_str());
    if (got != want || got != -strcompx(other.c_str(), text.c_str())) {
        std::fprintf(stderr, "strcompx(\"%s\", \"%s\"): expected %d, got %d\n", text.c_str(),
                     other.c_str(), want, got);
        std::abort();
    }
    return 0;
}
