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
