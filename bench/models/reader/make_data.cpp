// Writes the reader's benchmark file: a header y,x1..xK and rows of numbers
// with 10 significant digits in exponent form, y a linear combination of the x plus noise.
//   make_data rows columns seed out.csv
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_data rows columns seed out.csv\n");
        return 2;
    }
    const long long rows = std::atoll(argv[1]);
    const int columns = std::atoi(argv[2]);
    std::mt19937_64 random(std::strtoull(argv[3], nullptr, 10));
    std::FILE* out = std::fopen(argv[4], "wb");
    if (rows < 1 || columns < 2 || out == nullptr) {
        std::fprintf(stderr, "make_data: bad arguments or cannot write %s\n", argv[4]);
        return 2;
    }
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> coefficient(-5.0, 5.0);
    std::vector<double> beta(columns);
    for (double& b : beta)
        b = coefficient(random);

    std::fputs("y", out);
    for (int j = 1; j < columns; ++j)
        std::fprintf(out, ",x%d", j);
    std::fputs("\n", out);
    std::vector<double> x(columns);
    char line[64 * 32];
    for (long long i = 0; i < rows; ++i) {
        double y = beta[0] + 0.5 * normal(random);
        for (int j = 1; j < columns; ++j) {
            x[j] = 10.0 * normal(random) + j;
            y += beta[j] * x[j];
        }
        int length = std::snprintf(line, sizeof line, "%.9e", y);
        for (int j = 1; j < columns; ++j)
            length += std::snprintf(line + length, sizeof line - length, ",%.9e", x[j]);
        line[length++] = '\n';
        std::fwrite(line, 1, length, out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
