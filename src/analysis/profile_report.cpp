#include "analysis/profile_report.h"

#include <cstring>
#include <iterator>
#include <numeric>

#include "analysis/frame_analysis.h"
#include "analysis/frame_geometry.h"
#include "analysis/number_format.h"

namespace {
double g_mean_frame[pixel_count];
double g_row_profile[frame_height];
double g_col_profile[frame_width];

// Room for one row of the deviation table (160 lines of at most ~20 bytes).
char g_lines[frame_width * 32];

void compute_profiles(int type0_frames) {
    const std::uint64_t* sums = pixel_sums();
    for (int i = 0; i < pixel_count; ++i) {
        const double sum = static_cast<double>(sums[i]);
        g_mean_frame[i] = type0_frames != 0 ? sum / type0_frames : sum;
    }
    for (int r = 0; r < frame_height; ++r) {
        double sum = 0.0;
        for (int c = 0; c < frame_width; ++c) sum += g_mean_frame[r * frame_width + c];
        g_row_profile[r] = sum / 160.0;
    }
    // Each column is summed from row 0 down, as a column loop would; walking
    // the rows outermost keeps that order per column and reads memory in order.
    double col_sum[frame_width] = {};
    for (int r = 0; r < frame_height; ++r) {
        for (int c = 0; c < frame_width; ++c) col_sum[c] += g_mean_frame[r * frame_width + c];
    }
    for (int c = 0; c < frame_width; ++c) g_col_profile[c] = col_sum[c] / 120.0;
}

void write_profile(std::FILE* report, const char* heading, const double* profile, int length) {
    std::fputs(heading, report);
    char* p = g_lines;
    for (int i = 0; i < length; ++i) {
        p = format_int(p, i);
        *p++ = ' ';
        p = format_fixed(p, profile[i], 1);
        *p++ = '\n';
    }
    std::fwrite(g_lines, 1, static_cast<std::size_t>(p - g_lines), report);
}

void write_deviation(std::FILE* report) {
    std::fputs("\nPIXEL_DEVIATION (mean - row - col + global):\n", report);
    // Summed in pixel order from 0.0, as the last digit depends on the order.
    const double sum = std::accumulate(std::begin(g_mean_frame), std::end(g_mean_frame), 0.0);
    const double global_mean = sum / 19200.0;

    for (int r = 0; r < frame_height; ++r) {
        char* p = g_lines;
        for (int c = 0; c < frame_width; ++c) {
            const double deviation =
                ((g_mean_frame[r * frame_width + c] - g_row_profile[r]) - g_col_profile[c]) +
                global_mean;
            p = format_int(p, c);
            *p++ = ' ';
            p = format_int(p, r);
            *p++ = ' ';
            p = format_fixed(p, deviation, 1);
            *p++ = '\n';
        }
        std::fwrite(g_lines, 1, static_cast<std::size_t>(p - g_lines), report);
    }
}
}  // namespace

void reset_profiles() {
    std::memset(g_row_profile, 0, sizeof g_row_profile);
    std::memset(g_col_profile, 0, sizeof g_col_profile);
}

void write_profile_sections(std::FILE* report, int type0_frames) {
    compute_profiles(type0_frames);
    write_profile(report, "\nROW_PROFILE:\n", g_row_profile, frame_height);
    write_profile(report, "\nCOL_PROFILE:\n", g_col_profile, frame_width);
    write_deviation(report);
}
