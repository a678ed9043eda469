#include "data_file.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace models {

// ---------------------------------------------------------------------------
// Sources

file_source::file_source(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error_ = "cannot open \"" + path + "\": " + std::strerror(errno);
        return;
    }
    // We read in large chunks ourselves; the stream's own buffer would
    // only add a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
#ifdef _WIN32
    if (_fseeki64(file_, 0, SEEK_END) == 0) {
        const long long end = _ftelli64(file_);
        size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    _fseeki64(file_, 0, SEEK_SET);
#else
    if (fseeko(file_, 0, SEEK_END) == 0) {
        const off_t end = ftello(file_);
        size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    fseeko(file_, 0, SEEK_SET);
#endif
}

file_source::~file_source() {
    if (file_ != nullptr)
        std::fclose(file_);
}

std::size_t file_source::read(char* buffer, std::size_t capacity) {
    if (file_ == nullptr)
        return 0;
    const std::size_t got = std::fread(buffer, 1, capacity, file_);
    if (got == 0 && std::ferror(file_) && error_.empty())
        error_ = "cannot read \"" + path_ + "\": " + std::strerror(errno);
    return got;
}

bool file_source::rewind() {
    if (file_ == nullptr)
        return false;
    std::clearerr(file_);
    return std::fseek(file_, 0, SEEK_SET) == 0;
}

std::unique_ptr<byte_source> file_source::open_at(std::uint64_t offset) const {
    if (file_ == nullptr || offset > size_)
        return nullptr;
    auto other = std::make_unique<file_source>(path_);
    if (!other->is_open())
        return nullptr;
#ifdef _WIN32
    const bool moved = _fseeki64(other->file_, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    const bool moved = fseeko(other->file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
    if (!moved)
        return nullptr;
    return other;
}

string_source::string_source(std::string text, std::size_t chunk)
    : text_(std::move(text)), chunk_(chunk == 0 ? 1 : chunk) {}

std::unique_ptr<byte_source> string_source::open_at(std::uint64_t offset) const {
    if (offset > text_.size())
        return nullptr;
    return std::make_unique<string_source>(text_.substr(static_cast<std::size_t>(offset)), chunk_);
}

std::size_t string_source::read(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({capacity, chunk_, text_.size() - position_});
    std::memcpy(buffer, text_.data() + position_, count);
    position_ += count;
    return count;
}

namespace {

constexpr std::size_t chunk_bytes = std::size_t{1} << 20;

// ---------------------------------------------------------------------------
// The buffer: the unfinished record carried over from the last chunk, then
// the next chunk. Past the last byte there is always a '\n', so that scans
// for a delimiter or a line end stop there without checking the bound; a
// record is complete only when its '\n' lies before end(). At the end of
// the file a missing last line end is added.
class chunk_buffer {
  public:
    explicit chunk_buffer(byte_source& source) : source_(source), data_(new char[capacity]) {
        data_[0] = '\n';
    }

    const char* begin() const { return data_.get(); }
    const char* end() const { return data_.get() + size_; }
    bool at_eof() const { return eof_; }
    std::uint64_t bytes_read() const { return bytes_read_; }

    // Keeps the bytes from keep on, moved to the front, and appends what the
    // source gives. False when the file had already ended.
    bool refill(const char* keep) {
        const std::size_t kept = static_cast<std::size_t>(end() - keep);
        std::memmove(data_.get(), keep, kept);
        size_ = kept;
        if (eof_) {
            data_[size_] = '\n';
            return false;
        }
        const std::size_t room = capacity - 2 - size_;
        const std::size_t got = source_.read(data_.get() + size_, std::min(chunk_bytes, room));
        if (got == 0) {
            eof_ = true;
            if (size_ > 0 && data_[size_ - 1] != '\n')
                data_[size_++] = '\n';
        }
        size_ += got;
        bytes_read_ += got;
        data_[size_] = '\n';
        return true;
    }

  private:
    // A chunk, the longest record carried over, the added line end and the
    // stop byte.
    static constexpr std::size_t capacity = chunk_bytes + max_line_bytes + 2;
    byte_source& source_;
    std::unique_ptr<char[]> data_; // not cleared: only bytes read are looked at
    std::size_t size_ = 0;
    bool eof_ = false;
    std::uint64_t bytes_read_ = 0;
};

// ---------------------------------------------------------------------------
// Texts for messages

// The text as the user would see it between quotes: control bytes as
// \xNN, cut after 40 bytes.
std::string shown(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    const std::size_t limit = 40;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c == 127) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > limit)
        out += "...";
    return out + "\"";
}

const char utf16_message[] = "the file is UTF-16 text; save it as UTF-8 or ANSI";
const char nul_message[] = "the file holds NUL bytes, so it is not a text file (or it is UTF-16 "
                           "text); save it as UTF-8 or ANSI";

std::string too_long_message(long long line) {
    return "line " + std::to_string(line) +
           " is longer than 1 MiB (or a quote is never closed); is this a delimited text file?";
}

std::string unclosed_quote_message(long long line) {
    return "line " + std::to_string(line) + ": a quoted field has no closing quote";
}

bool is_line_end(const char* p) {
    return *p == '\n' || (*p == '\r' && p[1] == '\n');
}

// The '\n' of the line end at p (which is_line_end accepts).
const char* newline_of(const char* p) {
    return *p == '\r' ? p + 1 : p;
}

void trim_spaces(std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(' ') + 1);
    text.erase(0, first);
}

// A quoted field's text from just past its opening quote: "" is a quote.
// Returns the position after the closing quote, or nullptr when the field
// runs to end (more bytes are needed). Line ends inside are kept and
// counted.
const char* scan_quoted(const char* q, const char* end, std::string* text, long long& newlines) {
    for (;;) {
        const char* quote = static_cast<const char*>(std::memchr(q, '"', end - q));
        const char* stop = quote != nullptr ? quote : end;
        for (const char* c = q; c < stop; ++c)
            newlines += *c == '\n';
        if (text != nullptr)
            text->append(q, stop);
        if (quote == nullptr || quote + 1 >= end)
            return nullptr; // a closing quote or a doubled one may follow
        if (quote[1] != '"')
            return quote + 1;
        if (text != nullptr)
            *text += '"';
        q = quote + 2;
    }
}

enum class field_end { ok, need_more, text_after_quote };

// One field from p, quoted or not. On ok, text holds its content
// (surrounding spaces removed outside quotes) and p stands on the
// delimiter or line end after it.
field_end read_field(const char*& p, const char* end, char delimiter, std::string& text,
                     long long& newlines) {
    text.clear();
    const char* q = p;
    while (*q == ' ')
        ++q;
    if (*q == '"' && q < end) {
        q = scan_quoted(q + 1, end, &text, newlines);
        if (q == nullptr)
            return field_end::need_more;
        while (*q == ' ')
            ++q;
        if (q >= end)
            return field_end::need_more;
        p = q;
        return *q == delimiter || is_line_end(q) ? field_end::ok : field_end::text_after_quote;
    }
    q = p;
    while (*q != delimiter && *q != '\n')
        ++q;
    if (q >= end)
        return field_end::need_more; // the field may go on in the next chunk
    const char* content_end = (*q == '\n' && q > p && q[-1] == '\r') ? q - 1 : q;
    text.assign(p, content_end);
    trim_spaces(text);
    p = content_end;
    return field_end::ok;
}

// ---------------------------------------------------------------------------
// The header

// Delimiter counts in the first record from p, outside quotes; false when
// the record does not end before end.
bool pick_delimiter(const char* p, const char* end, char& delimiter) {
    std::size_t commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\n')
            break;
        commas += c == ',';
        semicolons += c == ';';
        tabs += c == '\t';
    }
    if (p >= end)
        return false;
    delimiter = ',';
    if (semicolons > 0 && semicolons >= commas)
        delimiter = ';';
    if (tabs > 0 && tabs >= std::max(commas, semicolons))
        delimiter = '\t';
    return true;
}

