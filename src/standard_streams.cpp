#include "standard_streams.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int WRITE_FAILED_STATUS = 1;

// Whether the report's own stream was missing when the process started.
bool standard_output_was_closed = false;

#if defined(_WIN32)

// Windows does not hand a missing standard handle's number to the next file the runtime opens,
// so nothing needs attaching: a missing stdout has no descriptor (_fileno gives a negative
// value), every write to it fails, and the check at the end reports that.
void attach_closed_standard_descriptors() { standard_output_was_closed = _fileno(stdout) < 0; }

bool standard_output_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

#else

// A standard descriptor that the parent left closed would otherwise be handed to the first file
// the CUDA runtime opens, and the report written into, or the final read taken from, that file.
// A closed stdout is attached to /dev/null like the others, and remembered as a failed report.
void attach_closed_standard_descriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            standard_output_was_closed |= descriptor == STDOUT_FILENO;
            static_cast<void>(open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY));
        }
    }
}

bool standard_output_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

#endif

}  // namespace

void prepare_standard_streams() {
    attach_closed_standard_descriptors();
    // On a terminal every character must show the moment it is written, such as the frequency
    // prompt during the calibration sleep; files and pipes keep the default block buffering.
    if (standard_output_is_terminal()) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
}

int finish_standard_output(int status) {
    // A write that failed earlier left its code in errno, and the C library dropped the bytes
    // it could not write, so the final flush succeeds and leaves errno alone. On a file or a
    // pipe a short report fails at the flush before the final read, after the last CUDA call,
    // so errno still holds the write's code here. A write that failed earlier in a long or
    // unbuffered report may have had its code replaced by a later call; the text then names
    // that call's error, but the status is 1 all the same. A flush that fails now sets its own.
    const int earlier_error = errno;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    int error = flushed ? earlier_error : errno;
    if (standard_output_was_closed) {
        error = EBADF;
    } else if (flushed && std::ferror(stdout) == 0) {
        return status;
    }
    std::fprintf(stderr, "cuda-bandwidth: cannot write the report: %s\n",
                 std::strerror(error != 0 ? error : EIO));
    return WRITE_FAILED_STATUS;
}
