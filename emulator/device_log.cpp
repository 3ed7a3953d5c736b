#include "device_log.h"

#include <cstdio>

namespace emulator {

void device_log::add(std::int64_t at_ms, const std::string& device, const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::to_string(at_ms) + " " + device + " " + event + "\n");
}

bool device_log::write(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    for (const std::string& line : lines_) std::fputs(line.c_str(), file);
    return std::fclose(file) == 0;
}

}  // namespace emulator
