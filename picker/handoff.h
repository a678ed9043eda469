// The hand-off file of file_picker: the line it holds, the failure codes of
// the writes, the error report, and the write sequence itself. Portable: the
// file operations come in through handoff_files and the path's conversion
// through ansi_code_page, so the sequence runs against the Win32 calls or
// against test doubles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Where the chosen path is handed on.
inline constexpr const char handoff_path[] = "C:\\trelvane\\tep\\zzz0000quib.txt";

// The path buffer: 261 characters. The dialog is granted the first 260 (path
// and NUL); the last is never written. A handed-on path has at most 259
// bytes.
inline constexpr std::size_t path_buffer_size = 261;
inline constexpr std::size_t dialog_path_room = 260;
inline constexpr std::size_t path_max = dialog_path_room - 1;

// The hand-off line: the path's bytes and CR LF, nothing else.
struct handoff_line {
    std::array<char, path_max + 2> bytes{};
    std::size_t size = 0;
};

// Builds the line from a buffer of buffer_size bytes: its bytes up to the
// first NUL (at most path_max of them), then CR LF. Bytes are copied as they
// are, with no conversion.
handoff_line build_handoff_line(const char* buffer, std::size_t buffer_size);

// Failure codes: the program's exit status after a file failure.
inline constexpr int failure_sharing_violation = 5;
inline constexpr int failure_write = 101;
// An open that failed although the system error number has no low 16 bits
// (0 among them): a failure must never end with status 0.
inline constexpr int failure_open_unknown = 0xFFFF;

// Maps the system error number of a failed open to the failure code: 19 to
// 31 give 150 to 162, a sharing violation (32) gives 5, any other number its
// low 16 bits (3 for a missing directory, 5 for denied access).
int open_failure_code(std::uint32_t system_error);

// The error report, every line ended by CR LF:
//   "Runtime error <code> at 0x<location>"
//   "  0x<location>"
//   "  0x<address>"        one per return address, innermost first
//   ""
// Locations and addresses are offsets from the program's image base, as 8
// uppercase hexadecimal digits.
inline constexpr std::size_t report_max_addresses = 32;
struct error_report {
    std::array<char, 64 + 14 * (report_max_addresses + 1)> bytes{};
    std::size_t size = 0;
};

// Formats the report. The program's calls end at the first return address
// outside [image_base, image_base + image_size), into the system's start-up
// code: the list stops there, or after report_max_addresses.
error_report format_error_report(int code, std::uintptr_t location,
                                 const std::uintptr_t* return_addresses, std::size_t count,
                                 std::uintptr_t image_base, std::uintptr_t image_size);

// The file operations of the hand-off write.
struct handoff_files {
    // Opens path for writing with no other opener, created or cut to zero
    // length. Returns 0, or the system error number of the failure.
    virtual std::uint32_t open(const char* path) = 0;
    // Writes the bytes; false when that failed or stored fewer of them.
    virtual bool write(const char* bytes, std::size_t count) = 0;
    // Closes the file; whether that succeeded is not asked.
    virtual void close() = 0;
    // A failed check: reports the failure and ends the program. Each check
    // calls it from its own place, so the place identifies the check.
    virtual void fail(int code) = 0;

  protected:
    ~handoff_files() = default;
};

struct ansi_code_page;

// Writes the hand-off file from the wide path buffer: the line of the
// path's ANSI bytes (see choose_ansi_path; CR LF alone when there are none),
// open, check, write the whole line at once, check, close; then a check that
// the path was handed on, failing with failure_no_ansi_form when it was not.
// Returns 0, or the failure code after a failed check (fail does not return
// in the program; a test double's does). The file is not closed after a
// failed check: the system releases it. The write is not buffered, so
// nothing can fail at the close.
int write_handoff(const wchar_t* path_buffer, std::size_t buffer_size, ansi_code_page& code_page,
                  handoff_files& files);
