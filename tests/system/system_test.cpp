// The shipped frame_stats, linked to the real libusb-1.0, against cameras
// emulated at the usbfs interface. Everything is checked from outside the
// process: exit status, standard output, files, and the log of what the
// device received.
//
// Waits are checked with generous bounds: on a loaded machine sleeps
// overshoot, so the upper bounds only catch a wait that is far too long.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <set>

#include "emulated_run.h"

namespace {

// Lines of a report besides the per-frame lines: the three sections.
constexpr int section_lines = 19486;
constexpr long slack_ms = 600;

const std::string payload_ok = "in 81 40000 38428 ok";
const std::string nudge = "command 03 72b6b66b01000000 ok";

struct summary {
    int frames = -1;
    int type0 = -1;
    int type1 = -1;
    std::string path;
};

summary parse_summary(const std::string& out) {
    static const std::regex line(R"(captured (\d+) frames \(type0=(\d+) type1=(\d+)\) -> (.*)\n)");
    std::smatch m;
    summary s;
    if (std::regex_search(out, m, line)) {
        s = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), m[4]};
    }
    return s;
}

// A complete report: `type0` frame lines, then the three sections to the
// last deviation line.
void expect_complete_report(const std::string& path, int type0) {
    const std::vector<std::string> lines = split_lines(read_file(path));
    ASSERT_EQ(static_cast<int>(lines.size()), type0 + section_lines) << path;
    for (int i = 0; i < type0; ++i) EXPECT_EQ(lines[i].rfind("FRAME ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[type0], "");
    EXPECT_EQ(lines[type0 + 1], "ROW_PROFILE:");
    EXPECT_EQ(lines.back().rfind("159 119 ", 0), 0u) << lines.back();
}

std::size_t index_of(const emulated_run& run, const std::string& device, const std::string& text,
                     std::size_t from = 0) {
    for (std::size_t i = from; i < run.log.size(); ++i) {
        if (run.log[i].device == device && run.log[i].text == text) return i;
    }
    return run.log.size();
}

int count_between(const emulated_run& run, std::size_t from, std::size_t to,
                  const std::string& text) {
    int n = 0;
    for (std::size_t i = from; i < to && i < run.log.size(); ++i) n += run.log[i].text == text;
    return n;
}

// Index of the last frame-endpoint transfer before `before`.
std::size_t last_frame_read(const emulated_run& run, std::size_t before) {
    for (std::size_t i = before; i-- > 0;) {
        if (run.log[i].text.rfind("in 81 ", 0) == 0) return i;
    }
    return run.log.size();
}

// Whether a command or a halt clearing reached a device in [from, to).
bool sends_anything(const emulated_run& run, std::size_t from, std::size_t to = SIZE_MAX) {
    for (std::size_t i = from; i < to && i < run.log.size(); ++i) {
        const std::string& t = run.log[i].text;
        if (t.rfind("command", 0) == 0 || t.rfind("clear_halt", 0) == 0) return true;
    }
    return false;
}

std::string scenario_name(const ::testing::TestParamInfo<const char*>& info) {
    return info.param;
}

class SystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_temp_dir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { remove_dir(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    emulated_run run(const run_request& request, const run_control& control = {}) {
        return run_emulated(dir_, request, control);
    }

    std::string dir_;
};

TEST_F(SystemTest, DefaultRunCapturesTwoHundredFramesIntoTheDefaultReport) {
    run_request request;
    request.frame_period_ms = 25.0;  // the demo's sensor
    const emulated_run r = run(request);
    ASSERT_EQ(r.status, 0) << r.out;
    const summary s = parse_summary(r.out);
    EXPECT_EQ(r.out, "captured 200 frames (type0=" + std::to_string(s.type0) +
                         " type1=" + std::to_string(s.type1) + ") -> frame_stats.txt\n");
    EXPECT_EQ(s.type0 + s.type1, 200);
    EXPECT_GT(s.type1, 0);  // the sensor mixes in an occasional type-1 frame
    expect_complete_report(path("frame_stats.txt"), s.type0);

    // Frame indices count every accepted frame, so type-1 frames leave gaps.
    const std::vector<std::string> lines = split_lines(read_file(path("frame_stats.txt")));
    std::set<int> indices;
    for (int i = 0; i < s.type0; ++i) indices.insert(std::stoi(lines[i].substr(6)));
    EXPECT_EQ(static_cast<int>(indices.size()), s.type0);
    EXPECT_LE(*indices.rbegin(), 199);
}

struct count_case {
    const char* arg;
    int frames;
};

class CountTest : public SystemTest, public ::testing::WithParamInterface<count_case> {};

TEST_P(CountTest, CapturesTheRequestedFramesAndStopsTheDevice) {
    const count_case c = GetParam();
    const emulated_run r = run({.args = {c.arg, "r.txt"}});
    ASSERT_EQ(r.status, 0) << r.out;
    const summary s = parse_summary(r.out);
    EXPECT_EQ(s.frames, c.frames);
    EXPECT_EQ(s.type0 + s.type1, c.frames);
    EXPECT_EQ(s.path, "r.txt");
    expect_complete_report(path("r.txt"), s.type0);
    if (c.frames == 0) {
        // Nothing captured: every profile and deviation value is 0.0.
        for (const std::string& line : split_lines(read_file(path("r.txt")))) {
            if (line.empty() || line.back() == ':') continue;
            ASSERT_EQ(line.substr(line.size() - 4), " 0.0") << line;
        }
    }
    EXPECT_EQ(r.log.back().text, "exit 0");
    EXPECT_EQ(r.log[r.log.size() - 3].text, "command 03 74b6b66b ok");
}

INSTANTIATE_TEST_SUITE_P(Counts, CountTest,
                         ::testing::Values(count_case{"0", 0}, count_case{"25", 25}),
                         [](const auto& info) { return "count_" + std::string(info.param.arg); });

// The device sees exactly the start-up sequence, the nudge, the frame reads
// and the stop sequence, each command followed by its reply read, with the
// waits in between.
TEST_F(SystemTest, DeviceReceivesTheFullCommandSequenceWithItsWaits) {
    const emulated_run r = run({.args = {"25", "r.txt"}});
    ASSERT_EQ(r.status, 0) << r.out;

    std::vector<std::string> sent;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < r.log.size(); ++i) {
        const log_event& e = r.log[i];
        if (e.words[0] == "in" || e.words[0] == "open") continue;
        sent.push_back(e.device + " " + e.text);
        at.push_back(i);
    }
    const std::vector<std::string> expected = {
        "1-1 set_configuration 2 ok",
        "1-1 set_configuration 1 ok",
        "1-1 claim 0 ok",
        "1-1 command 03 6bb6b66b ok",
        "1-1 command 03 6cb6b66b ok",
        "1-1 command 03 6fb6b66b ok",
        "1-1 command 03 72b6b66b00000000 ok",
        "1-1 command 03 72b6b66b00000000 ok",
        "1-1 command 03 73b6b66b ok",
        "1-1 " + nudge,
        "1-1 clear_halt 03 ok",
        "1-1 clear_halt 82 ok",
        "1-1 command 03 74b6b66b ok",
        "host exit 0",
    };
    ASSERT_EQ(sent, expected);
    for (std::size_t k = 3; k < expected.size(); ++k) {
        if (expected[k].find("command") == std::string::npos) continue;
        EXPECT_EQ(r.log[at[k] + 1].text, "in 82 4096 4 ok") << "reply read after " << expected[k];
    }
    const std::size_t first_72 = at[6], second_72 = at[7], cmd_73 = at[8], nudged = at[9];
    const std::size_t halt_03 = at[10], stop = at[12];
    // The log ends with the reply to the stop command.
    EXPECT_EQ(at.back(), stop + 2);

    auto gap = [&](std::size_t from, std::size_t to) { return r.log[to].ms - r.log[from].ms; };
    EXPECT_GE(gap(first_72, second_72), 100);
    EXPECT_LE(gap(first_72, second_72), 100 + slack_ms);
    EXPECT_GE(gap(second_72, cmd_73), 300);
    EXPECT_LE(gap(second_72, cmd_73), 300 + slack_ms);
    // No frame is read in the 700 ms after 0x73 (and its reply).
    const std::size_t first_read = cmd_73 + 2;
    ASSERT_EQ(r.log[first_read].text.rfind("in 81 64 ", 0), 0u);
    EXPECT_GE(gap(cmd_73, first_read), 700);
    EXPECT_LE(gap(cmd_73, first_read), 700 + slack_ms);

    // The nudge goes out at the tenth accepted frame, then 200 ms pass;
    // the first type-0 frame and 25 captured ones follow.
    EXPECT_EQ(count_between(r, 0, nudged, payload_ok), 10);
    EXPECT_GE(gap(nudged, nudged + 2), 200);
    EXPECT_EQ(count_between(r, nudged, halt_03, payload_ok), 1 + 25);

    // The stop sequence starts 300 ms after the last frame.
    const std::size_t last = last_frame_read(r, halt_03);
    EXPECT_GE(gap(last, halt_03), 300);
    EXPECT_LE(gap(last, halt_03), 300 + slack_ms);
}

TEST_F(SystemTest, ReportInAMissingDirectoryEndsWithStatusTwoAndNoStopSequence) {
    const emulated_run r = run({.args = {"25", "missing/r.txt"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(path("missing")));
    // Start-up and synchronisation ran; nothing was sent after that.
    const std::size_t nudged = index_of(r, "1-1", nudge);
    ASSERT_LT(nudged, r.log.size());
    EXPECT_GE(count_between(r, nudged, r.log.size(), payload_ok), 1);
    EXPECT_FALSE(sends_anything(r, nudged + 1));
}

class NoUsableDeviceTest : public SystemTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoUsableDeviceTest, SaysNoDeviceAndTouchesNothing) {
    const emulated_run r = run({.scenario = GetParam(), .args = {}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "no device\n");
    EXPECT_FALSE(file_exists(path("frame_stats.txt")));
    for (const log_event& e : r.log) {
        EXPECT_TRUE(e.text == "open" || e.device == "host") << e.device << " " << e.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, NoUsableDeviceTest,
                         ::testing::Values("no_device", "refuses_open"), scenario_name);

struct two_device_case {
    const char* scenario;
    const char* used;
    const char* other;
    int other_events;  // a refused open still shows as an open attempt
};

class TwoDeviceTest : public SystemTest, public ::testing::WithParamInterface<two_device_case> {};

// libusb lists devices in reverse order of enumeration: 1-2 comes first.
TEST_P(TwoDeviceTest, UsesTheFirstListedDeviceThatOpens) {
    const two_device_case c = GetParam();
    const emulated_run r = run({.scenario = c.scenario, .args = {"5", "r.txt"}});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(parse_summary(r.out).frames, 5);
    EXPECT_EQ(events(r, c.used, "claim 0 ok").size(), 1u);
    EXPECT_EQ(events(r, c.used, "command 03 74b6b66b").size(), 1u);
    EXPECT_EQ(static_cast<int>(events(r, c.other, "").size()), c.other_events);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, TwoDeviceTest,
                         ::testing::Values(two_device_case{"two_devices", "1-2", "1-1", 0},
                                           two_device_case{"refuses_first", "1-1", "1-2", 1}),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(SystemTest, SynchronisationFailureLeavesTheReportAloneAndStopsSending) {
    const std::string before = "an earlier report\n";
    {
        std::FILE* f = std::fopen(path("frame_stats.txt").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(before.c_str(), f);
        std::fclose(f);
    }
    const emulated_run r = run({.scenario = "no_type0", .args = {}});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "failed to reach type=0 stream\n");
    EXPECT_EQ(read_file(path("frame_stats.txt")), before);

    // 120 read attempts, one header transfer each; one nudge, at the tenth
    // accepted frame; nothing sent after the last read.
    EXPECT_EQ(events(r, "1-1", "in 81 64 ").size(), 120u);
    EXPECT_EQ(events(r, "1-1", nudge).size(), 1u);
    const std::size_t nudged = index_of(r, "1-1", nudge);
    EXPECT_EQ(count_between(r, 0, nudged, payload_ok), 10);
    EXPECT_FALSE(sends_anything(r, nudged + 1));
}

class StoppedDeviceTest : public SystemTest, public ::testing::WithParamInterface<const char*> {};

// The device stops sending frames mid-capture: 5 s without a frame end the
// capture with status 4 and a complete report, and the device is stopped.
TEST_P(StoppedDeviceTest, EndsWithStatusFourAfterTheBoundAndACompleteReport) {
    const emulated_run r = run({.scenario = GetParam(), .args = {"200", "r.txt"}});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.out.find("device stopped sending frames\n"), std::string::npos) << r.out;
    const summary s = parse_summary(r.out);
    EXPECT_GT(s.frames, 0);
    EXPECT_LT(s.frames, 200);
    expect_complete_report(path("r.txt"), s.type0);

    const std::size_t halt = index_of(
        r, "1-1",
        std::string("clear_halt 03 ") + (GetParam() == std::string("unplug") ? "no_device" : "ok"));
    ASSERT_LT(halt, r.log.size());
    std::size_t last_frame = halt;
    while (last_frame-- > 0 && r.log[last_frame].text != payload_ok) {
    }
    const long waited = r.log[halt].ms - r.log[last_frame].ms;
    EXPECT_GE(waited, 5000 + 300 - 5);
    EXPECT_LE(waited, 5000 + 400 + 300 + 3 * slack_ms);
    EXPECT_FALSE(sends_anything(r, last_frame, halt));
    EXPECT_EQ(r.log.back().text, "exit 4");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, StoppedDeviceTest, ::testing::Values("stall", "unplug"),
                         scenario_name);

struct scripted_case {
    const char* scenario;
    const char* first;
    const char* second;
};

class ScriptedFramesTest : public SystemTest,
                           public ::testing::WithParamInterface<scripted_case> {};

// Only complete frames with a good header and a new sequence value count;
// a payload of exactly 38,400 bytes leaves its last 14 pixels as they were.
TEST_P(ScriptedFramesTest, CountsOnlyAcceptableFrames) {
    const scripted_case c = GetParam();
    const emulated_run r = run({.scenario = c.scenario, .args = {"2", "r.txt"}});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "captured 2 frames (type0=2 type1=0) -> r.txt\n");
    const std::vector<std::string> lines = split_lines(read_file(path("r.txt")));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], c.first);
    EXPECT_EQ(lines[1], c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ScriptedFramesTest,
    ::testing::Values(
        scripted_case{"short_payloads", "FRAME 0 type0 mean=300 min=100 max=300 meandelta=0.0",
                      "FRAME 1 type0 mean=400 min=400 max=400 meandelta=100.1"},
        scripted_case{"bad_magic", "FRAME 0 type0 mean=30 min=30 max=30 meandelta=0.0",
                      "FRAME 1 type0 mean=50 min=50 max=50 meandelta=20.0"},
        scripted_case{"repeated_sequences", "FRAME 0 type0 mean=30 min=30 max=30 meandelta=0.0",
                      "FRAME 1 type0 mean=50 min=50 max=50 meandelta=20.0"}),
    [](const auto& info) { return std::string(info.param.scenario); });

// Ctrl-C or SIGTERM during the capture: the frame being read is finished, the
// report is written whole over the frames captured, the device is stopped
// after its halts are cleared, and the status is 128 + the signal.
struct signal_case {
    int signal;
    int status;
    const char* name;
};

class CaptureSignalTest : public SystemTest, public ::testing::WithParamInterface<signal_case> {};

TEST_P(CaptureSignalTest, CompletesTheRunOverTheFramesCaptured) {
    run_request request;
    request.args = {"100000", "r.txt"};  // far more than arrive before the signal
    run_control control;
    control.signal = GetParam().signal;
    control.signal_after_file = "r.txt";  // opened when the capture begins
    control.signal_delay_ms = 300;
    const emulated_run r = run(request, control);

    ASSERT_EQ(r.status, GetParam().status) << r.out;
    const summary s = parse_summary(r.out);
    EXPECT_EQ(r.out, "captured " + std::to_string(s.frames) +
                         " frames (type0=" + std::to_string(s.type0) +
                         " type1=" + std::to_string(s.type1) + ") -> r.txt\n");
    EXPECT_GT(s.frames, 0);
    EXPECT_LT(s.frames, 100000);
    expect_complete_report(path("r.txt"), s.type0);

    // Every frame the device delivered was counted: the synchronisation took
    // ten type-1 frames and, after the nudge, one type-0 frame; the capture
    // took the rest.
    const int delivered = static_cast<int>(events(r, "1-1", payload_ok).size());
    EXPECT_EQ(delivered - 11, s.frames);

    // The stop sequence comes after the last frame read, halts first.
    const std::size_t halt_03 = index_of(r, "1-1", "clear_halt 03 ok");
    const std::size_t halt_82 = index_of(r, "1-1", "clear_halt 82 ok");
    const std::size_t stop = index_of(r, "1-1", "command 03 74b6b66b ok");
    ASSERT_LT(stop, r.log.size());
    EXPECT_LT(last_frame_read(r, r.log.size()), halt_03);
    EXPECT_LT(halt_03, halt_82);
    EXPECT_LT(halt_82, stop);
}

INSTANTIATE_TEST_SUITE_P(Signals, CaptureSignalTest,
                         ::testing::Values(signal_case{SIGINT, 130, "SIGINT"},
                                           signal_case{SIGTERM, 143, "SIGTERM"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C while waiting for the type-0 stream: no further frame read, the
// device is stopped again, and no report is created.
TEST_F(SystemTest, SignalDuringSynchronisationStopsTheDeviceAndWritesNoReport) {
    run_request request;
    request.scenario = "no_type0";
    request.frame_period_ms = 200.0;  // 120 attempts take about 25 s
    request.args = {"10", "r.txt"};
    run_control control;
    control.signal = SIGINT;
    control.signal_delay_ms = 3000;  // start-up takes 1.1 s
    const emulated_run r = run(request, control);

    EXPECT_EQ(r.status, 130) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(path("r.txt")));
    const std::size_t halt_03 = index_of(r, "1-1", "clear_halt 03 ok");
    const std::size_t stop = index_of(r, "1-1", "command 03 74b6b66b ok");
    ASSERT_LT(stop, r.log.size());
    EXPECT_LT(halt_03, stop);
    // Synchronisation had begun, and ended well before its 120 attempts.
    const int header_reads = static_cast<int>(events(r, "1-1", "in 81 64 ").size());
    EXPECT_GT(header_reads, 0);
    EXPECT_LT(header_reads, 120);
    EXPECT_LT(last_frame_read(r, r.log.size()), halt_03);
}

// With a terminal on standard error a person sees a progress line there,
// erased at the end; standard output still carries only the summary.
TEST_F(SystemTest, ProgressLineOnlyOnATerminal) {
    run_request request;
    request.frame_period_ms = 10.0;
    request.args = {"150", "r.txt"};
    run_control control;
    control.stderr_terminal = true;
    const emulated_run r = run(request, control);

    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("captured 150 frames ", 0), 0u) << r.out;
    EXPECT_NE(r.terminal.find("\rframes "), std::string::npos) << r.terminal;
    EXPECT_NE(r.terminal.find("/150  type0 "), std::string::npos) << r.terminal;
    EXPECT_NE(r.terminal.find(" fps"), std::string::npos) << r.terminal;
    // Erased: the terminal's last line is blank.
    const std::string last = r.terminal.substr(r.terminal.rfind('\r') + 1);
    EXPECT_EQ(last.find_first_not_of(' '), std::string::npos) << r.terminal;
}

}  // namespace
