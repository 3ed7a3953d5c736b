// The report of whole runs against the libusb stand-in: per-frame lines,
// profiles and deviations, checked against texts written out here or computed
// by the independent model in report_reference.

#include <gtest/gtest.h>

#include <clocale>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "report_reference.h"
#include "tool_harness.h"

namespace {

constexpr int section_lines = 19486;  // three headings with their empty lines, 120 + 160 + 19,200

std::vector<std::uint16_t> flat(std::uint16_t value) {
    return flat_pixels(value);
}

// The three sections, written out from the text of each value.
std::string sections(const std::function<std::string(int)>& row,
                     const std::function<std::string(int)>& col,
                     const std::function<std::string(int, int)>& deviation) {
    std::string text = "\nROW_PROFILE:\n";
    for (int r = 0; r < 120; ++r) text += std::to_string(r) + " " + row(r) + "\n";
    text += "\nCOL_PROFILE:\n";
    for (int c = 0; c < 160; ++c) text += std::to_string(c) + " " + col(c) + "\n";
    text += "\nPIXEL_DEVIATION (mean - row - col + global):\n";
    for (int r = 0; r < 120; ++r) {
        for (int c = 0; c < 160; ++c) {
            text += std::to_string(c) + " " + std::to_string(r) + " " + deviation(c, r) + "\n";
        }
    }
    return text;
}

std::string all_zero_sections() {
    return sections([](int) { return "0.0"; }, [](int) { return "0.0"; },
                    [](int, int) { return "0.0"; });
}

struct run_result {
    tool_run run;
    std::string path;
    std::string report;
};

// One device streaming a synchronisation frame and then `frames`; the tool
// runs with the count argument `count`.
run_result run_with_frames(const std::vector<frame_spec>& frames, const std::string& count) {
    fake_usb::reset();
    fake_usb::add_device({.settings = scripted(frame_script(frames))});
    run_result result;
    result.path = temp_dir() + "/report.txt";
    result.run = run_tool({count, result.path});
    result.report = read_file(result.path);
    return result;
}

std::string summary(int frames, int type0, int type1, const std::string& path) {
    return "captured " + std::to_string(frames) + " frames (type0=" + std::to_string(type0) +
           " type1=" + std::to_string(type1) + ") -> " + path + "\n";
}

std::string without_line_end(std::string line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

// Line numbers and headings of a report with `frame_lines` per-frame lines.
void expect_report_layout(const std::string& report, int frame_lines) {
    const std::vector<std::string> lines = split_lines(report);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(frame_lines + section_lines));
    ASSERT_EQ(report.back(), '\n');
    for (int i = 0; i < frame_lines; ++i) EXPECT_EQ(lines[i].rfind("FRAME ", 0), 0u) << i;
    const std::size_t f = static_cast<std::size_t>(frame_lines);
    EXPECT_EQ(lines[f], "");
    EXPECT_EQ(lines[f + 1], "ROW_PROFILE:");
    for (int r = 0; r < 120; ++r) EXPECT_EQ(lines[f + 2 + r].rfind(std::to_string(r) + " ", 0), 0u);
    EXPECT_EQ(lines[f + 122], "");
    EXPECT_EQ(lines[f + 123], "COL_PROFILE:");
    for (int c = 0; c < 160; ++c) {
        EXPECT_EQ(lines[f + 124 + c].rfind(std::to_string(c) + " ", 0), 0u);
    }
    EXPECT_EQ(lines[f + 284], "");
    EXPECT_EQ(lines[f + 285], "PIXEL_DEVIATION (mean - row - col + global):");
    for (int r = 0; r < 120; ++r) {
        for (int c = 0; c < 160; ++c) {
            const std::string& line = lines[f + 286 + r * 160 + c];
            ASSERT_EQ(line.rfind(std::to_string(c) + " " + std::to_string(r) + " ", 0), 0u) << line;
        }
    }
}

}  // namespace

// ---- Per-frame lines -------------------------------------------------------

struct frame_lines_case {
    std::string name;
    std::vector<frame_spec> frames;  // all of them are captured
    std::vector<std::string> lines;  // the expected per-frame lines
    int type0 = 0;
    int type1 = 0;
};

void PrintTo(const frame_lines_case& c, std::ostream* os) {
    *os << c.name;
}

class FrameLines : public testing::TestWithParam<frame_lines_case> {};

