// The real program, linked with the real CUDA runtime, run as a user runs it: through pipes,
// files, odd descriptors and a terminal. Without a GPU it must print the runtime's own error
// line; with GPUs, one complete block per device.

#include <cuda_runtime_api.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>

#include "report_grammar.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Without a GPU the run lasts the calibration second; with GPUs it copies many gigabytes.
constexpr seconds RUN_LIMIT{240};
constexpr seconds NO_GPU_LIMIT{5};

struct runtime_view {
    int device_count = 0;
    cudaError_t status = cudaSuccess;
};

// What the runtime tells this process; the program must tell the same.
const runtime_view& runtime() {
    static const runtime_view view = [] {
        runtime_view v;
        v.status = cudaGetDeviceCount(&v.device_count);
        static_cast<void>(cudaGetLastError());
        if (v.status != cudaSuccess) {
            v.device_count = 0;
        }
        return v;
    }();
    return view;
}

std::string expected_count_error() {
    return std::string("Error occured: ") + cudaGetErrorString(runtime().status) + " (" +
           std::to_string(static_cast<int>(runtime().status)) + ")";
}

void expect_report_matches_runtime(const std::string& text) {
    const report_grammar::report parsed = report_grammar::parse(text);
    ASSERT_EQ(parsed.problem, "") << text;
    if (runtime().status != cudaSuccess) {
        EXPECT_EQ(parsed.count, "0");
        EXPECT_EQ(parsed.count_error, expected_count_error());
        EXPECT_FALSE(parsed.done);
        return;
    }
    EXPECT_EQ(parsed.count, std::to_string(runtime().device_count));
    ASSERT_EQ(parsed.devices.size(), static_cast<std::size_t>(runtime().device_count));
    for (std::size_t i = 0; i < parsed.devices.size(); ++i) {
        EXPECT_EQ(parsed.devices[i].index, static_cast<int>(i));
        EXPECT_TRUE(parsed.devices[i].complete()) << parsed.devices[i].error;
    }
    EXPECT_TRUE(parsed.done);
}

// Starts the program with the given descriptors as its stdin, stdout and stderr; -1 leaves one
// closed, and stderr is inherited unless given. Every other descriptor of this process is
// opened close-on-exec, so the child holds none. A parent that ignores SIGPIPE passes that on.
pid_t spawn(int input, int output, int error = STDERR_FILENO, bool ignore_sigpipe = false) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (ignore_sigpipe) {
            signal(SIGPIPE, SIG_IGN);
        }
        const int targets[] = {input, output, error};
        for (int fd = 0; fd < 3; ++fd) {
            if (targets[fd] < 0) {
                close(fd);
            } else if (targets[fd] != fd) {
                dup2(targets[fd], fd);
            } else {
                fcntl(fd, F_SETFD, 0);
            }
        }
        execl(CUDA_BANDWIDTH_BINARY, CUDA_BANDWIDTH_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The child's wait status, or -1 if it did not end in time (it is killed then).
int wait_for(pid_t pid, clock_type::duration limit) {
    const clock_type::time_point deadline = clock_type::now() + limit;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid, &status, WNOHANG)) == 0) {
        if (clock_type::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return ended == pid ? status : -1;
}

// Looks without reaping, so that a later wait_for still gets the child's status.
bool still_running(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

// Reads until end of file, until the limit has passed or until finished() says so, and returns
// what came; each chunk is handed to on_chunk with the text so far as it arrives.
template <typename Finished, typename OnChunk>
std::string read_until(int fd, clock_type::duration limit, Finished finished, OnChunk on_chunk) {
    const clock_type::time_point deadline = clock_type::now() + limit;
    std::string text;
    char chunk[4096];
    while (!finished(text) && clock_type::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 10) <= 0) {
            continue;
        }
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        on_chunk(text);
    }
    return text;
}

std::string read_all(int fd, clock_type::duration limit) {
    return read_until(
        fd, limit, [](const std::string&) { return false; }, [](const std::string&) {});
}

// True once the text is a whole report: a terminal's line ends are read as plain ones.
bool report_is_finished(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return report_grammar::parse(text).problem.empty();
}

struct pipe_ends {
    int read_end = -1;
    int write_end = -1;
};

pipe_ends make_pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    return {fds[0], fds[1]};
}

TEST(binary, reports_what_the_runtime_reports_and_returns_at_end_of_input) {
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pipe_ends output = make_pipe();
    const clock_type::time_point started = clock_type::now();
    const pid_t pid = spawn(input, output.write_end);
    close(input);
    close(output.write_end);
    const std::string text = read_all(output.read_end, RUN_LIMIT);
    close(output.read_end);
    const int status = wait_for(pid, seconds(5));
    const clock_type::duration took = clock_type::now() - started;

    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expect_report_matches_runtime(text);
    if (runtime().status != cudaSuccess) {
        EXPECT_LT(took, NO_GPU_LIMIT);
    }
}

enum class input_kind { closed, at_end };
enum class output_kind { pipe, closed, full_device, reader_gone, reader_gone_sigpipe_ignored };

struct stream_case {
    const char* name;
    input_kind input;
    output_kind output;
    int expected_status;
    const char* expected_error;  // what the program says on stderr, "" for nothing
};

std::ostream& operator<<(std::ostream& out, const stream_case& c) { return out << c.name; }

