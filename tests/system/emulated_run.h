#pragma once

// Runs the real frame_stats under frame_stats_emulator in a directory of its
// own and collects what can be seen from outside: the exit status, standard
// output, the files left behind and the log of what the devices received.

#include <string>
#include <vector>

// One line of the emulator's device log: "<ms> <device> <event> [<field>...]".
struct log_event {
    long ms = 0;
    std::string device;
    std::vector<std::string> words;  // the event and its fields
    std::string text;                // the same, as one string
};

struct emulated_run {
    int status = -1;
    std::string out;
    std::vector<log_event> log;
};

struct run_request {
    std::string scenario = "default";
    double frame_period_ms = 5.0;  // fast frames keep the tests short
    std::vector<std::string> args;
};

// Runs frame_stats with `request.args` in `dir` as its working directory.
emulated_run run_emulated(const std::string& dir, const run_request& request);

std::string make_temp_dir();
void remove_dir(const std::string& dir);
bool file_exists(const std::string& path);
std::string read_file(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);

// Events of one device whose text starts with `prefix`.
std::vector<log_event> events(const emulated_run& run, const std::string& device,
                              const std::string& prefix);