std::vector<frame_lines_case> frame_lines_cases() {
    const auto a = random_pixels(1, 0, 4000);
    const auto b = random_pixels(2, 0, 4000);
    const auto x = random_pixels(3, 30000, 65535);
    return {
        {"MeanTiesRoundToEven",  // means of exactly 0.5, 1.5 and 2.5
         {{0, alternating_pixels(0, 1)},
          {0, alternating_pixels(1, 2)},
          {0, alternating_pixels(2, 3)}},
         {"FRAME 0 type0 mean=0 min=0 max=1 meandelta=0.0",
          "FRAME 1 type0 mean=2 min=1 max=2 meandelta=1.0",
          "FRAME 2 type0 mean=2 min=2 max=3 meandelta=1.0"},
         3,
         0},
        {"ExtremeSamples",
         {{0, flat(0)}, {0, flat(65535)}, {0, flat(65535)}},
         {"FRAME 0 type0 mean=0 min=0 max=0 meandelta=0.0",
          "FRAME 1 type0 mean=65535 min=65535 max=65535 meandelta=65535.0",
          "FRAME 2 type0 mean=65535 min=65535 max=65535 meandelta=0.0"},
         3,
         0},
        {"TypesOneZeroZero",
         {{1, x}, {0, a}, {0, b}},
         {without_line_end(expected_frame_line(1, a, nullptr)),
          without_line_end(expected_frame_line(2, b, &a))},
         2,
         1},
        {"OtherTypeBetweenIsSkipped",  // the change is against the last type-0 frame
         {{0, a}, {255, x}, {0, b}},
         {without_line_end(expected_frame_line(0, a, nullptr)),
          without_line_end(expected_frame_line(2, b, &a))},
         2,
         1},
        // A 38,400-byte payload: its last 14 pixels keep the previous payload's.
        // 19,186 x 100 + 14 x 500 = 1,925,600 -> mean 100.29; change 19,186 x 400.
        {"ShortPayloadKeepsPreviousTail",
         {{0, flat(500)}, {0, flat(100), 38400}},
         {"FRAME 0 type0 mean=500 min=500 max=500 meandelta=0.0",
          "FRAME 1 type0 mean=100 min=100 max=500 meandelta=399.7"},
         2,
         0},
        // The previous payload may be of another type: its bytes show through
        // all the same. Mean (19,186 x 100 + 14 x 9000) / 19,200 = 106.49;
        // change (19,186 x 400 + 14 x 8500) / 19,200 = 405.91.
        {"ShortPayloadAfterOtherType",
         {{0, flat(500)}, {7, flat(9000)}, {0, flat(100), 38400}},
         {"FRAME 0 type0 mean=500 min=500 max=500 meandelta=0.0",
          "FRAME 2 type0 mean=106 min=100 max=9000 meandelta=405.9"},
         2,
         1},
    };
}

TEST_P(FrameLines, PerFrameLinesAndWholeReport) {
    const frame_lines_case& c = GetParam();
    const int count = static_cast<int>(c.frames.size());
    const run_result r = run_with_frames(c.frames, std::to_string(count));
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out, summary(count, c.type0, c.type1, r.path));

    std::string lines;
    for (const std::string& line : c.lines) lines += line + "\n";
    EXPECT_EQ(r.report.substr(0, lines.size() + 14), lines + "\nROW_PROFILE:\n");
    EXPECT_EQ(first_difference(r.report, expected_report(c.frames)), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameLines, testing::ValuesIn(frame_lines_cases()),
                         [](const auto& info) { return info.param.name; });

// ---- Profiles and deviations with exactly known values ---------------------

TEST(ReportSections, OneThirdMeanFramePrintsNegativeZeroDeviations) {
    const run_result r = run_with_frames({{0, flat(0)}, {0, flat(0)}, {0, flat(1)}}, "3");
    EXPECT_EQ(r.run.status, 0);
    // Summed in the documented order, every 1/3 - 1/3 - 1/3 + 1/3 comes out a
    // tiny negative number.
    const std::string expected =
        "FRAME 0 type0 mean=0 min=0 max=0 meandelta=0.0\n"
        "FRAME 1 type0 mean=0 min=0 max=0 meandelta=0.0\n"
        "FRAME 2 type0 mean=1 min=1 max=1 meandelta=1.0\n" +
        sections([](int) { return "0.3"; }, [](int) { return "0.3"; },
                 [](int, int) { return "-0.0"; });
    EXPECT_EQ(first_difference(r.report, expected), "");
}

