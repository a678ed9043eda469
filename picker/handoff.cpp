#include "handoff.h"

#include "ansi_path.h"

#include <cstdio>
#include <cstring>

handoff_line build_handoff_line(const char* buffer, std::size_t buffer_size) {
    handoff_line line;
    const std::size_t room = buffer_size < path_max ? buffer_size : path_max;
    const void* nul = std::memchr(buffer, '\0', room);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : room;
    std::memcpy(line.bytes.data(), buffer, length);
    line.bytes[length] = '\r';
    line.bytes[length + 1] = '\n';
    line.size = length + 2;
    return line;
}

int open_failure_code(std::uint32_t system_error) {
    if (system_error >= 19 && system_error <= 31) {
        return static_cast<int>(system_error) + 131;
    }
    if (system_error == 32) {
        return failure_sharing_violation;
    }
    const int code = static_cast<int>(system_error & 0xFFFFu);
    return code != 0 ? code : failure_open_unknown;
}

namespace {

// Appends "  0x" and the offset as 8 uppercase hexadecimal digits, CR LF.
void append_address_line(error_report& report, std::uintptr_t offset) {
    const int written =
        std::snprintf(report.bytes.data() + report.size, report.bytes.size() - report.size,
                      "  0x%08lX\r\n", static_cast<unsigned long>(offset & 0xFFFFFFFFu));
    report.size += static_cast<std::size_t>(written);
}

} // namespace

error_report format_error_report(int code, std::uintptr_t location,
                                 const std::uintptr_t* return_addresses, std::size_t count,
                                 std::uintptr_t image_base, std::uintptr_t image_size) {
    error_report report;
    const std::uintptr_t location_offset = location - image_base;
    const int written =
        std::snprintf(report.bytes.data(), report.bytes.size(), "Runtime error %d at 0x%08lX\r\n",
                      code, static_cast<unsigned long>(location_offset & 0xFFFFFFFFu));
    report.size = static_cast<std::size_t>(written);
    append_address_line(report, location_offset);
    for (std::size_t i = 0; i < count && i < report_max_addresses; ++i) {
        const std::uintptr_t offset = return_addresses[i] - image_base;
        if (return_addresses[i] < image_base || offset >= image_size) {
            break;
        }
        append_address_line(report, offset);
    }
    report.bytes[report.size++] = '\r';
    report.bytes[report.size++] = '\n';
    return report;
}

int write_handoff(const wchar_t* path_buffer, std::size_t buffer_size, ansi_code_page& code_page,
                  handoff_files& files) {
    const ansi_path path = choose_ansi_path(path_buffer, buffer_size, code_page);
    const handoff_line line = build_handoff_line(path.bytes.data(), path.bytes.size());

    const std::uint32_t open_error = files.open(handoff_path);
    if (open_error != 0) {
        const int code = open_failure_code(open_error);
        files.fail(code);
        return code;
    }

    if (!files.write(line.bytes.data(), line.size)) {
        files.fail(failure_write);
        return failure_write;
    }

    files.close();

    if (path.form == ansi_path_form::none) {
        files.fail(failure_no_ansi_form);
        return failure_no_ansi_form;
    }
    return 0;
}
