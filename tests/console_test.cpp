// What the tool shows a person: usage and version without touching the
// device, the reason a present device could not be opened, and a progress
// line that only a terminal gets.

#include <gtest/gtest.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "analysis/progress.h"
#include "tool_harness.h"

namespace {
// Runs in a fresh working directory so a default report would show up there.
struct in_temp_dir {
    std::string dir = temp_dir();
    std::string old = std::filesystem::current_path().string();
    in_temp_dir() { std::filesystem::current_path(dir); }
    ~in_temp_dir() { std::filesystem::current_path(old); }
};

class InfoArgument : public testing::TestWithParam<const char*> {};

TEST_P(InfoArgument, PrintsAndTouchesNeitherDeviceNorFile) {
    fake_usb::reset();
    fake_usb::add_device({});
    in_temp_dir cwd;

    const tool_run run = run_tool({GetParam(), "out.txt"});

    EXPECT_EQ(run.status, 0);
    const std::string expected =
        std::string(GetParam()) == "--version" ? "frame_stats " : "usage: ";
    EXPECT_EQ(run.out.rfind(expected, 0), 0u) << run.out;
    EXPECT_TRUE(fake_usb::calls().empty());
    EXPECT_FALSE(file_exists("frame_stats.txt"));
    EXPECT_FALSE(file_exists("out.txt"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, InfoArgument, testing::Values("-h", "--help", "--version"));

TEST(InfoArgument, OtherDashArgumentsKeepTheirMeaningAsACount) {
    // "-x" reads as a count of 0: a run that captures nothing.
    fake_usb::reset();
    std::vector<emulator::in_item> script;
    emulator::add_frame(script, 1, 0, flat_pixels(3));
    fake_usb::add_device({.settings = scripted(script)});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"-x", path});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 0 frames (type0=0 type1=0) -> " + path + "\n");
}

struct denial_case {
    int open_error;
    bool explains;
};

class RefusedOpen : public testing::TestWithParam<denial_case> {};

TEST_P(RefusedOpen, SaysNoDeviceAndExplainsOnlyAnAccessDenial) {
    fake_usb::reset();
    fake_usb::device_entry refusing;
    refusing.opens = false;
    refusing.open_error = GetParam().open_error;
    fake_usb::add_device(refusing);
    in_temp_dir cwd;

    testing::internal::CaptureStderr();
    const tool_run run = run_tool({});
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "no device\n");
    if (GetParam().explains) {
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("udev rule"), std::string::npos) << err;
    } else {
        EXPECT_EQ(err, "");
    }
    EXPECT_FALSE(file_exists("frame_stats.txt"));
}

INSTANTIATE_TEST_SUITE_P(Errors, RefusedOpen,
                         testing::Values(denial_case{LIBUSB_ERROR_ACCESS, true},
                                         denial_case{LIBUSB_ERROR_NO_DEVICE, false},
                                         denial_case{LIBUSB_ERROR_IO, false}));

TEST(Progress, NothingOnStandardErrorWhenItIsNotATerminal) {
    ASSERT_FALSE(isatty(STDERR_FILENO)) << "run the tests with standard error redirected";
    fake_usb::reset();
    std::vector<emulator::in_item> script;
    for (int i = 0; i < 5; ++i) emulator::add_frame(script, 1 + i, 0, flat_pixels(3));
    fake_usb::add_device({.settings = scripted(script)});

    testing::internal::CaptureStderr();
    const tool_run run = run_tool({"4", temp_dir() + "/r.txt"});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(run.status, 0);
}

TEST(Progress, LineShowsCountsRateAndTimeLeft) {
    struct line_case {
        run_counters counters;
        int requested;
        std::int64_t elapsed_ms;
        const char* text;
    };
    const line_case cases[] = {
        {{0, 0, 0}, 200, 0, "frames 0/200  type0 0  0.0 fps"},
        {{60, 58, 2}, 200, 2000, "frames 60/200  type0 58  30.0 fps  0:05 left"},
        {{100, 100, 0}, 10000, 1000, "frames 100/10000  type0 100  100.0 fps  1:39 left"},
    };
    for (const auto& c : cases) {
        char line[128];
        const int length =
            format_progress(line, sizeof line, c.counters, c.requested, c.elapsed_ms);
        EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), c.text);
    }
}
}  // namespace
