// Typed-line input from standard input and small text routines for a
// console dialogue: command words, exact and case-folding comparison, and
// space removal. Portable: standard input is read with getchar.
#pragma once

// Reads one line from standard input into line, storing at most
// capacity - 1 bytes and a NUL (nothing at all when capacity <= 0). The line
// feed ends the line and is not stored; the bytes 0 to 20 other than the
// line feed (tab and carriage return among them) are dropped; every other
// byte, 128 to 255 included, is stored. The rest of an over-long line is
// read and dropped up to its line feed. Returns the number of bytes stored,
// or, when standard input ends before a line feed, the bitwise complement of
// that number (-1 when none were stored).
int quibscanf(char* line, int capacity);

// The same reading as quibscanf, with the same result. A leading "*" is
// stored like any other byte.
int quibscanf_spc(char* line, int capacity);

// 0 when the texts are equal byte for byte, else 1.
int strcomp(const char* text, const char* other);

// 0 for "END", -1 for "bye", 1 for a text made only of number characters
// (the empty text too), -100 for anything else.
int ret_comp(const char* text);

// Compares without regard to the case of "A" to "Z" (only those are folded);
// bytes count as signed 8-bit values. 0 when equal, otherwise the difference
// at the first position where the folded bytes differ or a text ends (there
// the unfolded bytes): negative when text sorts before other.
int strcompx(const char* text, const char* other);

// Removes every space (code 32) from text in place; returns 0.
int delete_blank(char* text);
