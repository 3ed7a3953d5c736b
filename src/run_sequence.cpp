#include "run_sequence.h"

#include <cstdio>

#include "analysis/capture.h"
#include "analysis/frame_analysis.h"
#include "analysis/profile_report.h"
#include "command_line.h"
#include "device/connection.h"
#include "device/frame_reader.h"
#include "device/stream_control.h"
#include "device/stream_sync.h"
#include "exit_status.h"
#include "platform/stop_signal.h"

namespace {
// Every payload lands here; zero until the first one arrives, which shows in
// the last pixels of a payload shorter than the pixel area.
unsigned char g_payload[payload_buffer_size];

int open_failure_status(open_result result) {
    if (result == open_result::no_device || result == open_result::no_access) {
        std::fputs("no device\n", stdout);
    }
    if (result == open_result::no_access) {
        std::fputs(
            "frame_stats: a device with vendor ID 0x833c is present but access to it was "
            "denied; install the udev rule (see the README) or run as root\n",
            stderr);
    }
    return status_device;
}

// A stop signal before the capture: the device was started, so it is
// stopped again; no report is written.
int stop_before_capture() {
    run_stop_sequence();
    close_connection();
    return status_signal_base + stop_requested();
}

int final_status(bool report_ok, capture_end end) {
    if (!report_ok) return status_report;
    switch (end) {
        case capture_end::device_stopped:
            return status_device_stopped;
        case capture_end::interrupted:
            return status_signal_base + stop_requested();
        case capture_end::complete:
            break;
    }
    return status_complete;
}
}  // namespace

int run_frame_stats(int argc, char** argv) {
    switch (requested_command(argc, argv)) {
        case command::help:
            print_usage();
            return status_complete;
        case command::version:
            print_version();
            return status_complete;
        case command::run:
            break;
    }
    int requested = 200;
    const char* report_path = "frame_stats.txt";
    if (argc > 1) requested = parse_count(argv[1]);
    if (argc > 2) report_path = argv[2];
    install_stop_signals();

    const open_result opened = open_connection();
    if (opened != open_result::ready) {
        // Release what was created; the device is sent nothing further.
        close_connection();
        return open_failure_status(opened);
    }

    if (!run_startup_sequence()) return stop_before_capture();
    switch (synchronise(g_payload)) {
        case sync_result::gave_up:
            std::fputs("failed to reach type=0 stream\n", stdout);
            close_connection();
            return status_sync;
        case sync_result::interrupted:
            return stop_before_capture();
        case sync_result::reached:
            break;
    }

    reset_accumulator();
    reset_profiles();
    std::FILE* report = std::fopen(report_path, "w");
    if (report == nullptr) {
        close_connection();
        return status_report;
    }

    run_counters counters;
    const capture_end end = capture_frames(requested, g_payload, report, counters);
    if (end == capture_end::device_stopped) std::fputs("device stopped sending frames\n", stdout);
    write_profile_sections(report, counters.type0_frames);
    // A report that could not be written whole is a failure, not a success;
    // the device is still stopped and closed cleanly.
    const bool written = std::ferror(report) == 0;
    const bool closed = std::fclose(report) == 0;
    const bool report_ok = written && closed;

    if (report_ok) {
        std::printf("captured %d frames (type0=%d type1=%d) -> %s\n", counters.frames_read,
                    counters.type0_frames, counters.other_frames, report_path);
    }
    run_stop_sequence();
    close_connection();
    return final_status(report_ok, end);
}
