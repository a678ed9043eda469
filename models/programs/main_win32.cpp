// A model program's main: with arguments a batch run (report on standard
// output, the reason for a failure on standard error, the exit status);
// without, the console dialogue. TREL_MODEL_NUMBER says which model this
// program is.
#include "batch.h"
#include "dialogue_win32.h"

#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

const models::program_info& this_program() {
    return *models::program_numbered(TREL_MODEL_NUMBER);
}

// Progress of a long read on standard error: nothing for the first second,
// then the share read, on one line that the end clears.
class progress_line {
  public:
    void operator()(std::uint64_t done, std::uint64_t total) {
        if (total > 0)
            show("reading the data", double(done) / double(total));
    }
    void show(const char* what, double fraction) {
        const ULONGLONG now = GetTickCount64();
        if (start_ == 0 || what != what_) {
            start_ = now;
            what_ = what;
        }
        if (now - start_ < 1000)
            return;
        const int percent = static_cast<int>(fraction * 100);
        if (percent == shown_)
            return;
        shown_ = percent;
        std::fprintf(stderr, "\r%s: %s, %d%%", this_program().program, what, percent);
        if (fraction >= 1.0)
            std::fprintf(stderr, "\r%*s\r", 70, "");
        std::fflush(stderr);
    }

  private:
    ULONGLONG start_ = 0;
    const char* what_ = nullptr;
    int shown_ = -1;
};

int run_batch_main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    progress_line progress;
    const models::batch_output result = models::run_batch(
        this_program(), args,
        [&progress](std::uint64_t done, std::uint64_t total) { progress(done, total); },
        [&progress](const char* what, double fraction) { progress.show(what, fraction); });
    std::fwrite(result.out.data(), 1, result.out.size(), stdout);
    std::fputs(result.err.c_str(), stderr);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "%s: the report could not be written\n", this_program().program);
        return models::exit_data_unusable;
    }
    return result.status;
}

} // namespace

int main(int argc, char** argv) {
    // No exception may leave the program: running out of memory on a huge
    // input is reported like any other failure.
    try {
        if (argc <= 1)
            return run_dialogue(this_program());
        return run_batch_main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: not enough memory\n", this_program().program);
    } catch (...) {
        std::fprintf(stderr, "%s: an internal error stopped the program\n", this_program().program);
    }
    return models::exit_not_fitted;
}