TEST(ReportSections, OddRowOddColumnQuarterValuesRoundToEven) {
    std::vector<std::uint16_t> pixels(19200, 0);
    for (int r = 1; r < 120; r += 2) {
        for (int c = 1; c < 160; c += 2) pixels[r * 160 + c] = 1;
    }
    const run_result r = run_with_frames({{0, pixels}}, "1");
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out, summary(1, 1, 0, r.path));

    // Mean 0.25 exactly; row and column profiles 0.0 / 0.5; every deviation
    // is +-0.25 and prints, ties to even, as 0.2 or -0.2.
    const auto half_if_odd = [](int i) { return i % 2 == 1 ? "0.5" : "0.0"; };
    const std::string expected = "FRAME 0 type0 mean=0 min=0 max=1 meandelta=0.0\n" +
                                 sections(half_if_odd, half_if_odd, [](int c, int r) {
                                     return c % 2 == r % 2 ? "0.2" : "-0.2";
                                 });
    EXPECT_EQ(first_difference(r.report, expected), "");

    // The same, by the lines that show the order of the deviation table.
    const std::vector<std::string> lines = split_lines(r.report);
    ASSERT_EQ(lines.size(), 1u + section_lines);
    EXPECT_EQ(lines[0], "FRAME 0 type0 mean=0 min=0 max=1 meandelta=0.0");
    const std::size_t first = 1 + 286;  // first deviation line
    EXPECT_EQ(lines[first - 1], "PIXEL_DEVIATION (mean - row - col + global):");
    EXPECT_EQ(lines[first], "0 0 0.2");
    EXPECT_EQ(lines[first + 1], "1 0 -0.2");
    EXPECT_EQ(lines[first + 160], "0 1 -0.2");
    EXPECT_EQ(lines[first + 161], "1 1 0.2");
    EXPECT_EQ(lines.back(), "159 119 0.2");
}

TEST(ReportSections, RowPlusColumnMeanFrameLeavesOnlySignedZeros) {
    // Each frame is a row term plus a column term, so the mean frame is too
    // (in thirds, which are not exact in binary).
    std::vector<frame_spec> frames;
    for (int k = 0; k < 3; ++k) {
        std::vector<std::uint16_t> pixels(19200);
        for (int r = 0; r < 120; ++r) {
            for (int c = 0; c < 160; ++c) {
                pixels[r * 160 + c] =
                    static_cast<std::uint16_t>((r * 13 + k * 5) % 97 * 50 + (c * 29 + k * 7) % 101);
            }
        }
        frames.push_back({0, pixels});
    }
    const run_result r = run_with_frames(frames, "3");
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(first_difference(r.report, expected_report(frames)), "");

    const std::vector<std::string> lines = split_lines(r.report);
    ASSERT_EQ(lines.size(), 3u + section_lines);
    for (std::size_t i = 3 + 286; i < lines.size(); ++i) {
        const std::string value = lines[i].substr(lines[i].rfind(' ') + 1);
        ASSERT_TRUE(value == "0.0" || value == "-0.0") << lines[i];
    }
}

// ---- Realistic frames: the whole file against the independent model -------

struct realistic_case {
    std::string name;
    std::vector<frame_spec> frames;
};

void PrintTo(const realistic_case& c, std::ostream* os) {
    *os << c.name;
}

class RealisticReport : public testing::TestWithParam<realistic_case> {};

std::vector<std::uint16_t> sensor_like(unsigned seed) {
    // Row shading, column stripes and noise around a level of 2000.
    std::vector<std::uint16_t> noise = random_pixels(seed, 0, 40);
    std::vector<std::uint16_t> pixels(19200);
    for (int r = 0; r < 120; ++r) {
        for (int c = 0; c < 160; ++c) {
            const int i = r * 160 + c;
            pixels[i] = static_cast<std::uint16_t>(1980 + r / 3 + (c % 8 == 0 ? 12 : 0) + noise[i]);
        }
    }
    return pixels;
}

std::vector<realistic_case> realistic_cases() {
    std::vector<realistic_case> cases;
    cases.push_back({"SensorLikeWithOtherTypes",
                     {{0, sensor_like(11)},
                      {0, sensor_like(12)},
                      {1, sensor_like(13)},
                      {0, sensor_like(14)},
                      {0, sensor_like(15)}}});
    cases.push_back({"FullRange",
                     {{0, random_pixels(21, 0, 65535)},
                      {0, random_pixels(22, 0, 65535)},
                      {0, random_pixels(23, 0, 65535)}}});
    std::vector<frame_spec> seven;  // a mean frame in sevenths
    for (unsigned k = 0; k < 7; ++k) seven.push_back({0, random_pixels(30 + k, 0, 1000)});
    cases.push_back({"SevenFrames", seven});
    // Small samples put many exact values next to a printed tie, where the
    // order of the arithmetic decides the digit. These two were picked because
    // reordering any step (the deviation's additions, a division replaced by a
    // multiplication, the global mean taken from the row profile, a column
    // summed bottom-up) changes some printed values.
    std::vector<frame_spec> eleven;
    for (unsigned k = 0; k < 11; ++k) eleven.push_back({0, random_pixels(200 + k, 0, 3)});
    cases.push_back({"ElevenFramesOfSmallSamples", eleven});
    cases.push_back({"OneFrameOfZerosAndOnes", {{0, random_pixels(300, 0, 1)}}});
    return cases;
}

