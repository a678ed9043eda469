// Selection texts of item numbers, such as "1,3,5" or "2~4,6", turned into
// the ascending list of the distinct numbers they name among the items
// 1..count. The parsers edit the text in place (its spaces are removed) and
// write the caller's result array of count entries.
#pragma once

// Removes every space (code 32, and only that byte) from text in place;
// returns the new length.
int check_blank(char* text);

// Copies source[start] .. source[end - 1] to destination and ends it with a
// NUL; returns the number of bytes copied (0 when start >= end). The source's
// NUL is not looked at: the caller keeps end within the text.
int stringcut(const char* source, int start, int end, char* destination);

// Comma-separated item numbers. Each item's value is its leading number
// (clamped to the signed 32-bit range); values outside 1..count are dropped.
// Stores the distinct values ascending from result[0], fills the entries up
// to result[count - 1] with 0, and returns how many it stored. Never fails.
int separate_command(char* text, int* result, int count);

// As separate_command, and also "lower~upper" ranges. Returns -1, leaving
// the result array untouched, when the cleaned text ends in "~" (a single
// trailing comma aside), when two commas or two tildes stand together, when
// a range's upper bound is outside 1..count, or when its lower bound exceeds
// its upper bound.
int separate_command_spc(char* text, int* result, int count);
