// How runs end: a device that stops sending during the capture, a report that
// cannot be opened or written, a synchronisation that fails. Time is the
// stand-in's virtual clock, read from its call log.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "report_reference.h"
#include "tool_harness.h"

namespace {

const std::vector<std::uint8_t> stop_command = {0x74, 0xB6, 0xB6, 0x6B};

std::string summary(int frames, int type0, int type1, const std::string& path) {
    return "captured " + std::to_string(frames) + " frames (type0=" + std::to_string(type0) +
           " type1=" + std::to_string(type1) + ") -> " + path + "\n";
}

bool is_frame_read(const fake_usb::call& c) {
    return c.function == "bulk_transfer" && c.endpoint == 0x81;
}

// Start times of the accepted payload transfers (a scripted frame's transfer
// completes at once, so this is also when the frame was accepted).
std::vector<std::int64_t> accepted_payload_times() {
    std::vector<std::int64_t> times;
    for (const auto& c : fake_usb::calls()) {
        if (is_frame_read(c) && c.result == 0 && c.transferred >= 38400) times.push_back(c.at_ms);
    }
    return times;
}

// Index in the call log of the first call after the last frame read: where
// the tool went on once it stopped reading frames.
std::size_t first_call_after_frame_reads() {
    const auto& calls = fake_usb::calls();
    std::size_t last = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (is_frame_read(calls[i])) last = i;
    }
    return last + 1;
}

// Whether the stop sequence (both halts cleared, then the stop command) was
// attempted from call `from` on, and the device closed after it.
void expect_stop_sequence_from(std::size_t from) {
    const auto& calls = fake_usb::calls();
    bool halt_03 = false;
    bool halt_82 = false;
    bool stop_sent = false;
    bool closed_after_stop = false;
    for (std::size_t i = from; i < calls.size(); ++i) {
        const auto& c = calls[i];
        if (c.function == "clear_halt" && c.endpoint == 0x03) halt_03 = true;
        if (c.function == "clear_halt" && c.endpoint == 0x82) halt_82 = true;
        if (c.function == "bulk_transfer" && c.endpoint == 0x03 && c.bytes == stop_command) {
            EXPECT_TRUE(halt_03 && halt_82) << "stop command before the halts were cleared";
            stop_sent = true;
        }
        if (c.function == "close" && stop_sent) closed_after_stop = true;
    }
    EXPECT_TRUE(halt_03);
    EXPECT_TRUE(halt_82);
    EXPECT_TRUE(stop_sent);
    EXPECT_TRUE(closed_after_stop);
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}

bool stop_command_sent() {
    for (const auto& c : calls_of("bulk_transfer", 0x03)) {
        if (c.bytes == stop_command) return true;
    }
    return false;
}

}  // namespace

// ---- The device stops sending during the capture ---------------------------

struct device_stop_case {
    const char* name;
    bool unplug;  // the device disappears instead of falling silent
};

void PrintTo(const device_stop_case& c, std::ostream* os) {
    *os << c.name;
}

class DeviceStops : public testing::TestWithParam<device_stop_case> {};

TEST_P(DeviceStops, CaptureEndsFiveSecondsAfterTheLastFrameWithACompleteReport) {
    const std::vector<frame_spec> frames = {{0, random_pixels(41, 0, 9000)},
                                            {1, random_pixels(42, 0, 9000)},
                                            {0, random_pixels(43, 0, 9000)},
                                            {0, random_pixels(44, 0, 9000)}};
    fake_usb::reset();
    emulator::model_settings settings = scripted(frame_script(frames));
    settings.unplug_instead_of_stall = GetParam().unplug;
    fake_usb::add_device({.settings = settings});
    const std::string path = temp_dir() + "/report.txt";

    const tool_run run = run_tool({"10", path});

    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.out, "device stopped sending frames\n" + summary(4, 3, 1, path));
    EXPECT_EQ(first_difference(read_file(path), expected_report(frames)), "");

    // The sync frame and the four captured ones were accepted; the capture
    // went on reading until five seconds without a frame had passed, and
    // stopped within one more read (two frame time-outs) and wait.
    const std::vector<std::int64_t> accepted = accepted_payload_times();
    ASSERT_EQ(accepted.size(), 5u);
    const std::size_t after = first_call_after_frame_reads();
    ASSERT_LT(after, fake_usb::calls().size());
    const std::int64_t capture_end = fake_usb::calls()[after].at_ms;
    EXPECT_GE(capture_end - accepted.back(), 5000);
    EXPECT_LE(capture_end - accepted.back(), 5000 + 410);

    expect_stop_sequence_from(after);
}

