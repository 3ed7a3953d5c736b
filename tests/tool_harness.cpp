#include "tool_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run_sequence.h"

tool_run run_tool(const std::vector<std::string>& args) {
    std::vector<std::string> storage{"frame_stats"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);

    tool_run run;
    testing::internal::CaptureStdout();
    run.status = run_frame_stats(static_cast<int>(storage.size()), argv.data());
    std::fflush(stdout);
    run.out = testing::internal::GetCapturedStdout();
    return run;
}

emulator::model_settings scripted(std::vector<emulator::in_item> script) {
    emulator::model_settings s;
    s.scripted = true;
    s.script = std::move(script);
    return s;
}

std::vector<std::uint16_t> flat_pixels(std::uint16_t value) {
    return std::vector<std::uint16_t>(emulator::frame_pixels, value);
}

std::vector<fake_usb::call> calls_of(const std::string& function, int endpoint) {
    std::vector<fake_usb::call> out;
    for (const auto& c : fake_usb::calls()) {
        if (c.function == function && (endpoint < 0 || c.endpoint == endpoint)) out.push_back(c);
    }
    return out;
}

namespace {
// Temporary directories of this test process, removed when it ends.
struct temp_dirs {
    std::vector<std::string> paths;
    ~temp_dirs() {
        std::error_code ignored;
        for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
    }
};
temp_dirs g_temp_dirs;
}  // namespace

std::string temp_dir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "frame_stats_test_XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    g_temp_dirs.paths.emplace_back(made);
    return made;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}
