// The speed floor for reading the benchmark file: the file read in 1 MiB
// chunks and every number after the header converted with std::from_chars,
// nothing else (no quotes, no checks beyond the conversion).
//   floor file.csv
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr)
        return 2;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    const std::size_t chunk = std::size_t{1} << 20;
    std::vector<char> buffer(2 * chunk);
    std::size_t kept = 0;
    bool header = true;
    double sum = 0;
    long long numbers = 0;
    for (;;) {
        const std::size_t got = std::fread(buffer.data() + kept, 1, chunk, file);
        const std::size_t size = kept + got;
        const char* p = buffer.data();
        const char* end = p + size;
        // Only whole lines are parsed; the rest waits for the next chunk.
        const char* last = end;
        if (got > 0) {
            while (last > p && last[-1] != '\n')
                --last;
        }
        if (header) {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', last - p));
            if (newline == nullptr)
                return 1;
            p = newline + 1;
            header = false;
        }
        while (p < last) {
            double value;
            const auto parsed = std::from_chars(p, last, value);
            sum += value;
            ++numbers;
            p = parsed.ptr + 1; // past the comma or line end
        }
        kept = static_cast<std::size_t>(end - last);
        std::memmove(buffer.data(), last, kept);
        if (got == 0)
            break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    std::printf("floor: %lld numbers, sum %.17g, %.3f s (processor %.3f s)\n", numbers, sum,
                seconds, cpu);
    std::fclose(file);
    return 0;
}
