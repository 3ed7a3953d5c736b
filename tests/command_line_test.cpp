// The frame count and report path: how the count is read, and what a run
// with a given count asks of the device.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <ostream>

#include "command_line.h"
#include "device_link_support.h"
#include "tool_harness.h"

using namespace device_link;

namespace {

TEST(ParseCount, ReadsLikeAtoiAndClampsOutOfRangeValues) {
    const struct {
        const char* text;
        int count;
    } cases[] = {
        {"25", 25},
        {"0", 0},
        {"25abc", 25},
        {"12 34", 12},
        {"1e3", 1},
        {"0x10", 0},
        {"abc", 0},
        {"", 0},
        {" \t\n\v\f\r7", 7},
        {"+12", 12},
        {"-5", -5},
        {"-0", 0},
        {"- 5", 0},
        {"+-3", 0},
        {"--3", 0},
        {"x 5", 0},
        {"000000000000000000042", 42},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999", INT_MAX},
        {"99999999999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999999999", INT_MIN},
        {" +99999999999x", INT_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_count(c.text), c.count) << '"' << c.text << '"';
    }
}

// A run asks for exactly the frames its count calls for; a count of zero or
// less still starts, synchronises, reports and stops the device.
struct count_case {
    const char* name;
    const char* argument;
    int captured;
};

void PrintTo(const count_case& c, std::ostream* os) {
    *os << c.name;
}

const count_case count_cases[] = {
    {"TrailingLetters", "25abc", 25},
    {"Zero", "0", 0},
    {"Negative", "-5", 0},
    {"NotANumber", "abc", 0},
};

class FrameCount : public testing::TestWithParam<count_case> {};

TEST_P(FrameCount, DeviceSeesStartUpSyncCaptureAndStop) {
    const count_case& c = GetParam();
    fake_usb::reset();
    // One frame for synchronisation, then exactly the frames to capture; a
    // read beyond them would find a silent stream.
    fake_usb::add_device({.settings = script().frames(1 + c.captured, 0).settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({c.argument, path});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured " + std::to_string(c.captured) + " frames (type0=" +
                           std::to_string(c.captured) + " type1=0) -> " + path + "\n");
    EXPECT_EQ(header_reads(), 1 + c.captured);
    std::vector<std::string> expected = startup_packets;
    expected.push_back(stop_packet);
    EXPECT_EQ(commands_sent(), expected);
    EXPECT_EQ(calls_of("clear_halt").size(), 2u);
    EXPECT_TRUE(file_exists(path));
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameCount, testing::ValuesIn(count_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Arguments, NoneCapture200FramesIntoTheDefaultReportInTheWorkingDirectory) {
    fake_usb::reset();
    fake_usb::add_device({.settings = script().frames(201, 0).settings()});
    ASSERT_EQ(chdir(temp_dir().c_str()), 0);

    const tool_run run = run_tool({});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 200 frames (type0=200 type1=0) -> frame_stats.txt\n");
    EXPECT_EQ(header_reads(), 201);
    EXPECT_TRUE(file_exists("frame_stats.txt"));
}

TEST(Arguments, BeyondTheSecondAreIgnored) {
    fake_usb::reset();
    fake_usb::add_device({.settings = script().frames(3, 0).settings()});
    const std::string dir = temp_dir();
    ASSERT_EQ(chdir(dir.c_str()), 0);

    const tool_run run = run_tool({"2", dir + "/r.txt", "extra.txt", "7"});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 2 frames (type0=2 type1=0) -> " + dir + "/r.txt\n");
    EXPECT_EQ(header_reads(), 3);
    EXPECT_FALSE(file_exists("extra.txt"));
}

}  // namespace
