#include "analysis/capture.h"

#include "analysis/frame_analysis.h"
#include "analysis/number_format.h"
#include "analysis/progress.h"
#include "device/frame_reader.h"
#include "platform/clock.h"
#include "platform/stop_signal.h"

namespace {
void write_frame_line(std::FILE* report, int index, const frame_stats& stats) {
    char line[160];
    char* p = format_text(line, "FRAME ");
    p = format_int(p, index);
    p = format_text(p, " type0 mean=");
    p = format_fixed(p, stats.sum / 19200.0, 0);
    p = format_text(p, " min=");
    p = format_int(p, stats.min);
    p = format_text(p, " max=");
    p = format_int(p, stats.max);
    p = format_text(p, " meandelta=");
    const double change = static_cast<double>(stats.change_total);
    p = format_fixed(p, stats.compared != 0 ? change / stats.compared : 0.0, 1);
    *p++ = '\n';
    std::fwrite(line, 1, static_cast<std::size_t>(p - line), report);
}

capture_end capture_loop(int requested, unsigned char* payload, std::FILE* report,
                         run_counters& counters) {
    std::int64_t last_accepted_ms = monotonic_ms();
    while (counters.frames_read < requested) {
        if (stop_requested() != 0) return capture_end::interrupted;
        progress_update(counters);
        int type = 0;
        if (read_frame(payload, type) == 0) {
            if (monotonic_ms() - last_accepted_ms >= stall_limit_ms) {
                return capture_end::device_stopped;
            }
            sleep_ms(10);
            continue;
        }
        last_accepted_ms = monotonic_ms();
        const int index = counters.frames_read++;
        if (type != 0) {
            ++counters.other_frames;
            continue;
        }
        ++counters.type0_frames;
        const frame_stats stats = analyse_frame(payload, counters.type0_frames > 1);
        write_frame_line(report, index, stats);
    }
    return capture_end::complete;
}
}  // namespace

capture_end capture_frames(int requested, unsigned char* payload, std::FILE* report,
                           run_counters& counters) {
    progress_start(requested);
    const capture_end end = capture_loop(requested, payload, report, counters);
    progress_finish();
    return end;
}
