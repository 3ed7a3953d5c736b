// Benchmarks of the frame analysis, the report writing and the whole capture
// path, run against the camera model through the libusb stand-in.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/capture.h"
#include "analysis/frame_analysis.h"
#include "analysis/profile_report.h"
#include "camera_model.h"
#include "device/connection.h"
#include "device/frame_reader.h"
#include "fake_libusb.h"
#include "run_sequence.h"

namespace {

using payload_bytes = std::vector<unsigned char>;

// Consecutive payloads of the camera model's generated sensor: a fixed row,
// column and pixel pattern, hot pixels, temporal noise and drift.
std::vector<payload_bytes> sensor_payloads(int count) {
    emulator::model_settings settings;
    settings.stream_without_startup = true;
    settings.sensor.type1_until_nudged = 0;
    emulator::camera_model camera(settings);
    std::vector<payload_bytes> payloads;
    std::uint8_t header[header_buffer_size];
    std::int64_t now = 0;
    while (static_cast<int>(payloads.size()) < count) {
        const emulator::in_result r = camera.bulk_in(0x81, header, sizeof header, now);
        if (r.status == emulator::usb_status::pending) {
            now = r.ready_at_ms;
            continue;
        }
        payload_bytes payload(payload_buffer_size, 0);
        camera.bulk_in(0x81, payload.data(), payload_buffer_size, now);
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

const std::vector<payload_bytes>& payloads() {
    static const std::vector<payload_bytes> p = sensor_payloads(16);
    return p;
}

// A device that streams a few distinct type-0 sensor frames in a loop, from
// the first read on, with no frame period: the tool alone sets the pace.
void add_instant_device() {
    fake_usb::reset();
    fake_usb::set_recording(false);
    emulator::model_settings settings;
    settings.scripted = true;
    settings.loop_script = true;
    settings.stream_without_startup = true;
    for (int i = 0; i < 8; ++i) {
        const payload_bytes& p = payloads()[static_cast<std::size_t>(i)];
        settings.script.push_back(
            {emulator::make_header(static_cast<std::uint32_t>(100 + i), 0), emulator::in_end::ok});
        settings.script.push_back(
            {std::vector<std::uint8_t>(p.begin(), p.begin() + emulator::payload_length),
             emulator::in_end::ok});
    }
    fake_usb::add_device({.settings = settings});
}

// Sends a file descriptor to /dev/null while it lives: the tool's progress
// line (drawn when standard error is a terminal) and its summary line would
// otherwise land among the results.
class silenced {
  public:
    explicit silenced(int fd) : fd_(fd), saved_(dup(fd)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, fd_);
        close(null);
    }
    ~silenced() {
        dup2(saved_, fd_);
        close(saved_);
    }
    silenced(const silenced&) = delete;
    silenced& operator=(const silenced&) = delete;

  private:
    int fd_;
    int saved_;
};

// One value from /proc/self/status, in KiB ("VmRSS", "VmHWM"); 0 if absent.
long status_kib(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    long value = 0;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// One type-0 frame: decode, accumulate, min, max, sum, change, previous pixels.
void BM_AnalyseFrame(benchmark::State& state) {
    const auto& frames = payloads();
    reset_accumulator();
    std::size_t next = 0;
    for (auto _ : state) {
        const frame_stats stats = analyse_frame(frames[next].data(), true);
        benchmark::DoNotOptimize(stats);
        next = (next + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 2 * pixel_count);
}
BENCHMARK(BM_AnalyseFrame)->Unit(benchmark::kMicrosecond);

// Mean frame, profiles and the three report sections (19,486 lines) into a
// real file, flushed to the kernel every time.
void BM_ProfileSections(benchmark::State& state) {
    reset_accumulator();
    reset_profiles();
    constexpr int frames = 200;
    for (int i = 0; i < frames; ++i) {
        analyse_frame(payloads()[static_cast<std::size_t>(i) % payloads().size()].data(), i > 0);
    }
    std::FILE* report = std::tmpfile();
    if (report == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    write_profile_sections(report, frames);
    std::fflush(report);
    const long length = std::ftell(report);
    std::rewind(report);
    long lines = 0;
    for (int ch; (ch = std::fgetc(report)) != EOF;) lines += ch == '\n';
    if (lines != 19486) state.SkipWithError("the sections do not have 19,486 lines");

    for (auto _ : state) {
        std::rewind(report);
        write_profile_sections(report, frames);
        std::fflush(report);
    }
    std::fclose(report);
    state.SetBytesProcessed(state.iterations() * length);
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_ProfileSections)->Unit(benchmark::kMillisecond);

// The capture loop through the stand-in: header and payload transfers, frame
// checks, analysis and the frame line, 1,000 frames per iteration.
void BM_CaptureFrames(benchmark::State& state) {
    std::FILE* report = std::tmpfile();
    if (report == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    add_instant_device();
    if (open_connection() != open_result::ready) {
        state.SkipWithError("the instant device did not open");
        std::fclose(report);
        return;
    }
    static unsigned char payload[payload_buffer_size];
    constexpr int batch = 1000;
    long long frames = 0;
    reset_accumulator();
    {
        const silenced progress(STDERR_FILENO);
        for (auto _ : state) {
            std::rewind(report);
            run_counters counters;
            capture_frames(batch, payload, report, counters);
            frames += counters.type0_frames;
        }
    }
    std::fclose(report);
    close_connection();
    // The tool opens the device once per process and keeps the closed handle;
    // forget it so that a later run in this process opens the device afresh.
    g_h = nullptr;
    g_ctx = nullptr;
    if (frames != state.iterations() * batch) state.SkipWithError("frames were lost");
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CaptureFrames)->Unit(benchmark::kMillisecond);

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// What a child run reports back about its memory.
struct child_memory {
    long start_kib;  // resident when the run began
    long peak_kib;   // highest resident size of the child
};

// The whole run (start-up, synchronisation, capture of `count` frames, report,
// stop) in a child process of its own, so that its peak resident memory is
// measured alone and can be compared between frame counts.
void BM_WholeRun(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    char path[] = "/tmp/frame_stats_bench_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    close(fd);
    long peak_kib = 0;
    long growth_kib = 0;
    for (auto _ : state) {
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            close(pipe_fds[0]);
            const silenced summary(STDOUT_FILENO);
            const silenced progress(STDERR_FILENO);
            add_instant_device();
            child_memory memory{status_kib("VmRSS"), 0};
            std::string count_arg = std::to_string(count);
            char* argv[] = {const_cast<char*>("frame_stats"), count_arg.data(), path, nullptr};
            const int status = run_frame_stats(3, argv);
            std::fflush(stdout);
            memory.peak_kib = status_kib("VmHWM");
            if (write(pipe_fds[1], &memory, sizeof memory) != sizeof memory) _exit(100);
            _exit(status);
        }
        close(pipe_fds[1]);
        child_memory memory{};
        const bool reported = read(pipe_fds[0], &memory, sizeof memory) == sizeof memory;
        close(pipe_fds[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        // The child's processor time, like the other benchmarks' rates: on a
        // shared machine its wall time would measure the neighbours too.
        state.SetIterationTime(seconds(usage.ru_utime) + seconds(usage.ru_stime));
        if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the run did not complete");
            break;
        }
        peak_kib = std::max(peak_kib, usage.ru_maxrss);
        growth_kib = std::max(growth_kib, memory.peak_kib - memory.start_kib);
    }
    std::remove(path);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["peak_rss_MiB"] = static_cast<double>(peak_kib) / 1024.0;
    state.counters["run_growth_KiB"] = static_cast<double>(growth_kib);
}
BENCHMARK(BM_WholeRun)
    ->Arg(1000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("build", FRAME_STATS_BUILD);
    benchmark::AddCustomContext("targets",
                                "AnalyseFrame <= 6 us, ProfileSections <= 1.5 ms, "
                                "frames_per_s >= 50k, memory the same for 1,000 and 100,000 "
                                "frames");
    payloads();  // generated once, before any measurement
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
