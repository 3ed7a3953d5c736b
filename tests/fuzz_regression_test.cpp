// Replays the fuzzer's inputs through the same harness, without libFuzzer:
// every minimised reproducer of a past finding, and the seed corpus, whose
// seeds must also still reach the outcome they are named after.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "device_answers_harness.h"

namespace {
namespace fs = std::filesystem;

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The input files of one directory (dot files keep empty directories in git).
std::vector<fs::path> inputs_in(const std::string& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(FUZZ_INPUT_DIR) / dir)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            files.push_back(entry.path());
        }
    }
    return files;
}

answers_run replay(const fs::path& path) {
    const std::vector<std::uint8_t> data = read_bytes(path);
    return play_device_answers(data.data(), data.size());
}
}  // namespace

TEST(DeviceAnswers, RegressionInputsHoldEveryCheck) {
    for (const fs::path& path : inputs_in("regressions")) {
        SCOPED_TRACE(path.filename().string());
        const answers_run run = replay(path);
        EXPECT_EQ(run.violation, "") << "status " << run.status << ", output: " << run.output;
    }
}

TEST(DeviceAnswers, SeedCorpusCoversEachWayARunEnds) {
    const std::map<std::string, int> expected_status = {
        {"normal_run", 0},          {"type1_then_nudge", 0},  {"mixed_types", 0},
        {"count_zero", 0},          {"looping_script", 0},    {"silent_replies_no_startup", 0},
        {"malformed_transfers", 0}, {"never_type0", 3},       {"commands_rejected", 3},
        {"stall_in_capture", 4},    {"unplug_in_capture", 4}, {"unplug_after_script", 4},
    };
    std::map<std::string, int> seen;
    for (const fs::path& path : inputs_in("corpus")) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const answers_run run = replay(path);
        EXPECT_EQ(run.violation, "") << "status " << run.status << ", output: " << run.output;
        seen[name] = run.status;
    }
    for (const auto& [name, status] : expected_status) {
        ASSERT_TRUE(seen.count(name) == 1) << "seed " << name << " is missing";
        EXPECT_EQ(seen[name], status) << "seed " << name;
    }
}

// The frame reader remembers the last sequence value for the whole process;
// the harness resets it, or a reproducer would depend on what ran before it.
TEST(DeviceAnswers, EachInputRunsAsInAFreshProcess) {
    // Two frames with the sequence values `first` and first + 1.
    auto two_frames = [](std::uint8_t first) {
        const auto next = static_cast<std::uint8_t>(first + 1);
        return std::vector<std::uint8_t>{
            1,    0,                     // count 1, no device flags
            0x00, 3, first, 0, 0, 0, 0,  // header, explicit sequence, type 0
            0x01, 0, 7,     0,           // payload, every pixel 7
            0x00, 3, next,  0, 0, 0, 0,  // header
            0x01, 0, 7,     0,           // payload
        };
    };
    const std::vector<std::uint8_t> ends_at_6 = two_frames(5);
    const std::vector<std::uint8_t> starts_at_6 = two_frames(6);
    EXPECT_EQ(play_device_answers(ends_at_6.data(), ends_at_6.size()).status, 0);
    // Run after a process-wide 6, the first header would be taken for a
    // repeat and the capture would stall.
    const answers_run run = play_device_answers(starts_at_6.data(), starts_at_6.size());
    EXPECT_EQ(run.status, 0) << run.output;
}
