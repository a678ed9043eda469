// Delimited text data files as users save them from spreadsheets and other
// programs: the first line names the columns, each further line is a row.
// Comma, semicolon or tab delimiters (found from the header line), double-
// quoted fields, UTF-8 with or without a byte order mark, CR LF or LF line
// ends, a decimal comma in semicolon files. Rows are streamed in blocks of
// doubles through a fixed buffer, so memory does not grow with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace models {

// Bytes read in chunks from the start of a file or of a text in memory.
class byte_source {
  public:
    virtual ~byte_source() = default;
    // Copies up to capacity further bytes to buffer and returns how many;
    // 0 at the end, or after a read error (then error() says which).
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
    // Starts again from the first byte; false when that fails.
    virtual bool rewind() = 0;
    // The total number of bytes, for progress (0 when unknown).
    virtual std::uint64_t size() const = 0;
    // Empty while all is well.
    virtual const std::string& error() const = 0;
    // A reading of its own of the same bytes from offset on, for another
    // thread; null when the source cannot give one.
    virtual std::unique_ptr<byte_source> open_at(std::uint64_t offset) const = 0;
};

// A file read with std::fopen("rb") and std::fread. The path is in the
// narrow (ANSI on Windows) encoding. After a failed open, error() is set
// and read() returns 0.
class file_source final : public byte_source {
  public:
    explicit file_source(const std::string& path);
    ~file_source() override;
    file_source(const file_source&) = delete;
    file_source& operator=(const file_source&) = delete;

    bool is_open() const { return file_ != nullptr; }
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool rewind() override;
    std::uint64_t size() const override { return size_; }
    const std::string& error() const override { return error_; }
    std::unique_ptr<byte_source> open_at(std::uint64_t offset) const override;

  private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::string path_;
    std::string error_;
};

// A text in memory. Each read hands out at most chunk bytes, so tests can
// cut the text anywhere.
class string_source final : public byte_source {
  public:
    explicit string_source(std::string text, std::size_t chunk = static_cast<std::size_t>(-1));

    std::size_t read(char* buffer, std::size_t capacity) override;
    bool rewind() override {
        position_ = 0;
        return true;
    }
    std::uint64_t size() const override { return text_.size(); }
    const std::string& error() const override { return error_; }
    std::unique_ptr<byte_source> open_at(std::uint64_t offset) const override;

  private:
    std::string text_;
    std::size_t chunk_;
    std::size_t position_ = 0;
    std::string error_;
};

// Lines (or quoted records) longer than this many bytes may be refused;
// those up to it are always read.
constexpr std::size_t max_line_bytes = std::size_t{1} << 20;

struct data_header {
    bool ok = false;
    std::string error;
    std::vector<std::string> names; // unquoted, surrounding spaces removed
    char delimiter = ',';           // ',', ';' or '\t'
    bool decimal_comma = false;     // semicolon files: "3,14" is accepted
    long long line = 0;             // the header's line number (1 unless blank lines precede it)
};

// Reads the header from the start of source: skips a UTF-8 byte order mark
// and blank lines, picks the delimiter that occurs most often outside
// quotes in the first line (tab, then semicolon, then comma on a tie), and
// splits the names. Refuses UTF-16 text, NUL bytes, an empty file and an
// over-long line.
data_header read_header(byte_source& source);

struct scan_counts {
    bool ok = false;
    std::string error;
    long long rows = 0;    // data rows (blank lines are not rows)
    long long used = 0;    // rows handed to the sink
    long long skipped = 0; // rows with a missing value in a used column
    bool stopped = false;  // the sink asked to stop
};

// Receives rows * columns.size() values, row-major, in the order of columns.
// Returns false to stop the scan.
using row_sink = std::function<bool(const double* values, std::size_t rows)>;
// Told the bytes read so far and the total (0 when unknown), at the start,
// a few times per second and at the end.
using progress_sink = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Rows per sink call (the last call may have fewer).
constexpr std::size_t scan_block_rows = 2048;

