// Text that reaches a UTF-8 output (JSON, SVG): column names and paths come
// from files and command lines in whatever encoding they were saved, most
// often UTF-8 or the Windows ANSI code page.
#pragma once

#include <string>

namespace models {

// The text as well-formed UTF-8: UTF-8 sequences are kept, every other byte
// is read as a Windows-1252 character (undefined ones as U+FFFD).
std::string as_utf8(const std::string& text);

} // namespace models
