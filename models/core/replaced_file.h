// A file written whole or not at all: the bytes go to a temporary file
// beside the target, which takes the target's place only once everything
// was written; on any failure (or when dropped unfinished) the temporary
// file is removed and the target is left as it was.
#pragma once

#include <cstdio>
#include <string>

namespace models {

class replaced_file {
  public:
    replaced_file() = default;
    ~replaced_file();
    replaced_file(const replaced_file&) = delete;
    replaced_file& operator=(const replaced_file&) = delete;

    // Creates the temporary file; false with error() set when it cannot.
    bool open(const std::string& path);
    // Appends bytes; a failure is kept and reported by finish().
    void write(const char* data, std::size_t size);
    void write(const std::string& text) { write(text.data(), text.size()); }
    // Flushes, closes and renames over the target; false with error() set.
    bool finish();
    // Removes the temporary file without touching the target.
    void abandon();

    // "cannot write PATH: reason".
    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& reason);

    std::string path_, temporary_, error_;
    std::FILE* file_ = nullptr;
    int write_error_ = 0;
};

// The system's reason for an errno value.
std::string system_reason(int error);

} // namespace models