// A report that could not be written is a failure; everything else, CUDA errors included, is
// stated in the report and ends with status 0.
const stream_case STREAMS[] = {
    {"stdin_closed", input_kind::closed, output_kind::pipe, 0, ""},
    {"stdin_at_end", input_kind::at_end, output_kind::pipe, 0, ""},
    {"stdout_closed", input_kind::at_end, output_kind::closed, 1,
     "cuda-bandwidth: cannot write the report: Bad file descriptor\n"},
    {"stdout_on_a_full_device", input_kind::at_end, output_kind::full_device, 1,
     "cuda-bandwidth: cannot write the report: No space left on device\n"},
    {"stdout_reader_closes_early", input_kind::at_end, output_kind::reader_gone, 0, ""},
    {"stdout_reader_closes_early_with_sigpipe_ignored", input_kind::at_end,
     output_kind::reader_gone_sigpipe_ignored, 1,
     "cuda-bandwidth: cannot write the report: Broken pipe\n"},
};

class odd_streams : public testing::TestWithParam<stream_case> {};

// Every case ends on its own; only a reader that went away may end it with SIGPIPE.
TEST_P(odd_streams, the_program_ends_by_itself_and_says_whether_the_report_was_written) {
    const stream_case& c = GetParam();
    const int input = c.input == input_kind::closed ? -1 : open("/dev/null", O_RDONLY | O_CLOEXEC);
    pipe_ends output;
    int child_output = -1;
    const bool reader_gone = c.output == output_kind::reader_gone ||
                             c.output == output_kind::reader_gone_sigpipe_ignored;
    if (c.output == output_kind::pipe || reader_gone) {
        output = make_pipe();
        child_output = output.write_end;
        if (reader_gone) {
            close(output.read_end);
            output.read_end = -1;
        }
    } else if (c.output == output_kind::full_device) {
        child_output = open("/dev/full", O_WRONLY | O_CLOEXEC);
    }
    const pipe_ends error = make_pipe();
    const pid_t pid = spawn(input, child_output, error.write_end,
                            c.output == output_kind::reader_gone_sigpipe_ignored);
    close(error.write_end);
    if (input >= 0) {
        close(input);
    }
    if (child_output >= 0) {
        close(child_output);
    }
    std::string text;
    if (output.read_end >= 0) {
        text = read_all(output.read_end, RUN_LIMIT);
        close(output.read_end);
    }
    const std::string said = read_all(error.read_end, RUN_LIMIT);
    close(error.read_end);
    const int status = wait_for(pid, RUN_LIMIT);

    ASSERT_NE(status, -1) << "the program hung";
    if (c.output == output_kind::reader_gone && WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGPIPE);
        return;
    }
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), c.expected_status);
    EXPECT_EQ(said, c.expected_error);
    if (c.output == output_kind::pipe) {
        expect_report_matches_runtime(text);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, odd_streams, testing::ValuesIn(STREAMS),
                         [](const testing::TestParamInfo<stream_case>& info) {
                             return std::string(info.param.name);
                         });

std::string file_contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(binary, whole_report_is_in_the_file_before_the_wait_ends) {
    char path[] = "/tmp/cuda-bandwidth-report-XXXXXX";
    const int file = mkostemp(path, O_CLOEXEC);
    ASSERT_GE(file, 0);
    const pipe_ends input = make_pipe();
    const pid_t pid = spawn(input.read_end, file);
    close(input.read_end);
    close(file);

    const clock_type::time_point deadline = clock_type::now() + RUN_LIMIT;
    std::string text;
    while (!report_is_finished(text = file_contents(path)) && clock_type::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(50));
    }
    const bool waiting = still_running(pid);
    close(input.write_end);
    const int status = wait_for(pid, seconds(5));
    std::remove(path);

    EXPECT_TRUE(waiting) << "the program ended before its input did";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expect_report_matches_runtime(text);
}

// On a terminal the text must appear as it is written, and the wait must last until Enter.
TEST(binary, on_a_terminal_shows_text_at_once_and_waits_for_enter) {
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(CUDA_BANDWIDTH_BINARY, CUDA_BANDWIDTH_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }

    clock_type::time_point prompt_seen{};
    clock_type::time_point value_seen{};
    const std::string screen =
        read_until(terminal, RUN_LIMIT, report_is_finished, [&](const std::string& so_far) {
            const clock_type::time_point now = clock_type::now();
            if (prompt_seen == clock_type::time_point{} &&
                so_far.find("CPU frequency is... ") != std::string::npos) {
                prompt_seen = now;
            }
            if (value_seen == clock_type::time_point{} &&
                so_far.find(" GHz") != std::string::npos) {
                value_seen = now;
            }
        });
    ASSERT_TRUE(report_is_finished(screen)) << screen;
    ASSERT_NE(prompt_seen, clock_type::time_point{});
    EXPECT_GE(value_seen - prompt_seen, milliseconds(800))
        << "the frequency prompt was not on the screen during the calibration";

    ASSERT_EQ(write(terminal, "x", 1), 1);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_TRUE(still_running(pid)) << "a key without Enter ended the wait";

    ASSERT_EQ(write(terminal, "\n", 1), 1);
    const int status = wait_for(pid, seconds(5));
    close(terminal);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