TEST_P(RealisticReport, WholeFileMatchesIndependentComputation) {
    const realistic_case& c = GetParam();
    const run_result r = run_with_frames(c.frames, std::to_string(c.frames.size()));
    EXPECT_EQ(r.run.status, 0);
    int type0 = 0;
    for (const frame_spec& f : c.frames) type0 += f.type == 0 ? 1 : 0;
    EXPECT_EQ(r.run.out, summary(static_cast<int>(c.frames.size()), type0,
                                 static_cast<int>(c.frames.size()) - type0, r.path));
    EXPECT_EQ(first_difference(r.report, expected_report(c.frames)), "");
    expect_report_layout(r.report, type0);
}

INSTANTIATE_TEST_SUITE_P(Cases, RealisticReport, testing::ValuesIn(realistic_cases()),
                         [](const auto& info) { return info.param.name; });

// ---- Runs without type-0 frames --------------------------------------------

TEST(ReportWithoutType0Frames, OnlyOtherTypesGiveAllZeroSections) {
    const run_result r =
        run_with_frames({{1, random_pixels(5, 0, 65535)}, {5, random_pixels(6, 0, 65535)}}, "2");
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out, summary(2, 0, 2, r.path));
    EXPECT_EQ(first_difference(r.report, all_zero_sections()), "");
}

class CountNotPositive : public testing::TestWithParam<const char*> {};

TEST_P(CountNotPositive, CapturesNothingButWritesTheWholeReport) {
    const run_result r = run_with_frames(
        {{0, random_pixels(7, 0, 65535)}, {0, random_pixels(8, 0, 65535)}}, GetParam());
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out, summary(0, 0, 0, r.path));
    EXPECT_EQ(first_difference(r.report, all_zero_sections()), "");
    // Only the synchronisation frame's header and payload were read.
    EXPECT_EQ(calls_of("bulk_transfer", 0x81).size(), 2u);
    // The stop sequence ran.
    const auto commands = fake_usb::model(0).commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().bytes, (std::vector<std::uint8_t>{0x74, 0xB6, 0xB6, 0x6B}));
    EXPECT_EQ(calls_of("clear_halt").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CountNotPositive, testing::Values("0", "-5", "abc"), [](const auto& info) {
        return std::string(info.index == 0 ? "Zero" : info.index == 1 ? "Negative" : "Text");
    });

// ---- Locale ----------------------------------------------------------------

TEST(ReportLocale, FullStopEvenWhenTheProcessLocaleUsesCommas) {
    // The tool sets no locale, but a host library may; its numbers must not
    // follow one that writes 0,5.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    // Every row profile value is 0.5.
    const run_result r = run_with_frames({{0, alternating_pixels(0, 1)}}, "1");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(r.run.status, 0);
    EXPECT_NE(r.report.find("\nROW_PROFILE:\n0 0.5\n1 0.5\n"), std::string::npos);
    EXPECT_EQ(r.report.find(','), std::string::npos);
}

namespace {
// Per-pixel sums outgrow 32 bits after 65,536 frames of the largest sample;
// a capture longer than that must still average to exactly that sample.
TEST(LongCapture, SumsStayExactPastTheLargestThirtyTwoBitTotal) {
    fake_usb::reset();
    emulator::model_settings settings;
    settings.scripted = true;
    settings.loop_script = true;
    emulator::add_frame(settings.script, 1, 0, flat_pixels(65535));
    emulator::add_frame(settings.script, 2, 0, flat_pixels(65535));
    fake_usb::add_device({.settings = settings});
    fake_usb::set_recording(false);
    const std::string path = temp_dir() + "/report.txt";
    const int frames = 65537;

    const tool_run run = run_tool({std::to_string(frames), path});

    ASSERT_EQ(run.status, 0);
    const std::string report = read_file(path);
    const std::string last_line = "FRAME " + std::to_string(frames - 1) +
                                  " type0 mean=65535 min=65535 max=65535 meandelta=0.0\n";
    const std::size_t sections_at = report.find("\nROW_PROFILE:\n");
    ASSERT_NE(sections_at, std::string::npos);
    EXPECT_EQ(report.substr(sections_at - last_line.size(), last_line.size()), last_line);
    EXPECT_EQ(report.substr(sections_at),
              sections([](int) { return "65535.0"; }, [](int) { return "65535.0"; },
                       [](int, int) { return "0.0"; }));
}
}  // namespace
