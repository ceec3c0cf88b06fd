#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "benchmark.hpp"

namespace {

// A standard descriptor that the parent left closed would otherwise be handed to the first file
// the CUDA runtime opens, and the report written into, or the final read taken from, that file.
void attach_closed_standard_descriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            static_cast<void>(open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY));
        }
    }
}

}  // namespace

int main() {
    attach_closed_standard_descriptors();
    // On a terminal every character must show the moment it is written, such as the frequency
    // prompt during the calibration sleep; files and pipes keep the default block buffering.
    if (isatty(STDOUT_FILENO) == 1) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    return run_benchmark();
}
