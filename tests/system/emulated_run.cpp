#include "emulated_run.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {
// Sends the request's signal once its moment has come, unless the run ended.
void signal_when_due(pid_t pid, const std::string& dir, const run_control& request,
                     const std::atomic<bool>& ended) {
    using namespace std::chrono;
    const auto poll = milliseconds(10);
    if (!request.signal_after_file.empty()) {
        const std::string file = dir + "/" + request.signal_after_file;
        while (!ended && !std::filesystem::exists(file)) std::this_thread::sleep_for(poll);
    }
    const auto due = steady_clock::now() + milliseconds(request.signal_delay_ms);
    while (!ended && steady_clock::now() < due) std::this_thread::sleep_for(poll);
    if (!ended) kill(pid, request.signal);
}

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}
}  // namespace

emulated_run run_emulated(const std::string& dir, const run_request& request,
                          const run_control& control) {
    std::vector<std::string> args = {EMULATOR_PATH,
                                     "--scenario",
                                     request.scenario,
                                     "--frame-period",
                                     std::to_string(request.frame_period_ms),
                                     "--log",
                                     dir + "/device.log",
                                     "--",
                                     FRAME_STATS_PATH};
    args.insert(args.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    emulated_run run;
    int out_pipe[2];
    if (pipe(out_pipe) != 0) return run;
    int terminal = -1;
    int terminal_side = -1;
    if (control.stderr_terminal &&
        openpty(&terminal, &terminal_side, nullptr, nullptr, nullptr) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Ended with the test, should the test time out.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out_pipe[1], STDOUT_FILENO);
        close(out_pipe[0]);
        close(out_pipe[1]);
        if (terminal_side >= 0) {
            dup2(terminal_side, STDERR_FILENO);
            close(terminal_side);
            close(terminal);
        }
        if (chdir(dir.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    std::thread terminal_reader;
    if (terminal_side >= 0) {
        close(terminal_side);
        // A terminal's master reads EIO once the last writer is gone.
        terminal_reader = std::thread([&] { run.terminal = drain(terminal); });
    }
    std::atomic<bool> ended{false};
    std::thread signaller;
    if (control.signal != 0) {
        signaller = std::thread([&] { signal_when_due(pid, dir, control, ended); });
    }
    run.out = drain(out_pipe[0]);
    close(out_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ended = true;
    if (signaller.joinable()) signaller.join();
    if (terminal_reader.joinable()) terminal_reader.join();
    if (terminal >= 0) close(terminal);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::istringstream log(read_file(dir + "/device.log"));
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream words(line);
        log_event e;
        words >> e.ms >> e.device;
        std::string word;
        while (words >> word) {
            e.text += (e.words.empty() ? "" : " ") + word;
            e.words.push_back(word);
        }
        run.log.push_back(e);
    }
    return run;
}

std::string make_temp_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr ? base : "/tmp") + "/frame_stats_system.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void remove_dir(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<log_event> events(const emulated_run& run, const std::string& device,
                              const std::string& prefix) {
    std::vector<log_event> out;
    for (const log_event& e : run.log) {
        if (e.device == device && e.text.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    }
    return out;
}
