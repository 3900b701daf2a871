// Runs one command and prints its wall time, CPU time (user + system) and
// peak resident memory:
//
//   measure STDOUT_FILE STDERR_FILE COMMAND ARGS...
//   -> "WALL_SECONDS CPU_SECONDS PEAK_KIB EXIT_STATUS"
//
// A small C++ program rather than the bench script itself, because the peak
// the kernel reports for a child includes the memory of the process it was
// forked from; this one is tiny.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measure STDOUT_FILE STDERR_FILE COMMAND ARGS...\n");
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (const int error = posix_spawnp(&pid, argv[3], &actions, nullptr, argv + 3, environ); error != 0) {
        std::fprintf(stderr, "measure: cannot start %s\n", argv[3]);
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("measure: wait4");
        return 1;
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    std::printf("%.6f %.6f %ld %d\n", wall.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime),
                usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}
