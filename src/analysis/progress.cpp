#include "analysis/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "platform/terminal.h"

namespace {
constexpr std::int64_t redraw_interval_ms = 250;

bool g_shown = false;
int g_requested = 0;
std::int64_t g_start_ms = 0;
std::int64_t g_last_draw_ms = 0;
int g_drawn_length = 0;

void draw(const char* text, int length) {
    // Overwrite the previous line, padding over any longer tail.
    std::fprintf(stderr, "\r%s%*s", text, std::max(0, g_drawn_length - length), "");
    std::fflush(stderr);
    g_drawn_length = length;
}
}  // namespace

int format_progress(char* out, int size, const run_counters& counters, int requested,
                    std::int64_t elapsed_ms) {
    const double seconds = static_cast<double>(elapsed_ms) / 1000.0;
    const double fps = seconds > 0.0 ? counters.frames_read / seconds : 0.0;
    int length =
        std::snprintf(out, static_cast<std::size_t>(size), "frames %d/%d  type0 %d  %.1f fps",
                      counters.frames_read, requested, counters.type0_frames, fps);
    if (fps > 0.0 && length < size) {
        const long long left = std::llround((requested - counters.frames_read) / fps);
        length += std::snprintf(out + length, static_cast<std::size_t>(size - length),
                                "  %lld:%02lld left", left / 60, left % 60);
    }
    return std::min(length, size - 1);
}

void progress_start(int requested) {
    g_shown = requested > 0 && stderr_is_terminal();
    g_requested = requested;
    g_start_ms = monotonic_ms();
    g_last_draw_ms = g_start_ms - redraw_interval_ms;
    g_drawn_length = 0;
}

void progress_update(const run_counters& counters) {
    if (!g_shown) return;
    const std::int64_t now = monotonic_ms();
    if (now - g_last_draw_ms < redraw_interval_ms) return;
    g_last_draw_ms = now;
    char line[128];
    const int length = format_progress(line, sizeof line, counters, g_requested, now - g_start_ms);
    draw(line, length);
}

void progress_finish() {
    if (!g_shown || g_drawn_length == 0) return;
    draw("", 0);
    std::fputs("\r", stderr);
    std::fflush(stderr);
    g_shown = false;
}
