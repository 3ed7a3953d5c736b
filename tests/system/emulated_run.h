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
    std::string terminal;  // what reached standard error, when it was a terminal
    std::vector<log_event> log;
};

struct run_request {
    std::string scenario = "default";
    double frame_period_ms = 5.0;  // fast frames keep the tests short
    std::vector<std::string> args;
};

// What happens to the run from outside while it goes on.
struct run_control {
    // Sends `signal` to the run `signal_delay_ms` after it started or, when
    // `signal_after_file` is set, after that file (in the run's directory)
    // appeared. The emulator passes it on to frame_stats.
    int signal = 0;
    long signal_delay_ms = 0;
    std::string signal_after_file;
    // Gives frame_stats a terminal as its standard error.
    bool stderr_terminal = false;
};

// Runs frame_stats with `request.args` in `dir` as its working directory.
emulated_run run_emulated(const std::string& dir, const run_request& request,
                          const run_control& control = {});

std::string make_temp_dir();
void remove_dir(const std::string& dir);
bool file_exists(const std::string& path);
std::string read_file(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);

// Events of one device whose text starts with `prefix`.
std::vector<log_event> events(const emulated_run& run, const std::string& device,
                              const std::string& prefix);
