#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace models {

namespace {

// Powers of ten a double holds exactly: a division by one of them is
// correctly rounded, so whole / 10^k is the double that the decimal text
// "whole × 10^-k" reads as.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Below this, fixed notation ("0.000123") is never shorter than scientific
// ("1.23e-04"); from 2^51 on, no fraction digit is certain (see below).
constexpr double smallest_fast = 1e-3;
constexpr double largest_fast = 2251799813685248.0; // 2^51
constexpr double log10_of_2 = 0.30102999566398120;

constexpr std::uint64_t powers_of_ten[] = {1,
                                           10,
                                           100,
                                           1000,
                                           10000,
                                           100000,
                                           1000000,
                                           10000000,
                                           100000000,
                                           1000000000,
                                           10000000000,
                                           100000000000,
                                           1000000000000,
                                           10000000000000,
                                           100000000000000,
                                           1000000000000000,
                                           10000000000000000,
                                           100000000000000000,
                                           1000000000000000000};

// The decimal digits of n (1 for 0; n below 10^18), from its bit length:
// 1233 / 4096 is just above log10(2).
int digit_count(std::uint64_t n) {
    const int bits = 64 - __builtin_clzll(n | 1);
    const int guess = (bits * 1233) >> 12;
    return guess + (n >= powers_of_ten[guess] ? 1 : 0);
}

// Removes up to most trailing zeros from n, returning how many (divisions
// by constants, which compile to multiplications).
int strip_zeros(std::uint64_t& n, int most) {
    int removed = 0;
    while (removed + 8 <= most && n % 100000000 == 0) {
        n /= 100000000;
        removed += 8;
    }
    if (removed + 4 <= most && n % 10000 == 0) {
        n /= 10000;
        removed += 4;
    }
    if (removed + 2 <= most && n % 100 == 0) {
        n /= 100;
        removed += 2;
    }
    if (removed + 1 <= most && n % 10 == 0) {
        n /= 10;
        removed += 1;
    }
    return removed;
}

// Writes n's digits so that they end at end; two at a time.
void put_digits(char* end, std::uint64_t n) {
    static constexpr char pairs[] = "00010203040506070809101112131415161718192021222324"
                                    "25262728293031323334353637383940414243444546474849"
                                    "50515253545556575859606162636465666768697071727374"
                                    "75767778798081828384858687888990919293949596979899";
    while (n >= 100) {
        const std::size_t pair = 2 * static_cast<std::size_t>(n % 100);
        n /= 100;
        *--end = pairs[pair + 1];
        *--end = pairs[pair];
    }
    if (n >= 10) {
        *--end = pairs[2 * n + 1];
        *--end = pairs[2 * n];
    } else {
        *--end = static_cast<char>('0' + n);
    }
}

} // namespace

char* put_shortest(char* at, double value) {
    return std::to_chars(at, at + number_text_room, value).ptr;
}

char* put_shortest_of_decimal(char* at, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= smallest_fast && magnitude < largest_fast))
        return put_shortest(at, value);
    // With 2^e <= magnitude < 2^(e+1), a unit in the last place is
    // 2^(e-52), and the decimals that read back as value lie within half of
    // it. With k fraction digits, where 10^-k is at least 4 such units
    // (10^k <= 2^(50-e)), at most one multiple of 10^-k lies there: any
    // shorter decimal that reads back is that multiple too. The scaled value
    // is off by at most a quarter, so rounding it finds the multiple, and
    // dividing back (exact powers, correctly rounded) checks it reads back.
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int e = static_cast<int>(bits >> 52) - 1023;
    const int k_most = static_cast<int>((50 - e) * log10_of_2);
    const double power = exact_powers_of_ten[k_most];
    std::uint64_t digits = static_cast<std::uint64_t>(magnitude * power + 0.5);
    if (static_cast<double>(digits) / power != magnitude)
        return put_shortest(at, value);
    // The shortest such decimal: the multiple without its trailing zeros.
    const int k = k_most - strip_zeros(digits, k_most);
    // Fixed notation unless scientific is shorter; an integer's own
    // trailing zeros are no digits of the scientific text.
    const int all_digits = digit_count(digits);
    std::uint64_t significant = digits;
    const int s = all_digits - (k == 0 ? strip_zeros(significant, all_digits - 1) : 0);
    const int integer_digits = all_digits > k ? all_digits - k : 1;
    const int fixed_length = integer_digits + (k > 0 ? k + 1 : 0);
    const int exponent = all_digits - 1 - k;
    const int scientific_length =
        s + (s > 1 ? 1 : 0) + 2 + (exponent >= 100 || exponent <= -100 ? 3 : 2);
    if (fixed_length > scientific_length)
        return put_shortest(at, value);
    if (std::signbit(value))
        *at++ = '-';
    char* const end = at + fixed_length;
    if (k == 0) {
        put_digits(end, digits);
        return end;
    }
    // All the digits, then the integer part moved one place left for the
    // point (with a "0" before a point that would lead).
    if (integer_digits > all_digits - k) {
        *at = '0';
        std::memset(at + 2, '0', static_cast<std::size_t>(k - all_digits));
    }
    put_digits(end, digits);
    if (integer_digits == all_digits - k)
        for (int i = 0; i < integer_digits; ++i)
            at[i] = at[i + 1];
    at[integer_digits] = '.';
    return end;
}

} // namespace models
