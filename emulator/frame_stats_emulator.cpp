// frame_stats_emulator: runs a command against emulated cameras on the real
// USB stack. It creates a umockdev testbed holding the scenario's devices,
// serves their usbfs ioctls from the camera model, runs the command with the
// testbed's environment and umockdev's preload library, and exits with the
// command's status (125 when the emulator itself cannot start).
//
//   frame_stats_emulator [--scenario NAME] [--frame-period MS] [--log FILE]
//                        -- COMMAND [ARGS...]

#include <sys/stat.h>
#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "device_log.h"
#include "scenarios.h"
#include "usbfs_device.h"
#include "wall_clock.h"

namespace {

constexpr int status_setup_failed = 125;

struct options {
    std::string scenario = "default";
    double frame_period_ms = emulator::default_frame_period_ms;
    std::string log_path;
    std::vector<std::string> command;
};

void print_usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: frame_stats_emulator [--scenario NAME] [--frame-period MS] [--log FILE]"
                 " -- COMMAND [ARGS...]\nscenarios:");
    for (const std::string& name : emulator::scenario_names())
        std::fprintf(to, " %s", name.c_str());
    std::fprintf(to, "\n");
}

bool parse_options(int argc, char** argv, options& out) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return false;
        if (arg == "--scenario") {
            out.scenario = argv[++i];
        } else if (arg == "--frame-period") {
            char* end = nullptr;
            out.frame_period_ms = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(out.frame_period_ms >= 1.0)) return false;
        } else if (arg == "--log") {
            out.log_path = argv[++i];
        } else {
            return false;
        }
    }
    for (; i < argc; ++i) out.command.emplace_back(argv[i]);
    return !out.command.empty();
}

}  // namespace

int main(int argc, char** argv) {
    options opts;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        print_usage(stdout);
        return 0;
    }
    if (!parse_options(argc, argv, opts)) {
        print_usage(stderr);
        return status_setup_failed;
    }
    emulator::scenario scenario;
    if (!emulator::make_scenario(opts.scenario, opts.frame_period_ms, scenario)) {
        std::fprintf(stderr, "frame_stats_emulator: no scenario named %s\n", opts.scenario.c_str());
        print_usage(stderr);
        return status_setup_failed;
    }

    // Sets UMOCKDEV_DIR in this process's environment, which the child inherits.
    UMockdevTestbed* testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    emulator::device_log log;
    std::vector<std::unique_ptr<emulator::usbfs_device>> devices;
    emulator::child_options child;
    child.argv = opts.command;
    child.preload.emplace_back("libumockdev-preload.so.0");
    // An AddressSanitizer build of the command refuses to start when another
    // library is loaded before its runtime, as the preload library is. The
    // pair works; only the order check is switched off.
    const char* asan = std::getenv("ASAN_OPTIONS");
    child.extra_env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                              (asan != nullptr && *asan != '\0' ? ":" : "") +
                              "verify_asan_link_order=0");
    bool ready = true;
    for (const emulator::device_setup& setup : scenario.devices) {
        devices.push_back(std::make_unique<emulator::usbfs_device>(setup, log));
        std::string error;
        if (!devices.back()->attach(testbed, root, error)) {
            std::fprintf(stderr, "frame_stats_emulator: %s: %s\n", setup.name.c_str(),
                         error.c_str());
            ready = false;
            break;
        }
        if (setup.refuses_open) {
            // Nobody may open the node: no mode bits, and the child loses
            // root's power to override them.
            chmod(devices.back()->node_path().c_str(), 0);
            child.without_file_override = true;
        }
    }

    int status = status_setup_failed;
    if (ready) {
        status = emulator::run_child(child);
        log.add(emulator::elapsed_ms(), "host", "exit " + std::to_string(status));
    }
    if (!opts.log_path.empty() && !log.write(opts.log_path)) {
        std::fprintf(stderr, "frame_stats_emulator: cannot write %s\n", opts.log_path.c_str());
        if (status == 0) status = status_setup_failed;
    }
    devices.clear();
    g_free(root);
    g_object_unref(testbed);  // removes the testbed's directory
    return status;
}