// Streams the data rows of source (read from its start again) to sink.
// columns are 0-based indices into header.names, distinct. A row with an
// empty, "NA", "NaN" or "." field in a used column is skipped and counted;
// a line of nothing but delimiters and spaces counts as blank. Any other
// text that is not a finite number in a used column, a row too short for a
// used column, or a row with more non-empty fields than the header has
// columns stops the scan with an error naming the line (and column); rows
// already passed to the sink are then to be discarded by the caller.
// A file with no data rows at all is an error.
// With rounding set, each row holds twice as many values: the doubles, then
// for each what rounding it to double took away (see decimal_rounding), for
// models whose residuals come near that rounding.
// Text fields for the caller to code (categorical columns: each level an
// id), and the line of each row. With a hook, a used field that is not a
// number goes to code (as do all fields of the coded positions) instead of
// stopping the scan; code returns false to stop it after all (the field is
// then reported as not a number).
struct scan_hooks {
    std::vector<bool> coded; // per position in columns: every field goes to code
    // position in columns, the field's text (unquoted, spaces removed); sets value.
    std::function<bool(std::size_t position, const std::string& text, double& value)> code;
    // When set: before each sink call, the line number of each row passed.
    std::vector<long long>* lines = nullptr;
};

// With keep_missing set, a row skipped for a missing value is passed as
// well, in its place, with NaN for each missing value (it is still counted
// as skipped): for output with one line per data row.
scan_counts scan_rows(byte_source& source, const data_header& header,
                      const std::vector<std::size_t>& columns, const row_sink& sink,
                      const progress_sink& progress = nullptr, bool rounding = false,
                      bool keep_missing = false, const scan_hooks* hooks = nullptr);

// The scan on several threads: the data rows cut into byte ranges (see
// ranges_per_thread), each read by a reading of its own
// (byte_source::open_at) on one of the threads. A range starts after a line
// end and ends where the next starts; its last record must end exactly
// there, which is checked, as a quoted field may hold a line end.
// sink_of(range, ranges) gives each range's sink, called for every range on
// the caller's thread before any thread starts; a sink then runs on the one
// thread that reads its range and receives that range's rows in file order,
// then one call with no rows (rows 0) when the range's reading has ended,
// well or not: a sink waiting on another range's rows can be told.
// Progress counts the bytes of every range. Returns true with counts set
// when every range was read; false when the split is not used (fewer than
// two threads, a file under split_bytes_min, a record across a boundary) or
// any range meets a row scan_rows would refuse or a text field: the sinks'
// rows are then to be discarded and the file read with scan_rows, which
// gives the outcome and the error naming its line.
using range_sinks = std::function<row_sink(int range, int ranges)>;
bool scan_rows_split(byte_source& source, const data_header& header,
                     const std::vector<std::size_t>& columns, int threads,
                     const range_sinks& sink_of, scan_counts& counts,
                     const progress_sink& progress = nullptr);

// Files smaller than this are read on one thread: starting threads and
// finding the ranges' starts would cost more than they save.
constexpr std::uint64_t split_bytes_min = std::uint64_t{4} << 20;

// How finely a split scan cuts the file: ranges_per_thread ranges for each
// thread, taken in turn by whichever thread is free, so that a thread the
// rest of the machine slows holds up the end by a small part of the file;
// at most ranges_max in all beyond one a thread (each range's sink keeps a
// part of its own, a triangle and a block of rows), and none under
// range_bytes_min (each range costs an open, a seek and a search for its
// first line).
constexpr std::uint64_t ranges_per_thread = 4;
constexpr std::uint64_t ranges_max = 32;
constexpr std::uint64_t range_bytes_min = std::uint64_t{1} << 20;

// A field read as a number of a used column: a number (value set), missing
// (empty, "NA", "NaN" or "."; value NaN) or bad (problem says why, without
// the place). The header's decimal comma is accepted as the data rows accept it.
enum class number_field { number, missing, bad };
number_field read_number_field(const std::string& text, const data_header& header, double& value,
                               std::string& problem);

// Receives a record's line number and its fields (unquoted, surrounding
// spaces removed); false stops the scan.
using record_sink = std::function<bool(long long line, const std::vector<std::string>& fields)>;
struct record_counts {
    bool ok = false;
    std::string error;
    long long records = 0; // records passed (lines of nothing but delimiters are blank)
};

// Streams every data record of source (read from its start again) as text,
// for files whose columns are carried along whatever they hold.
record_counts scan_records(byte_source& source, const data_header& header, const record_sink& sink);

// The number written in [first, last) (digits with the decimal point point,
// an optional sign and exponent) less value, its double, computed in
// extended precision; 0 where the text has more than 19 significant digits
// or an exponent beyond 27, whose exact value extended precision cannot hold.
double decimal_rounding(const char* first, const char* last, char point, double value);

struct preview_lines {
    bool ok = false;
    std::string error;
    std::vector<std::string> lines; // without line ends; the byte order mark removed
};

// The first max_lines lines of the file as text, for a preview; each line
// cut at max_chars bytes.
preview_lines read_preview(byte_source& source, std::size_t max_lines = 10,
                           std::size_t max_chars = 200);

} // namespace models
