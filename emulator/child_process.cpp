#include "child_process.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace emulator {

namespace {

pid_t g_child = -1;

// A stop request for the emulator goes to the child, whose end then ends
// the emulator.
void forward_signal(int signal_number) {
    if (g_child > 0) kill(g_child, signal_number);
}

std::vector<std::string> child_environment(const child_options& options) {
    std::vector<std::string> env;
    std::string preload;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        if (name == "LD_PRELOAD=") {
            preload = entry.substr(name.size());
            continue;
        }
        // Entries given by the caller replace those of the same name.
        bool replaced = false;
        for (const std::string& extra : options.extra_env) {
            replaced = replaced || extra.compare(0, name.size(), name) == 0;
        }
        if (!replaced) env.push_back(entry);
    }
    for (const std::string& library : options.preload) {
        preload += (preload.empty() ? "" : " ") + library;
    }
    if (!preload.empty()) env.push_back("LD_PRELOAD=" + preload);
    for (const std::string& extra : options.extra_env) env.push_back(extra);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

int run_child(const child_options& options) {
    if (options.argv.empty()) return 127;
    // Everything the child needs is prepared before fork(): the emulator has
    // other threads, so the child may only make system calls until exec.
    std::vector<std::string> env_strings = child_environment(options);
    std::vector<std::string> argv_strings = options.argv;
    std::vector<char*> env = pointers(env_strings);
    std::vector<char*> argv = pointers(argv_strings);

    struct sigaction forward {};
    forward.sa_handler = forward_signal;
    sigaction(SIGINT, &forward, nullptr);
    sigaction(SIGTERM, &forward, nullptr);
    sigaction(SIGHUP, &forward, nullptr);

    const pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) {
        // The child does not outlive the emulator.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (options.without_file_override) {
            // As root, file modes bind only without these two capabilities;
            // dropping them from the bounding set removes them at exec.
            prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        }
        execvpe(argv[0], argv.data(), env.data());
        const char message[] = "frame_stats_emulator: cannot run the command\n";
        (void)!write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }
    g_child = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    g_child = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

}  // namespace emulator
