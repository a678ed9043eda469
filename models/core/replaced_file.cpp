#include "replaced_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace models {

namespace {

// Puts the finished temporary file in the target's place, replacing an
// existing file. Empty on success, else the reason.
std::string replace_file(const std::string& from, const std::string& to) {
#ifdef _WIN32
    // rename() on Windows refuses to replace an existing file.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD error = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "system error " + std::to_string(error) : reason;
#else
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return {};
    return system_reason(errno);
#endif
}

} // namespace

std::string system_reason(int error) {
    const char* text = std::strerror(error);
    return text ? text : "unknown error";
}

replaced_file::~replaced_file() {
    abandon();
}

bool replaced_file::fail(const std::string& reason) {
    error_ = "cannot write " + path_ + ": " + reason;
    abandon();
    return false;
}

bool replaced_file::open(const std::string& path) {
    abandon();
    path_ = path;
    error_.clear();
    write_error_ = 0;
    if (path.empty()) {
        error_ = "no file name given";
        return false;
    }
    temporary_ = path + ".partial";
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (!file_) {
        const int error = errno;
        temporary_.clear();
        return fail(system_reason(error));
    }
    return true;
}

void replaced_file::write(const char* data, std::size_t size) {
    if (!file_ || write_error_ != 0 || size == 0)
        return;
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size)
        write_error_ = errno ? errno : EIO;
}

bool replaced_file::finish() {
    if (!file_)
        return error_.empty() ? fail("the file was not opened") : false;
    int error = write_error_;
    errno = 0;
    if (std::fflush(file_) != 0 && error == 0)
        error = errno ? errno : EIO;
    if (std::fclose(file_) != 0 && error == 0)
        error = errno ? errno : EIO;
    file_ = nullptr;
    if (error != 0)
        return fail(system_reason(error));
    const std::string reason = replace_file(temporary_, path_);
    if (!reason.empty())
        return fail(reason);
    temporary_.clear();
    return true;
}

void replaced_file::abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace models
