// Numbers written into CSV files as the shortest text that reads back as
// the same double, exactly as std::to_chars(first, last, value) writes it
// (fixed or scientific, whichever is shorter, fixed on a tie), at a pointer
// into a buffer with at least number_text_room bytes free.
#pragma once

#include <cstddef>

namespace models {

// Room enough for any double's shortest text ("-2.2250738585072014e-308").
constexpr std::size_t number_text_room = 32;

// The shortest text of value; returns the end of what was written.
char* put_shortest(char* at, double value);

// The same text, found faster for values that came from short decimal text
// (data as read: "124.64805", "-3", "0.25"): such a value is the only
// multiple of 10^-k near it for the fewest digits k, found by scaling and
// rounding and checked by dividing back exactly. Other values (and those
// that scientific notation writes shorter) go to put_shortest.
char* put_shortest_of_decimal(char* at, double value);

} // namespace models
