// Ctrl-C and SIGTERM: the capture ends after the frame being read and the run
// completes (report, summary, stop sequence) with status 128 + signal; before
// the capture, the device is stopped again and no report is written.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "tool_harness.h"

namespace {
constexpr int startup_transfers = 12;  // six commands, each a send and a reply read

// One sync frame, then `frames` type-0 frames with distinct pixels.
emulator::model_settings camera(int frames) {
    std::vector<emulator::in_item> script;
    emulator::add_frame(script, 100, 0, flat_pixels(1));
    for (int i = 0; i < frames; ++i) {
        emulator::add_frame(script, 200 + i, 0, flat_pixels(static_cast<std::uint16_t>(10 + i)));
    }
    return scripted(script);
}

std::vector<std::uint8_t> command_codes() {
    std::vector<std::uint8_t> codes;
    for (const auto& c : calls_of("bulk_transfer", 0x03)) codes.push_back(c.bytes.at(0));
    return codes;
}

int lines_in(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct capture_case {
    int signal;
    int status;
};

class SignalDuringCapture : public testing::TestWithParam<capture_case> {};

TEST_P(SignalDuringCapture, FinishesTheFrameThenCompletesTheRun) {
    fake_usb::reset();
    fake_usb::add_device({.settings = camera(10)});
    // Transfers after start-up: 2 for the sync frame, then 2 per frame; the
    // signal arrives during the header read of the fourth captured frame.
    fake_usb::raise_during_transfer(startup_transfers + 2 + 3 * 2 + 1, GetParam().signal);
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"10", path});

    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.out, "captured 4 frames (type0=4 type1=0) -> " + path + "\n");
    const std::string report = read_file(path);
    EXPECT_EQ(lines_in(report), 4 + 19486);
    EXPECT_NE(report.find("FRAME 3 type0 mean=13 min=13 max=13 meandelta=1.0\n"),
              std::string::npos);
    EXPECT_EQ(report.find("FRAME 4 "), std::string::npos);
    // Stop sequence after the capture: both halts cleared, the stop command
    // sent and its reply read, then the device closed.
    const auto& calls = fake_usb::calls();
    std::vector<std::string> tail;
    for (auto it = calls.end() - 6; it != calls.end(); ++it) tail.push_back(it->function);
    EXPECT_EQ(tail, (std::vector<std::string>{"clear_halt", "clear_halt", "bulk_transfer",
                                              "bulk_transfer", "close", "exit"}));
    EXPECT_EQ(command_codes().back(), 0x74);
    EXPECT_EQ(fake_usb::open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringCapture,
                         testing::Values(capture_case{SIGINT, 130}, capture_case{SIGTERM, 143}),
                         [](const auto& info) {
                             return info.param.signal == SIGINT ? "SIGINT" : "SIGTERM";
                         });

TEST(SignalBeforeCapture, DuringStartUpSendsNoFurtherStartUpCommandAndStopsTheDevice) {
    fake_usb::reset();
    fake_usb::add_device({.settings = camera(3)});
    fake_usb::raise_during_transfer(3, SIGINT);  // while the second command is sent
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"3", path});

    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(command_codes(), (std::vector<std::uint8_t>{0x6B, 0x6C, 0x74}));
    EXPECT_EQ(calls_of("bulk_transfer", 0x81).size(), 0u);
    EXPECT_EQ(calls_of("clear_halt").size(), 2u);
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}

TEST(SignalBeforeCapture, DuringSynchronisationReadsNoMoreFramesAndStopsTheDevice) {
    fake_usb::reset();
    emulator::model_settings settings;
    settings.scripted = true;  // an empty script: the camera stays silent
    fake_usb::add_device({.settings = settings});
    fake_usb::raise_during_transfer(startup_transfers + 3, SIGTERM);  // third sync read
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"3", path});

    EXPECT_EQ(run.status, 143);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(calls_of("bulk_transfer", 0x81).size(), 3u);
    EXPECT_EQ(command_codes().back(), 0x74);
    EXPECT_EQ(fake_usb::open_handles(), 0);
}

TEST(SignalBeforeCapture, ASecondSignalEndsTheProcessAtOnce) {
    // After the first signal the default action is back in place. The
    // directory is made here: the killed child cannot remove it.
    const std::string path = temp_dir() + "/r.txt";
    EXPECT_EXIT(
        {
            fake_usb::reset();
            fake_usb::add_device({.settings = camera(3)});
            fake_usb::raise_during_transfer(3, SIGINT);
            run_tool({"3", path});
            std::raise(SIGINT);
            std::exit(0);
        },
        testing::KilledBySignal(SIGINT), "");
}
}  // namespace
