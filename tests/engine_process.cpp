#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace test_support {
namespace {

void write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // the engine exited early; what it read is what counts
        }
        done += static_cast<std::size_t>(n);
    }
}

engine_run collect(pid_t pid, int output_fd, double time_limit_seconds) {
    engine_run run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(time_limit_seconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd waiting{output_fd, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(output_fd, buffer, sizeof buffer);
        if (n <= 0) break;
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(output_fd);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) run.output_lines.push_back(line);
    return run;
}

pid_t spawn(const std::string& executable, const std::string& launcher, int input_fd, int output_fd,
            int close_in_child) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input_fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, close_in_child);
    std::vector<char*> argv;
    if (!launcher.empty()) argv.push_back(const_cast<char*>(launcher.c_str()));
    argv.push_back(const_cast<char*>(executable.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(failed));
    return pid;
}

}  // namespace

engine_run run_engine(const std::string& executable, const std::string& input, double time_limit_seconds,
                      const std::string& launcher) {
    signal(SIGPIPE, SIG_IGN);
    int to_engine[2], from_engine[2];
    if (pipe2(to_engine, O_CLOEXEC) || pipe2(from_engine, O_CLOEXEC)) throw std::runtime_error("pipe");
    const pid_t pid = spawn(executable, launcher, to_engine[0], from_engine[1], from_engine[0]);
    close(to_engine[0]);
    close(from_engine[1]);
    write_all(to_engine[1], input);
    close(to_engine[1]);
    return collect(pid, from_engine[0], time_limit_seconds);
}

engine_run run_engine_on_terminal(const std::string& executable, const std::string& input,
                                  double time_limit_seconds, const std::string& launcher) {
    signal(SIGPIPE, SIG_IGN);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) || unlockpt(master)) throw std::runtime_error("pseudo-terminal");
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) throw std::runtime_error("pseudo-terminal side");
    termios mode{};
    tcgetattr(terminal, &mode);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // keep the typed lines out of the way
    mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);  // a typed "\r" reaches the engine as it is
    tcsetattr(terminal, TCSANOW, &mode);
    int from_engine[2];
    if (pipe2(from_engine, O_CLOEXEC)) throw std::runtime_error("pipe");
    const pid_t pid = spawn(executable, launcher, terminal, from_engine[1], from_engine[0]);
    close(terminal);
    close(from_engine[1]);
    write_all(master, input);
    engine_run run = collect(pid, from_engine[0], time_limit_seconds);
    close(master);
    return run;
}

}  // namespace test_support