enum class step { ok, need_more, failed };

// Splits the record at p into fields; on ok, p is past its line end.
step split_record(const char*& p, const char* end, char delimiter, std::vector<std::string>& fields,
                  long long line, long long& newlines, std::string& error) {
    fields.clear();
    const char* q = p;
    std::string text;
    for (;;) {
        switch (read_field(q, end, delimiter, text, newlines)) {
        case field_end::need_more:
            return step::need_more;
        case field_end::text_after_quote:
            error = "line " + std::to_string(line) + ", column " +
                    std::to_string(fields.size() + 1) +
                    ": text follows the closing quote of a quoted field";
            return step::failed;
        case field_end::ok:
            break;
        }
        fields.push_back(text);
        if (*q == delimiter) {
            ++q;
            continue;
        }
        const char* newline = newline_of(q);
        if (newline >= end)
            return step::need_more;
        p = newline + 1;
        return step::ok;
    }
}

// Reads from the start of the source up to the end of the header record.
// On success, p stands on the first data line, whose number is line.
bool open_header(byte_source& source, chunk_buffer& buffer, data_header& header, const char*& p,
                 long long& line) {
    if (!source.rewind()) {
        header.error =
            source.error().empty() ? "cannot read the file from its start again" : source.error();
        return false;
    }
    // Enough bytes to see a byte order mark.
    buffer.refill(buffer.begin());
    while (buffer.end() - buffer.begin() < 4 && !buffer.at_eof())
        buffer.refill(buffer.begin());
    p = buffer.begin();
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    const std::size_t size = static_cast<std::size_t>(buffer.end() - p);
    if (size >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        header.error = utf16_message;
        return false;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        p += 3;

    line = 1;
    long long newlines = 0;
    for (;;) {
        if (std::memchr(p, '\0', buffer.end() - p) != nullptr) {
            header.error = nul_message;
            return false;
        }
        while (p < buffer.end() && is_line_end(p) && newline_of(p) < buffer.end()) {
            p = newline_of(p) + 1;
            ++line;
        }
        newlines = 0;
        const char* q = p;
        step result = step::need_more;
        if (q < buffer.end() && pick_delimiter(q, buffer.end(), header.delimiter))
            result = split_record(q, buffer.end(), header.delimiter, header.names, line, newlines,
                                  header.error);
        if (result == step::failed)
            return false;
        if (result == step::ok) {
            p = q;
            break;
        }
        if (buffer.end() - p >= static_cast<std::ptrdiff_t>(max_line_bytes)) {
            header.error = too_long_message(line);
            return false;
        }
        const bool had_text = p < buffer.end();
        if (!buffer.refill(p)) {
            if (!source.error().empty())
                header.error = source.error();
            else
                header.error = had_text ? unclosed_quote_message(line)
                                        : "the file is empty: it has no header line";
            return false;
        }
        p = buffer.begin();
    }
    for (const std::string& name : header.names) {
        if (name.find('\r') != std::string::npos) {
            header.error = "the file's lines end in CR alone; save it with CR LF or LF line ends";
            return false;
        }
    }
    header.line = line;
    header.decimal_comma = header.delimiter == ';';
    line += 1 + newlines;
    return true;
}

// ---------------------------------------------------------------------------
// The data rows

enum class row_status { used, missing, blank, need_more, failed };

class row_scanner {
  public:
    row_scanner(const data_header& header, const std::vector<std::size_t>& columns,
                const scan_hooks* hooks = nullptr)
        : header_(header), hooks_(hooks), delimiter_(header.delimiter),
          point_char_(header.decimal_comma ? ',' : '.'),
          primary_(fast_float::chars_format::general, header.decimal_comma ? ',' : '.') {
        for (std::size_t k = 0; k < columns.size(); ++k) {
            if (columns[k] >= slots_.size())
                slots_.resize(columns[k] + 1, -1);
            slots_[columns[k]] = static_cast<int>(k);
        }
    }

    long long line = 0;
    std::string error;

    // Reads the row at p into out (a value per selected column); on used, missing and
    // blank, p moves past the row and line on to the next.
    row_status read_row(const char*& p, const char* end, double* out, double* low = nullptr) {
        const char* const start = p;
        if (is_line_end(p)) {
            if (newline_of(p) >= end)
                return row_status::need_more;
            p = newline_of(p) + 1;
            ++line;
            return row_status::blank;
        }
        const char* q = p;
        long long newlines = 0;
        bool missing = false;
        bool extra_text = false;
        const std::size_t slot_count = slots_.size();
        const char delimiter = delimiter_;
        std::size_t field = 0;
        for (;; ++field) {
            const int slot = field < slot_count ? slots_[field] : -1;
            if (slot >= 0 && hooks_ && hooks_->coded.size() > std::size_t(slot) &&
                hooks_->coded[slot]) {
                if (low)
                    low[slot] = 0;
                const row_status status =
                    slow_field(q, end, field, out[slot], missing, newlines, slot);
                if (status != row_status::used)
                    return status;
            } else if (slot >= 0) {
                double value;
                const auto parsed = fast_float::from_chars_advanced(q, end, value, primary_);
                const char* after = parsed.ptr;
                if (parsed.ec == std::errc() &&
                    (*after == delimiter || *after == '\n' ||
                     (*after == '\r' && after[1] == '\n')) &&
                    std::isfinite(value)) {
                    out[slot] = value;
                    if (low)
                        low[slot] = decimal_rounding(q, after, point_char_, value);
                    q = after;
                } else {
                    if (low)
                        low[slot] = 0; // quoted or unusual numbers: their double
                    const row_status status =
                        slow_field(q, end, field, out[slot], missing, newlines, slot);
                    if (status != row_status::used)
                        return status;
                }
            } else if (*q == '"' || *q == ' ') {
                const char* field_start = q;
                const row_status status = skip_field(q, end, field, newlines);
                if (status != row_status::used)
                    return status;
                extra_text = extra_text || (field >= header_.names.size() && q > field_start);
            } else {
                const char* field_start = q;
                while (*q != delimiter && *q != '\n')
                    ++q;
                if (*q == '\n' && q > field_start && q[-1] == '\r')
                    --q;
                extra_text = extra_text || (field >= header_.names.size() && q > field_start);
            }
            if (*q == delimiter) {
                ++q;
                continue;
            }
            break;
        }
        const char* newline = newline_of(q);
        if (newline >= end)
            return row_status::need_more;
        p = newline + 1;
        const bool short_row = field + 1 < slot_count;
        if ((short_row || missing) && is_empty_line(start, newline)) {
            line += 1 + newlines;
            return row_status::blank;
        }
        if (short_row) {
            error = "line " + std::to_string(line) + " has " + std::to_string(field + 1) +
                    (field == 0 ? " field" : " fields") + ", but " + column_label(slot_count - 1) +
                    " is used";
            return row_status::failed;
        }
        if (extra_text) {
            error =
                "line " + std::to_string(line) + " has " + std::to_string(field + 1) +
                " fields, more than the " + std::to_string(header_.names.size()) +
                " columns of the header" +
                (delimiter == ',' ? " (are there decimal commas in a comma-separated file?)" : "");
            return row_status::failed;
        }
        line += 1 + newlines;
        return missing ? row_status::missing : row_status::used;
    }

  private:
    std::string column_label(std::size_t field) const {
        std::string label = "column " + std::to_string(field + 1);
        if (field < header_.names.size())
            label += " (" + shown(header_.names[field]) + ")";
        return label;
    }

    std::string at(std::size_t field) const {
        return "line " + std::to_string(line) + ", " + column_label(field) + ": ";
    }

    bool is_empty_line(const char* p, const char* newline) const {
        for (; p < newline; ++p) {
            if (*p != delimiter_ && *p != ' ' && *p != '\r')
                return false;
        }
        return true;
    }

    row_status field_problem(field_end result, std::size_t field) {
        if (result == field_end::need_more)
            return row_status::need_more;
        error = at(field) + "text follows the closing quote of a quoted field";
        return row_status::failed;
    }

    row_status skip_field(const char*& q, const char* end, std::size_t field, long long& newlines) {
        const field_end result = read_field(q, end, delimiter_, text_, newlines);
        return result == field_end::ok ? row_status::used : field_problem(result, field);
    }

    // A used field the quick path did not take: quoted, spaced, missing,
    // with a '+' or a decimal point, or bad.
    row_status slow_field(const char*& q, const char* end, std::size_t field, double& value,
                          bool& missing, long long& newlines, int slot) {
        const field_end result = read_field(q, end, delimiter_, text_, newlines);
        if (result != field_end::ok)
            return field_problem(result, field);
        std::string problem;
        switch (read_number_field(text_, header_, value, problem)) {
        case number_field::missing:
            missing = true;
            return row_status::used;
        case number_field::bad:
            // Text that is not a number at all (not one out of range) may be
            // a level of a categorical column: the caller's coder decides.
            if (hooks_ && hooks_->code && std::isfinite(value) &&
                text_.find('\0') == std::string::npos &&
                hooks_->code(std::size_t(slot), text_, value))
                return row_status::used;
            error = at(field) + problem;
            return row_status::failed;
        case number_field::number:
            // A numeric column taken as categorical codes its numbers too.
            if (hooks_ && hooks_->coded.size() > std::size_t(slot) && hooks_->coded[slot] &&
                !hooks_->code(std::size_t(slot), text_, value)) {
                error = at(field) + shown(text_) + " is not a number";
                return row_status::failed;
            }
            break;
        }
        return row_status::used;
    }

    const data_header& header_;
    const scan_hooks* hooks_;
    char delimiter_;
    char point_char_;
    fast_float::parse_options primary_;
    std::vector<int> slots_; // per field: its place in a row of values, or -1
    std::string text_;
};

// Reads the header again from the start of the source and checks that it
// is the one read before; p then stands on the first data line.
bool reopen(byte_source& source, chunk_buffer& buffer, const data_header& header, const char*& p,
            long long& line, std::string& error) {
    data_header again;
    if (!open_header(source, buffer, again, p, line)) {
        error = again.error;
        return false;
    }
    if (again.names != header.names || again.delimiter != header.delimiter) {
        error = "the file's header is not the one read before; was the file changed?";
        return false;
    }
    return true;
}

enum class more { read, end, failed };

// More bytes after an unfinished record at p (which moves with them); the
// end of the file, or a failure with error set (an over-long line at line,
// a quote never closed, a read error).
more read_more(byte_source& source, chunk_buffer& buffer, const char*& p, long long line,
               std::string& error) {
    const bool had_text = p < buffer.end();
    if (buffer.end() - p >= static_cast<std::ptrdiff_t>(max_line_bytes)) {
        error = too_long_message(line);
        return more::failed;
    }
    if (!buffer.refill(p)) {
        if (!had_text)
            return more::end;
        error = unclosed_quote_message(line);
        return more::failed;
    }
    if (!source.error().empty()) {
        error = source.error();
        return more::failed;
    }
    p = buffer.begin();
    return more::read;
}

std::string check_columns(const data_header& header, const std::vector<std::size_t>& columns) {
    if (columns.empty())
        return "no columns are selected";
    std::vector<bool> seen(header.names.size(), false);
    for (const std::size_t column : columns) {
        if (column >= header.names.size())
            return "there is no column " + std::to_string(column + 1) + "; the file has " +
                   std::to_string(header.names.size()) + " columns";
        if (seen[column])
            return "column " + std::to_string(column + 1) + " is selected twice";
        seen[column] = true;
    }
    return {};
}

// Calls progress at the start, then at most about four times a second.
class progress_pacer {
  public:
    explicit progress_pacer(const progress_sink& sink) : sink_(sink) {}
    void tell(std::uint64_t done, std::uint64_t total, bool always) {
        if (!sink_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (always || now - last_ >= std::chrono::milliseconds(250)) {
            last_ = now;
            sink_(done, total);
        }
    }

  private:
    const progress_sink& sink_;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

// ---------------------------------------------------------------------------
// The public functions

data_header read_header(byte_source& source) {
    data_header header;
    chunk_buffer buffer(source);
    const char* p = nullptr;
    long long line = 0;
    header.ok = open_header(source, buffer, header, p, line);
    if (!header.ok)
        header.names.clear();
    return header;
}

scan_counts scan_rows(byte_source& source, const data_header& header,
                      const std::vector<std::size_t>& columns, const row_sink& sink,
                      const progress_sink& progress, bool rounding, bool keep_missing,
                      const scan_hooks* hooks) {
    scan_counts counts;
    counts.error = check_columns(header, columns);
    if (!counts.error.empty())
        return counts;
    chunk_buffer buffer(source);
    const char* p = nullptr;
    long long line = 0;
    if (!reopen(source, buffer, header, p, line, counts.error))
        return counts;

    row_scanner scanner(header, columns, hooks);
    std::vector<long long>* lines = hooks ? hooks->lines : nullptr;
    if (lines)
        lines->assign(scan_block_rows, 0);
    scanner.line = line;
    const std::size_t values = columns.size();
    const std::size_t width = rounding ? 2 * values : values;
    std::vector<double> block(scan_block_rows * width);
    std::size_t filled = 0;
    progress_pacer pacer(progress);
    const std::uint64_t total = source.size();
    pacer.tell(0, total, true);

    auto flush = [&]() {
        const bool more = filled == 0 || !sink || sink(block.data(), filled);
        filled = 0;
        return more;
    };

    for (;;) {
        double* row = block.data() + filled * width;
        const row_status status =
            scanner.read_row(p, buffer.end(), row, rounding ? row + values : nullptr);
        switch (status) {
        case row_status::used:
            if (lines)
                (*lines)[filled] = scanner.line - 1;
            ++counts.rows;
            ++counts.used;
            if (++filled == scan_block_rows && !flush()) {
                counts.stopped = true;
                counts.ok = true;
                return counts;
            }
            continue;
        case row_status::missing:
            ++counts.rows;
            ++counts.skipped;
            if (!keep_missing)
                continue;
            if (lines)
                (*lines)[filled] = scanner.line - 1;
            if (++filled == scan_block_rows && !flush()) {
                counts.stopped = true;
                counts.ok = true;
                return counts;
            }
            continue;
        case row_status::blank:
            continue;
        case row_status::failed:
            counts.error = scanner.error;
            return counts;
        case row_status::need_more:
            break;
        }
        const more next = read_more(source, buffer, p, scanner.line, counts.error);
        if (next == more::failed)
            return counts;
        if (next == more::end)
            break;
        pacer.tell(buffer.bytes_read(), total, false);
    }
    if (!flush()) {
        counts.stopped = true;
    }
    pacer.tell(buffer.bytes_read(), total, true);
    if (counts.rows == 0) {
        counts.error = "the file has no data rows, only the header line";
        return counts;
    }
    counts.ok = true;
    return counts;
}

// ---------------------------------------------------------------------------
// The scan on several threads

namespace {

// The first byte after the first line end at or after offset - 1 (a line's
// start at or after offset); false when none lies within max_line_bytes.
bool line_start_from(const byte_source& source, std::uint64_t offset, std::uint64_t& start) {
    const std::unique_ptr<byte_source> reading = source.open_at(offset - 1);
    if (!reading)
        return false;
    std::vector<char> bytes(std::size_t{64} << 10);
    std::uint64_t at = offset - 1;
    while (at - (offset - 1) < max_line_bytes) {
        const std::size_t got = reading->read(bytes.data(), bytes.size());
        if (got == 0)
            return false;
        const void* newline = std::memchr(bytes.data(), '\n', got);
        if (newline != nullptr) {
            start = at +
                    static_cast<std::uint64_t>(static_cast<const char*>(newline) - bytes.data()) +
                    1;
            return true;
        }
        at += got;
    }
    return false;
}

// One range's reading: [begin, end) of the source, the last range to the
// end of the file. ok when every row was read and the last record ended
// exactly at end.
struct range_reading {
    std::uint64_t begin = 0, end = 0;
    bool last = false;
    row_sink sink;
    scan_counts counts;
    std::atomic<std::uint64_t> bytes{0};
};

void read_range(const byte_source& source, const data_header& header,
                const std::vector<std::size_t>& columns, range_reading& range,
                std::atomic<bool>& stop) {
    const std::unique_ptr<byte_source> reading = source.open_at(range.begin);
    if (!reading)
        return;
    chunk_buffer buffer(*reading);
    buffer.refill(buffer.begin());
    const char* p = buffer.begin();
    row_scanner scanner(header, columns);
    const std::size_t width = columns.size();
    std::vector<double> block(scan_block_rows * width);
    std::size_t filled = 0;
    scan_counts& counts = range.counts;
    auto flush = [&]() {
        const bool more = filled == 0 || range.sink(block.data(), filled);
        filled = 0;
        return more && !stop.load(std::memory_order_relaxed);
    };
    for (;;) {
        if (!range.last) {
            const std::uint64_t at =
                range.begin + buffer.bytes_read() - static_cast<std::uint64_t>(buffer.end() - p);
            if (at >= range.end) {
                counts.ok = at == range.end && flush();
                return;
            }
        }
        const row_status status = scanner.read_row(p, buffer.end(), block.data() + filled * width);
        if (status == row_status::used) {
            ++counts.rows;
            ++counts.used;
            if (++filled == scan_block_rows && !flush())
                return;
            continue;
        }
        if (status == row_status::missing) {
            ++counts.rows;
            ++counts.skipped;
            continue;
        }
        if (status == row_status::blank)
            continue;
        if (status == row_status::failed)
            return;
        const more next = read_more(*reading, buffer, p, scanner.line, counts.error);
        range.bytes.store(buffer.bytes_read(), std::memory_order_relaxed);
        if (next == more::failed)
            return;
        if (next == more::end) {
            // A range short of its end: the file ended before it.
            counts.ok = range.last && flush();
            return;
        }
    }
}

} // namespace

bool scan_rows_split(byte_source& source, const data_header& header,
                     const std::vector<std::size_t>& columns, int threads,
                     const range_sinks& sink_of, scan_counts& counts,
                     const progress_sink& progress) {
    const std::uint64_t size = source.size();
    if (threads < 2 || size < split_bytes_min || !check_columns(header, columns).empty())
        return false;
    // Where the data rows start: after the header, read again.
    std::uint64_t data_start = 0;
    {
        chunk_buffer buffer(source);
        const char* p = nullptr;
        long long line = 0;
        std::string error;
        if (!reopen(source, buffer, header, p, line, error))
            return false;
        data_start = buffer.bytes_read() - static_cast<std::uint64_t>(buffer.end() - p);
    }
    if (data_start >= size)
        return false;
    // More ranges than threads, taken in turn by whichever thread is free:
    // a thread slowed by the rest of the machine then holds up the end by
    // a fraction of a range, not by half the file.
    const std::uint64_t wanted = std::min<std::uint64_t>(
        {static_cast<std::uint64_t>(threads) * ranges_per_thread,
         std::max<std::uint64_t>(static_cast<std::uint64_t>(threads), ranges_max),
         std::max<std::uint64_t>(2, (size - data_start) / range_bytes_min)});
    std::vector<std::uint64_t> starts{data_start};
    for (std::uint64_t k = 1; k < wanted; ++k) {
        const std::uint64_t nominal = data_start + (size - data_start) * k / wanted;
        std::uint64_t start = 0;
        if (nominal > data_start && line_start_from(source, nominal, start) &&
            start > starts.back() && start < size)
            starts.push_back(start);
    }
    const int ranges = static_cast<int>(starts.size());
    if (ranges < 2)
        return false;
    std::vector<range_reading> readings(static_cast<std::size_t>(ranges));
    for (int k = 0; k < ranges; ++k) {
        range_reading& r = readings[static_cast<std::size_t>(k)];
        r.begin = starts[static_cast<std::size_t>(k)];
        r.last = k + 1 == ranges;
        r.end = r.last ? size : starts[static_cast<std::size_t>(k) + 1];
        r.sink = sink_of(k, ranges);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> next{0};
    // Workers done, under done_mutex: the caller wakes as the last ends
    // rather than at its next progress tick.
    int finished = 0;
    std::mutex done_mutex;
    std::condition_variable done;
    const int workers_wanted = std::min(threads, ranges);
    std::vector<std::thread> workers;
    progress_pacer pacer(progress);
    pacer.tell(0, size, true);
    // Each worker reads the next range not yet taken, in the file's order,
    // until none is left or a range fails; every range is read by one
    // thread, so its sink sees its rows in order.
    const auto work = [&] {
        for (int k = next++; k < ranges && !stop.load(); k = next++) {
            range_reading& r = readings[static_cast<std::size_t>(k)];
            read_range(source, header, columns, r, stop);
            if (!r.counts.ok)
                stop = true;
            static const double none = 0;
            if (r.sink)
                r.sink(&none, 0);
        }
        {
            std::lock_guard<std::mutex> lock(done_mutex);
            ++finished;
        }
        done.notify_one();
    };
    try {
        for (int t = 0; t < workers_wanted; ++t)
            workers.emplace_back(work);
    } catch (...) {
        // No thread to be had: those started are stopped and joined.
        stop = true;
        for (std::thread& t : workers)
            t.join();
        return false;
    }
    {
        std::unique_lock<std::mutex> lock(done_mutex);
        while (!done.wait_for(lock, std::chrono::milliseconds(50),
                              [&] { return finished == workers_wanted; })) {
            std::uint64_t bytes = 0;
            for (const range_reading& r : readings)
                bytes += r.bytes.load(std::memory_order_relaxed);
            pacer.tell(std::min(bytes, size), size, false);
        }
    }
    for (std::thread& t : workers)
        t.join();
    scan_counts merged;
    for (const range_reading& r : readings) {
        if (!r.counts.ok)
            return false;
        merged.rows += r.counts.rows;
        merged.used += r.counts.used;
        merged.skipped += r.counts.skipped;
    }
    if (merged.rows == 0)
        return false;
    pacer.tell(size, size, true);
    merged.ok = true;
    counts = merged;
    return true;
}

number_field read_number_field(const std::string& text, const data_header& header, double& value,
                               std::string& problem) {
    if (text.empty() || text == "NA" || text == "NaN" || text == ".") {
        value = std::numeric_limits<double>::quiet_NaN();
        return number_field::missing;
    }
    if (text.find('\0') != std::string::npos) {
        problem = nul_message;
        return number_field::bad;
    }
    const auto parse_whole = [&](const char* first, const char* last, char point) {
        const fast_float::parse_options options(fast_float::chars_format::general, point);
        const auto parsed = fast_float::from_chars_advanced(first, last, value, options);
        return parsed.ec == std::errc() && parsed.ptr == last;
    };
    const char* first = text.data();
    const char* last = first + text.size();
    // A leading '+' is accepted, but only before a digit or a point.
    if (*first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
        ++first;
    if (!parse_whole(first, last, header.decimal_comma ? ',' : '.') &&
        !(header.decimal_comma && parse_whole(first, last, '.'))) {
        value = 0; // finite: callers tell text from a number out of range by it
        problem = shown(text) + " is not a number";
        return number_field::bad;
    }
    if (!std::isfinite(value)) {
        problem = shown(text) + " is not a finite number";
        return number_field::bad;
    }
    return number_field::number;
}

record_counts scan_records(byte_source& source, const data_header& header,
                           const record_sink& sink) {
    record_counts counts;
    chunk_buffer buffer(source);
    const char* p = nullptr;
    long long line = 0;
    if (!reopen(source, buffer, header, p, line, counts.error))
        return counts;
    std::vector<std::string> fields;
    for (;;) {
        while (p < buffer.end() && is_line_end(p) && newline_of(p) < buffer.end()) {
            p = newline_of(p) + 1;
            ++line;
        }
        long long newlines = 0;
        const char* q = p;
        const step result = q < buffer.end() ? split_record(q, buffer.end(), header.delimiter,
                                                            fields, line, newlines, counts.error)
                                             : step::need_more;
        if (result == step::failed)
            return counts;
        if (result == step::ok) {
            bool blank = true;
            for (const auto& field : fields)
                blank = blank && field.empty();
            if (!blank) {
                ++counts.records;
                if (!sink(line, fields)) {
                    counts.ok = true;
                    return counts;
                }
            }
            p = q;
            line += 1 + newlines;
            continue;
        }
        const more next = read_more(source, buffer, p, line, counts.error);
        if (next == more::failed)
            return counts;
        if (next == more::end)
            break;
    }
    counts.ok = true;
    return counts;
}

preview_lines read_preview(byte_source& source, std::size_t max_lines, std::size_t max_chars) {
    preview_lines preview;
    if (!source.rewind()) {
        preview.error = source.error().empty() ? "cannot read the file" : source.error();
        return preview;
    }
    std::string bytes(64 * 1024, '\0');
    std::size_t size = 0;
    while (size < bytes.size()) {
        const std::size_t got = source.read(&bytes[size], bytes.size() - size);
        if (got == 0)
            break;
        size += got;
    }
    bytes.resize(size);
    if (!source.error().empty()) {
        preview.error = source.error();
        return preview;
    }
    if (bytes.size() >= 2 &&
        (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
        preview.error = utf16_message;
        return preview;
    }
    std::size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < bytes.size() && preview.lines.size() < max_lines) {
        std::size_t stop = bytes.find('\n', at);
        const bool whole = stop != std::string::npos;
        if (!whole)
            stop = bytes.size();
        std::string line = bytes.substr(at, stop - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find('\0') != std::string::npos) {
            preview.error = nul_message;
            preview.lines.clear();
            return preview;
        }
        if (line.size() > max_chars) {
            // Cut before a UTF-8 continuation byte, not inside a character.
            std::size_t cut = max_chars;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                --cut;
            line.resize(cut);
        }
        preview.lines.push_back(std::move(line));
        if (!whole)
            break;
        at = stop + 1;
    }
    preview.ok = true;
    return preview;
}

} // namespace models

namespace models {

double decimal_rounding(const char* first, const char* last, char point, double value) {
    bool negative = false;
    if (first < last && (*first == '+' || *first == '-'))
        negative = *first++ == '-';
    // Up to 19 significant digits fit a 64-bit integer exactly, and so the
    // 64-bit significand of extended precision.
    std::uint64_t digits = 0;
    int significant = 0, exponent = 0;
    bool any = false, after_point = false;
    for (; first < last; ++first) {
        if (*first == point && !after_point) {
            after_point = true;
            continue;
        }
        if (*first < '0' || *first > '9')
            break;
        any = true;
        const int digit = *first - '0';
        if (digits == 0 && digit == 0) {
            exponent -= after_point ? 1 : 0;
            continue;
        }
        if (significant == 19) {
            if (digit != 0)
                return 0;
            exponent += after_point ? 0 : 1;
            continue;
        }
        digits = digits * 10 + static_cast<std::uint64_t>(digit);
        ++significant;
        exponent -= after_point ? 1 : 0;
    }
    if (!any)
        return 0;
    if (first < last && (*first == 'e' || *first == 'E')) {
        ++first;
        bool minus = false;
        if (first < last && (*first == '+' || *first == '-'))
            minus = *first++ == '-';
        int e = 0;
        for (; first < last && *first >= '0' && *first <= '9'; ++first)
            e = e < 1000 ? e * 10 + (*first - '0') : e;
        exponent += minus ? -e : e;
    }
    if (first != last || digits == 0 || exponent < -27 || exponent > 27)
        return 0;
    // 10^27 = 2^27 5^27 and 5^27 < 2^64: every power up to it is exact, so the
    // one product or quotient below rounds once, to extended precision.
    long double power = 1;
    for (int k = 0; k < (exponent < 0 ? -exponent : exponent); ++k)
        power *= 10;
    long double exact = static_cast<long double>(digits);
    exact = exponent < 0 ? exact / power : exact * power;
    if (negative)
        exact = -exact;
    return static_cast<double>(exact - static_cast<long double>(value));
}

} // namespace models
