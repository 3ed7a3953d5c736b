#include "platform/stop_signal.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void on_stop_signal(int signal) {
    g_stop_signal = signal;
    std::signal(signal, SIG_DFL);
}
}  // namespace

void install_stop_signals() {
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
}

int stop_requested() {
    return g_stop_signal;
}
