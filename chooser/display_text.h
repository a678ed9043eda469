// Loads the explanatory text the chooser shows in its window: the first 42
// lines of a text file, each followed by CR LF.
#pragma once

inline constexpr int display_text_size = 0x20000; // 131072 bytes
inline constexpr int display_line_size = 2048;
inline constexpr int display_line_count = 42;
// Longest line kept: the line buffer must still hold CR, LF and NUL.
inline constexpr int display_line_max = display_line_size - 3;

inline constexpr const char display_text_path[] = "c:\\trelvane\\program\\program_Main.txt";

// The display text, drawn by the paint routine; lives as long as the process.
extern char titel_string[display_text_size];

// Clears text (capacity bytes) and fills it from the file at path, read in
// text mode: exactly 42 lines, each followed by CR LF (lines past the end of
// the file are empty), a line longer than 2045 bytes cut and the rest of it
// dropped. A file that cannot be opened leaves the text empty. Returns 0.
int load_display_text(const char* path, char* text, int capacity);
