#include "report_reference.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {
constexpr int width = 160;
constexpr int height = 120;
constexpr int pixels = width * height;
constexpr int buffer_size = 40000;

template <typename... Args>
std::string print(const char* format, Args... args) {
    char text[128];
    const int n = std::snprintf(text, sizeof text, format, args...);
    return std::string(text, static_cast<std::size_t>(n));
}

// The bytes of a payload transfer: a 28-byte lead, then the samples
// little-endian, cut to the transfer's length.
std::vector<unsigned char> payload_bytes(const frame_spec& frame) {
    std::vector<unsigned char> bytes(28 + 2 * pixels, 0);
    for (int i = 0; i < pixels; ++i) {
        bytes[28 + 2 * i] = static_cast<unsigned char>(frame.pixels[i] & 0xFF);
        bytes[29 + 2 * i] = static_cast<unsigned char>(frame.pixels[i] >> 8);
    }
    bytes.resize(static_cast<std::size_t>(frame.payload_length), 0);
    return bytes;
}
}  // namespace

std::vector<emulator::in_item> frame_script(const std::vector<frame_spec>& frames) {
    std::vector<emulator::in_item> script;
    std::uint32_t sequence = 1;
    emulator::add_frame(script, sequence++, 0,
                        std::vector<std::uint16_t>(pixels, sync_pixel_value));
    for (const frame_spec& frame : frames) {
        script.push_back({emulator::make_header(sequence++, frame.type), emulator::in_end::ok});
        script.push_back(
            {emulator::make_payload(frame.pixels, frame.payload_length), emulator::in_end::ok});
    }
    return script;
}

std::string expected_frame_line(int index, const std::vector<std::uint16_t>& values,
                                const std::vector<std::uint16_t>* previous) {
    unsigned min = 65535;
    unsigned max = 0;
    int sum = 0;
    double change = 0.0;
    int compared = 0;
    for (int i = 0; i < pixels; ++i) {
        const unsigned v = values[i];
        min = std::min(min, v);
        max = std::max(max, v);
        sum += static_cast<int>(v);
        if (previous != nullptr) {
            change += std::abs(static_cast<int>(v) - static_cast<int>((*previous)[i]));
            ++compared;
        }
    }
    return print("FRAME %d type0 mean=%.0f min=%u max=%u meandelta=%.1f\n", index, sum / 19200.0,
                 min, max, compared != 0 ? change / compared : 0.0);
}

std::string expected_report(const std::vector<frame_spec>& captured) {
    // The payload buffer as the run sees it: a short payload leaves the bytes
    // of the one before it in place.
    std::vector<unsigned char> buffer(buffer_size, 0);
    const std::vector<unsigned char> sync =
        payload_bytes({0, std::vector<std::uint16_t>(pixels, sync_pixel_value)});
    std::copy(sync.begin(), sync.end(), buffer.begin());

    std::string report;
    std::vector<double> mean(pixels, 0.0);
    std::vector<std::uint16_t> previous;
    int type0 = 0;
    for (std::size_t index = 0; index < captured.size(); ++index) {
        const std::vector<unsigned char> bytes = payload_bytes(captured[index]);
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        if (captured[index].type != 0) continue;
        std::vector<std::uint16_t> values(pixels);
        for (int i = 0; i < pixels; ++i) {
            values[i] = static_cast<std::uint16_t>(buffer[28 + 2 * i] | buffer[29 + 2 * i] << 8);
            mean[i] += values[i];
        }
        report +=
            expected_frame_line(static_cast<int>(index), values, type0 > 0 ? &previous : nullptr);
        previous = values;
        ++type0;
    }
    if (type0 != 0) {
        for (double& m : mean) m /= type0;
    }

    std::vector<double> row(height);
    std::vector<double> col(width);
    for (int r = 0; r < height; ++r) {
        double sum = 0.0;
        for (int c = 0; c < width; ++c) sum += mean[r * width + c];
        row[r] = sum / 160.0;
    }
    for (int c = 0; c < width; ++c) {
        double sum = 0.0;
        for (int r = 0; r < height; ++r) sum += mean[r * width + c];
        col[c] = sum / 120.0;
    }
    report += "\nROW_PROFILE:\n";
    for (int r = 0; r < height; ++r) report += print("%d %.1f\n", r, row[r]);
    report += "\nCOL_PROFILE:\n";
    for (int c = 0; c < width; ++c) report += print("%d %.1f\n", c, col[c]);
    report += "\nPIXEL_DEVIATION (mean - row - col + global):\n";
    double sum = 0.0;
    for (int i = 0; i < pixels; ++i) sum += mean[i];
    const double global = sum / 19200.0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const double deviation = ((mean[r * width + c] - row[r]) - col[c]) + global;
            report += print("%d %d %.1f\n", c, r, deviation);
        }
    }
    return report;
}

std::vector<std::uint16_t> alternating_pixels(std::uint16_t even, std::uint16_t odd) {
    std::vector<std::uint16_t> values(pixels);
    for (int i = 0; i < pixels; ++i) values[i] = i % 2 == 0 ? even : odd;
    return values;
}

std::vector<std::uint16_t> random_pixels(unsigned seed, std::uint16_t low, std::uint16_t high) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(low, high);
    std::vector<std::uint16_t> values(pixels);
    for (auto& v : values) v = static_cast<std::uint16_t>(value(rng));
    return values;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));  // unterminated last line
    return lines;
}

std::string first_difference(const std::string& actual, const std::string& expected) {
    if (actual == expected) return "";
    const std::vector<std::string> a = split_lines(actual);
    const std::vector<std::string> e = split_lines(expected);
    for (std::size_t i = 0; i < std::min(a.size(), e.size()); ++i) {
        if (a[i] != e[i]) {
            return "line " + std::to_string(i + 1) + ": \"" + a[i] + "\", expected \"" + e[i] +
                   "\"";
        }
    }
    if (a.size() != e.size()) {
        return std::to_string(a.size()) + " lines, expected " + std::to_string(e.size());
    }
    return "same lines, different line ends";
}
