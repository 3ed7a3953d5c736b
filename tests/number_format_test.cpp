// The report's number formatting must print exactly what the C library's
// printf prints for the same conversion: compared byte for byte on hand-picked
// hard cases and on large seeded random sweeps.

#include "analysis/number_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// Longest text: "-", 309 digits, ".", one decimal; plus generous slack.
constexpr int buffer_size = 400;

std::string formatted_fixed(double value, int decimals) {
    char buffer[buffer_size];
    char* end = format_fixed(buffer, value, decimals);
    return std::string(buffer, end);
}

std::string printf_fixed(double value, int decimals) {
    char buffer[buffer_size];
    const int n = std::snprintf(buffer, sizeof buffer, decimals == 0 ? "%.0f" : "%.1f", value);
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Compares both precisions for every value and reports the first mismatches
// (a sweep could otherwise flood the output).
void expect_fixed_matches_printf(const std::vector<double>& values) {
    int mismatches = 0;
    for (const double value : values) {
        for (int decimals = 0; decimals <= 1; ++decimals) {
            const std::string got = formatted_fixed(value, decimals);
            const std::string want = printf_fixed(value, decimals);
            if (got == want) continue;
            if (++mismatches <= 10) {
                ADD_FAILURE() << "decimals " << decimals << ", value bits 0x" << std::hex
                              << std::bit_cast<std::uint64_t>(value) << std::dec << " ("
                              << want.substr(0, 60) << "): got \"" << got.substr(0, 60)
                              << "\", printf \"" << want.substr(0, 60) << "\"";
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << 2 * values.size() << " conversions";
}

double up(double x) {
    return std::nextafter(x, std::numeric_limits<double>::infinity());
}
double down(double x) {
    return std::nextafter(x, -std::numeric_limits<double>::infinity());
}

}  // namespace

TEST(FormatFixed, HardCasesMatchPrintf) {
    const double two52 = 4503599627370496.0;
    const double two53 = 9007199254740992.0;
    const double min_normal = std::numeric_limits<double>::min();
    const double min_subnormal = std::numeric_limits<double>::denorm_min();
    std::vector<double> values = {
        // Ties and near-ties in binary: 0.25, 0.75, 2.5 are exact halves;
        // 0.05, 0.15, 0.35 are not exactly representable.
        0.0, -0.0, 0.25, 0.75, 0.05, 0.15, 0.35, 0.45, 0.95, 2.5, 1.5, 0.5, 3.5, -0.5, -1.5, -2.5,
        -0.25, -0.75, -0.05, -0.04, -0.15, 9.95, 99.95, 1.0 / 3, -1.0 / 3, 2.0 / 3, 0.1 + 0.2,
        // Values that round to zero keep their sign.
        -1e-17, 1e-17, -1e-300, -0.049999999999999996,
        // Subnormals and the smallest normal.
        min_subnormal, -min_subnormal, 3 * min_subnormal, down(min_normal), min_normal, -min_normal,
        // The report's range and beyond: the sample limit, large whole numbers,
        // the edges of the integer-only path around 2^52 and 2^53.
        65535.0, 65534.5, 65535.25, 65535.75, -65535.0, 1258272000.0, 1e15, 1e15 + 0.5, 1e15 + 0.25,
        down(two52), two52 - 0.5, two52 - 0.25, two52, up(two52), two52 + 1, down(two53), two53,
        up(two53), -two53, 1e22, 1e28, 1e29, 1e30, 1e300, -1e300,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
        // Not produced by the analysis, but printed as printf does.
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    // Each neighbour of an exact tie (and of the doubles nearest to decimal
    // ties) decides the direction on its own.
    for (const double tie : {0.25, 0.75, 0.5, 1.5, 2.5, 0.05, 0.15, 0.35, 65534.5, 1e15 + 0.5,
                             -0.25, -0.5, -2.5, -0.05}) {
        values.push_back(down(tie));
        values.push_back(up(tie));
    }
    expect_fixed_matches_printf(values);
}

TEST(FormatFixed, SpecificTextsOfTheReport) {
    // The C library is the reference above; these pin the outputs the report's
    // rounding rules are stated with, in case that library were ever different.
    EXPECT_EQ(formatted_fixed(0.5, 0), "0");
    EXPECT_EQ(formatted_fixed(1.5, 0), "2");
    EXPECT_EQ(formatted_fixed(2.5, 0), "2");
    EXPECT_EQ(formatted_fixed(0.25, 1), "0.2");
    EXPECT_EQ(formatted_fixed(0.75, 1), "0.8");
    EXPECT_EQ(formatted_fixed(-0.25, 1), "-0.2");
    EXPECT_EQ(formatted_fixed(-1e-17, 1), "-0.0");
    EXPECT_EQ(formatted_fixed(-0.0, 1), "-0.0");
    EXPECT_EQ(formatted_fixed(65535.0, 0), "65535");
}

TEST(FormatFixed, RandomValuesInTheReportsRangesMatchPrintf) {
    std::mt19937_64 rng(20240611);
    std::vector<double> values;
    // Profile values and deviations: anywhere in about +-70,000.
    std::uniform_real_distribution<double> wide(-70000.0, 70000.0);
    for (int i = 0; i < 200000; ++i) values.push_back(wide(rng));
    // Small magnitudes, where the first decimal and the sign of zero matter.
    std::uniform_real_distribution<double> small(-2.0, 2.0);
    for (int i = 0; i < 100000; ++i) values.push_back(small(rng));
    // Quotients as the analysis forms them: sums over 19,200 pixels, over a
    // row of 160 or a column of 120, over a number of frames.
    std::uniform_int_distribution<std::int64_t> sum(0, std::int64_t{1258272000} * 4);
    std::uniform_int_distribution<int> frames(1, 1000);
    for (int i = 0; i < 100000; ++i) {
        const double s = static_cast<double>(sum(rng));
        values.push_back(s / 19200.0);
        values.push_back(std::fmod(s, 65536.0 * 160) / 160.0);
        values.push_back(std::fmod(s, 65536.0 * 120) / 120.0);
        values.push_back(std::fmod(s, 65536.0 * 1000) / frames(rng));
    }
    // Doubles next to decimal ties k/20 (the %.1f ties) and k/2 (the %.0f
    // ties), where a formatter that rounds the decimal text goes wrong.
    std::uniform_int_distribution<int> tie(-1400000, 1400000);
    for (int i = 0; i < 100000; ++i) {
        const double t = tie(rng) / 20.0;
        values.push_back(t);
        values.push_back(down(t));
        values.push_back(up(t));
        values.push_back(down(down(t)));
        values.push_back(up(up(t)));
    }
    expect_fixed_matches_printf(values);
}

TEST(FormatFixed, RandomBitPatternsMatchPrintf) {
    std::mt19937_64 rng(777);
    std::vector<double> values;
    // Every exponent equally likely, so huge, tiny and subnormal values and
    // the occasional infinity or NaN all come up.
    for (int i = 0; i < 100000; ++i) values.push_back(std::bit_cast<double>(rng()));
    // Exponents around the report's range (2^-60 to 2^60), random mantissas.
    std::uniform_int_distribution<int> exponent(1023 - 60, 1023 + 60);
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits =
            (rng() & 0x800FFFFFFFFFFFFFull) | static_cast<std::uint64_t>(exponent(rng)) << 52;
        values.push_back(std::bit_cast<double>(bits));
    }
    expect_fixed_matches_printf(values);
}

TEST(FormatInt, MatchesPrintfOnEdges) {
    const std::vector<int> signed_values = {0,  1,     -1,      9,       10,          -10,
                                            99, 100,   19199,   19200,   65535,       65536,
                                            -5, 12345, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1};
    for (const int value : signed_values) {
        char want[32];
        const int n = std::snprintf(want, sizeof want, "%d", value);
        char got[32];
        char* end = format_int(got, value);
        EXPECT_EQ(std::string(got, end), std::string(want, static_cast<std::size_t>(n)));
    }
    const std::vector<unsigned> unsigned_values = {0u, 1u, 65534u, 65535u, 65536u, UINT_MAX};
    for (const unsigned value : unsigned_values) {
        char want[32];
        const int n = std::snprintf(want, sizeof want, "%u", value);
        char got[32];
        char* end = format_int(got, value);
        EXPECT_EQ(std::string(got, end), std::string(want, static_cast<std::size_t>(n)));
    }
}
