#include "command_line.h"

#include <climits>
#include <cstdio>
#include <cstring>

int parse_count(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Accumulate toward the limit of the sign's side and stop growing there.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int>(negative ? -value : value);
}

command requested_command(int argc, char** argv) {
    if (argc < 2) return command::run;
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        return command::help;
    }
    if (std::strcmp(argv[1], "--version") == 0) return command::version;
    return command::run;
}

void print_usage() {
    std::fputs(
        "usage: frame_stats [COUNT] [REPORT]\n"
        "       frame_stats -h | --help | --version\n"
        "\n"
        "Captures COUNT frames (default 200) from the USB camera with vendor ID\n"
        "0x833C and writes per-frame statistics, row and column profiles and the\n"
        "per-pixel deviation of the mean frame to REPORT (default frame_stats.txt).\n"
        "\n"
        "exit status: 0 complete; 1 no device or USB failure; 2 report not\n"
        "written; 3 no type-0 stream; 4 device stopped sending frames;\n"
        "128+N stopped by signal N (Ctrl-C: 130).\n",
        stdout);
}

void print_version() {
    std::printf("frame_stats %s\n", FRAME_STATS_VERSION);
}
