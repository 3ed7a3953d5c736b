// libFuzzer entry: every input is a device's answers, played through the
// whole tool; a violated check ends the process like a sanitizer report does.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "device_answers_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const answers_run run = play_device_answers(data, size);
    if (!run.violation.empty()) {
        std::fprintf(stderr, "device_answers_fuzz: %s; status %d, output \"%s\"\n",
                     run.violation.c_str(), run.status, run.output.c_str());
        std::abort();
    }
    return 0;
}
