#include "usbfs_poll_gate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace emulator {

poll_gate::~poll_gate() {
    if (fd_ >= 0) close(fd_);
}

bool poll_gate::install(const std::string& path) {
    struct stat st {};
    const mode_t mode = stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0666;
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    if (mkfifo(path.c_str(), mode) != 0) return false;
    // Opened for reading and writing, so neither end ever sees a hang-up.
    fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    // One page: filling and draining it costs one system call each.
    fcntl(fd_, F_SETPIPE_SZ, 4096);
    set_ready(false);
    return true;
}

void poll_gate::set_ready(bool ready) {
    if (fd_ < 0 || ready == ready_) return;
    char page[4096] = {};
    if (ready) {
        while (read(fd_, page, sizeof page) > 0) {
        }
    } else {
        while (write(fd_, page, sizeof page) > 0) {
        }
    }
    ready_ = ready;
}

}  // namespace emulator
