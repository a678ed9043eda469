// What the model stand-in decides and says in its console dialogue: which
// model it plays, what a chosen data file looks like, which columns a typed
// selection text names. Portable; the console, the picker run and the file
// reads are the stand-in's Win32 part (model_stand_in.cpp).
#pragma once

#include "choice.h"

#include <cstddef>
#include <string>
#include <vector>

// Most bytes read from the start of a data file: its preview and its first
// line must lie within them, so a huge file costs no more than a small one.
inline constexpr std::size_t data_read_limit = 65536;
// Most lines of the data file shown, and most bytes of each line shown.
inline constexpr int preview_lines = 5;
inline constexpr std::size_t preview_width = 76;
// Most bytes of a column name shown, and most chosen columns listed.
inline constexpr std::size_t name_width = 60;
inline constexpr int listed_columns_max = 20;
// Longest selection text taken; a longer one is refused, not cut, since a
// cut text would name other columns than the user typed.
inline constexpr int selection_max = 200;
// Room for a typed answer: one byte more than selection_max shows that the
// line was longer, and the NUL.
inline constexpr int answer_room = selection_max + 2;

// The file name after the last backslash of a path.
const char* base_name(const char* path);

// The model whose program file name is file_name (letters in any case), or
// null.
const model_entry* model_named(const char* file_name);

// The column names of a header line of length bytes (no line feed): split at
// tabs when the line holds one, otherwise at commas; each name without the
// spaces around it, the last without a closing carriage return. An empty
// line names no columns.
std::vector<std::string> split_header(const char* line, std::size_t length);

// A data file as the dialogue shows it, from its first bytes.
struct data_view {
    std::vector<std::string> shown;   // lines to show, in order
    std::vector<std::string> columns; // the first line's names; empty: unusable
};

// size bytes from the start of the file; whole when they are all of it. A
// UTF-8 byte-order mark before the first line is skipped.
data_view view_data(const char* bytes, std::size_t size, bool whole);

// The path in the hand-off file's bytes: up to the first CR, LF or NUL.
// Empty when the user cancelled.
std::string chosen_path(const char* bytes, std::size_t size);

// The lines answering a typed selection text of typed bytes (quibscanf's
// count; more than selection_max means it was cut) against the columns: the
// chosen columns, numbered and named, or why the text was refused. The text
// loses its spaces.
std::vector<std::string> answer_selection(char* text, int typed,
                                          const std::vector<std::string>& columns);
