#pragma once

// Runs the command under test as a child process.

#include <string>
#include <vector>

namespace emulator {

struct child_options {
    std::vector<std::string> argv;       // command and arguments; argv[0] is looked up in PATH
    std::vector<std::string> extra_env;  // NAME=VALUE entries set on top of this environment
    std::vector<std::string> preload;    // libraries appended to LD_PRELOAD
    bool without_file_override = false;  // drop root's power to ignore file permissions
};

// Starts the child and waits for it. Answers its exit status, 128 + the
// signal number when a signal ended it, or 127 when it could not be started.
int run_child(const child_options& options);

}  // namespace emulator
