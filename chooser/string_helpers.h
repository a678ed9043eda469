// Helpers over 8-bit, NUL-terminated text in caller-owned buffers, used by
// the chooser and the console input kit instead of the standard string
// functions. Lengths and positions are signed 32-bit byte counts.
#pragma once

#include <cstdio>

// Number of bytes before the first NUL.
int lens(const char* text);

// Appends source to destination; returns the destination's new length.
int strplus(char* destination, const char* source);

// Sets the first count bytes to NUL (nothing for count <= 0); returns 0.
int clearstring(char* buffer, int count);

// 1 when every byte is a digit or one of . , - + ~ (also for ""), else -100.
int check_string_number(const char* text);

// Sets exactly the first 100 bytes of buffer to NUL; returns 0.
int blank(char* buffer);

// The text's length (the number check is consulted but does not change it).
int length_string(const char* text);

// Reads one line from stream into line, storing at most capacity - 1 bytes
// and a NUL. The line feed ends the line and is not stored; the rest of an
// over-long line is read and dropped up to and including its line feed.
// Returns 0 after a line feed, or ~stored (the bitwise complement of the
// number of bytes stored) when the stream ended first: -1 for nothing.
int get_string(std::FILE* stream, char* line, int capacity);

// The integer value of a text as the standard conversion reads it (leading
// white space, an optional sign, then digits up to the first other byte; 0
// when there are none), but clamped to INT_MIN..INT_MAX instead of wrapping.
int clamped_atoi(const char* text);
