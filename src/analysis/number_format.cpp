#include "analysis/number_format.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace {
constexpr int room = 32;
// The longest fixed-point text of a finite double: "-", 309 digits, ".", one
// decimal.
constexpr int room_any_double = 312;
}  // namespace

char* format_int(char* p, long long value) {
    return std::to_chars(p, p + room, value).ptr;
}

char* format_text(char* p, const char* text) {
    const std::size_t length = std::strlen(text);
    // Not a C string that lost its terminator (a false positive): this is one
    // piece of a line that is written out by length; the next piece goes
    // where this one ends.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    std::memcpy(p, text, length);
    return p + length;
}

char* format_fixed(char* p, double value, int decimals) {
    // A double is m x 2^-s with an integer m below 2^53. Below 2^52 the shift s
    // is at least 1, so m x 10^decimals (below 2^57) can be rounded to a whole
    // number of tenths exactly, in integer arithmetic.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased_exponent = static_cast<int>(bits >> 52 & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t m = biased_exponent == 0 ? fraction : fraction | std::uint64_t{1} << 52;
    const int s = biased_exponent == 0 ? 1074 : 1075 - biased_exponent;
    if (s < 1) {
        // Very large, infinite or not a number: never produced by the analysis,
        // but still printed in full.
        return std::to_chars(p, p + room_any_double, value, std::chars_format::fixed, decimals).ptr;
    }

    const std::uint64_t scale = decimals == 0 ? 1 : 10;
    const std::uint64_t scaled = m * scale;
    std::uint64_t units = 0;  // the value in 10^-decimals, rounded
    if (s <= 57) {
        const std::uint64_t remainder = scaled & ((std::uint64_t{1} << s) - 1);
        const std::uint64_t half = std::uint64_t{1} << (s - 1);
        units = scaled >> s;
        if (remainder > half || (remainder == half && (units & 1) != 0)) ++units;
    }  // else the value is below half a unit: 0

    if (bits >> 63 != 0) *p++ = '-';
    p = std::to_chars(p, p + room, units / scale).ptr;
    if (decimals == 1) {
        *p++ = '.';
        *p++ = static_cast<char>('0' + units % 10);
    }
    return p;
}
