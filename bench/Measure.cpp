// moatgate_measure PROGRAM [ARGUMENTS...]: runs the program (found on the path)
// with this process's environment and descriptors, and writes to descriptor 3
// "SECONDS PEAK-KB STATUS": the wall time from its start to its end, the most
// memory it held, and its exit status (-1: it did not exit normally).
//
// The benchmarks start programs through this small process because the kernel
// counts a program's peak memory from the size of the process that started it
// (the peak of the process image it replaced), which for a benchmark is large.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    // The program must not hold the answer's pipe open (a server it starts would
    // keep the benchmark waiting).
    if (::fcntl(3, F_SETFD, FD_CLOEXEC) != 0) return 2;
    timespec start{}, end{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) return 127;
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds =
        static_cast<double>(end.tv_sec - start.tv_sec) + static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%.6f %ld %d\n", seconds, usage.ru_maxrss,
                                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (n > 0 && ::write(3, line, static_cast<std::size_t>(n)) != n) return 1;
    return 0;
}