INSTANTIATE_TEST_SUITE_P(Ways, DeviceStops,
                         testing::Values(device_stop_case{"Silent", false},
                                         device_stop_case{"Unplugged", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StallBound, PauseShorterThanTheBoundDoesNotEndTheCapture) {
    const auto first = random_pixels(51, 0, 9000);
    const auto second = random_pixels(52, 0, 9000);
    std::vector<emulator::in_item> script = frame_script({{0, first}});
    // 23 header reads that time out empty (200 ms each, plus the 10 ms wait
    // after each): 4.83 s without a frame.
    for (int i = 0; i < 23; ++i) script.push_back({{}, emulator::in_end::timeout});
    emulator::add_frame(script, 100, 0, second);
    fake_usb::reset();
    fake_usb::add_device({.settings = scripted(script)});
    const std::string path = temp_dir() + "/report.txt";

    const tool_run run = run_tool({"2", path});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, summary(2, 2, 0, path));
    EXPECT_EQ(first_difference(read_file(path), expected_report({{0, first}, {0, second}})), "");
    const std::vector<std::int64_t> accepted = accepted_payload_times();
    ASSERT_EQ(accepted.size(), 3u);
    const std::int64_t gap = accepted[2] - accepted[1];
    EXPECT_GT(gap, 4800);  // the pause really came close to the bound
    EXPECT_LT(gap, 5000);
}

// ---- The report file -------------------------------------------------------

TEST(ReportFile, PathInMissingDirectoryEndsWithStatus2AndNoStopSequence) {
    fake_usb::reset();
    fake_usb::add_device({.settings = scripted(frame_script({{0, flat_pixels(3)}}))});
    const std::string missing = temp_dir() + "/missing";

    const tool_run run = run_tool({"1", missing + "/report.txt"});

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(file_exists(missing));
    // Synchronisation ran (the sync frame's header and payload); nothing of
    // the capture or the stop sequence followed.
    EXPECT_EQ(calls_of("bulk_transfer", 0x81).size(), 2u);
    EXPECT_TRUE(calls_of("clear_halt").empty());
    EXPECT_FALSE(stop_command_sent());
}

TEST(ReportFile, WriteFailureEndsWithStatus2ButStopsTheDevice) {
    fake_usb::reset();
    fake_usb::add_device({.settings = scripted(frame_script({{0, random_pixels(61, 0, 9000)},
                                                             {0, random_pixels(62, 0, 9000)}}))});

    const tool_run run = run_tool({"2", "/dev/full"});

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");  // no summary line
    expect_stop_sequence_from(first_call_after_frame_reads());
}

TEST(ReportFile, SynchronisationFailureLeavesAnExistingReportUntouched) {
    std::vector<emulator::in_item> script;
    for (std::uint32_t sequence = 1; sequence <= 130; ++sequence) {
        emulator::add_frame(script, sequence, 1, flat_pixels(3));
    }
    fake_usb::reset();
    fake_usb::add_device({.settings = scripted(script)});
    const std::string path = temp_dir() + "/report.txt";
    const std::string earlier = "FRAME 0 type0 mean=1 min=1 max=1 meandelta=0.0\nan earlier run\n";
    std::ofstream(path, std::ios::binary) << earlier;

    const tool_run run = run_tool({"5", path});

    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "failed to reach type=0 stream\n");
    EXPECT_EQ(read_file(path), earlier);
}
