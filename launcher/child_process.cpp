#include "child_process.h"

#include "termination_signals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the terminal sends to the whole process group: the package manager ignores these.
constexpr int kIgnoredInChild[] = {SIGINT, SIGQUIT, SIGHUP};

/// Closes every descriptor above standard error except keep: nothing of ours reaches the child.
void close_other_descriptors(int keep)
{
    if (DIR *dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (const dirent *entry = readdir(dir)) {
            const int fd = int(strtol(entry->d_name, nullptr, 10)); // "." and ".." give 0: kept
            if (fd > 2 && fd != keep && fd != own)
                close(fd);
        }
        closedir(dir);
        return;
    }
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keep)
            close(fd);
    }
}

/// Runs program's bytes from an anonymous file in memory, under argv; returns only on failure, with errno set.
void execute_from_memory(const InMemoryProgram &program, const char *const argv[])
{
    // By number: older C libraries lack the wrapper, and what ships must start there too.
    const int fd = int(syscall(SYS_memfd_create, "setup-wizard", MFD_CLOEXEC));
    if (fd < 0)
        return;
    const unsigned char *data = program.data;
    for (size_t left = program.size; left > 0;) {
        const ssize_t put = write(fd, data, left);
        if (put <= 0) {
            if (put < 0 && errno == EINTR)
                continue;
            const int error = put < 0 ? errno : EIO;
            close(fd);
            errno = error;
            return;
        }
        data += put;
        left -= size_t(put);
    }
    fexecve(fd, const_cast<char *const *>(argv), environ);
    const int error = errno;
    close(fd);
    errno = error;
}

/// In the forked child: set up descriptors and signals, then become argv[0]. Never returns.
[[noreturn]] void become_child(const char *const argv[], bool searchPath, const char *extraEnvironment,
                               bool ignoreTerminal, const int *output, const int *errors, int report,
                               const InMemoryProgram *sameProgram)
{
    if (extraEnvironment)
        putenv(const_cast<char *>(extraEnvironment));
    // Ignored signals stay ignored across exec, down to the package manager.
    if (ignoreTerminal) {
        for (const int signalNumber : kIgnoredInChild)
            signal(signalNumber, SIG_IGN);
    }
    if (output) {
        dup2(output[1], STDOUT_FILENO);
        dup2(errors[1], STDERR_FILENO);
    }
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    close_other_descriptors(report);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    char *const *args = const_cast<char *const *>(argv);
    if (searchPath)
        execvp(argv[0], args);
    else
        execv(argv[0], args);
    if (errno == EACCES && sameProgram) {
        execute_from_memory(*sameProgram, argv);
        // The path's refusal tells the user more than the fallback's (a script, say, cannot
        // run from a descriptor that closes on exec).
        errno = EACCES;
    }
    const int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

/// errno of a failed exec as the child reported it, or 0 once the child runs the program.
int start_error(int report)
{
    int error = 0;
    for (;;) {
        const ssize_t got = read(report, &error, sizeof error);
        if (got < 0 && errno == EINTR)
            continue;
        return got == ssize_t(sizeof error) ? error : 0;
    }
}

/// Writes all of data to fd; false once fd no longer takes it (closed, full, gone).
bool forward(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

void note_signal_once(bool &noted)
{
    if (noted || termination_signal() == 0)
        return;
    noted = true;
    printf("\nSignal %d received: waiting for the package manager to end, so that the package is not left half "
           "installed.\n",
           termination_signal());
    fflush(stdout);
}

/// Waits for pid, meanwhile copying its output to ours. What we can no longer pass on is
/// still read and dropped, so the child never sees a broken pipe. Stops at the child's end
/// even if something it started keeps the pipes open. Returns the raw wait status.
int relay_until_exit(pid_t pid, int output, int errors, bool &noted)
{
    struct Stream {
        int from;
        int to;
        bool lost;
    } streams[] = {{output, STDOUT_FILENO, false}, {errors, STDERR_FILENO, false}};
    char buffer[64 * 1024];
    const auto pass_on = [&](Stream &stream) {
        const ssize_t got = read(stream.from, buffer, sizeof buffer);
        if (got < 0)
            return errno == EINTR;
        if (got == 0)
            return false;
        if (!stream.lost)
            stream.lost = !forward(stream.to, buffer, size_t(got));
        return true;
    };
    constexpr int kChildCheckMs = 100;
    int status = -1;
    for (bool ended = false; !ended;) {
        pollfd fds[2];
        for (int i = 0; i < 2; ++i)
            fds[i] = {streams[i].from, POLLIN, 0};
        if (poll(fds, 2, kChildCheckMs) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (streams[i].from >= 0 && fds[i].revents != 0 && !pass_on(streams[i])) {
                    close(streams[i].from);
                    streams[i].from = -1;
                }
            }
        }
        note_signal_once(noted);
        const pid_t waited = waitpid(pid, &status, WNOHANG);
        ended = waited == pid || (waited < 0 && errno != EINTR);
    }
    // What the child wrote before it ended; nothing more is waited for.
    for (Stream &stream : streams) {
        if (stream.from < 0)
            continue;
        fcntl(stream.from, F_SETFL, O_NONBLOCK);
        while (pass_on(stream)) {}
        close(stream.from);
    }
    return status;
}

} // namespace

ChildResult run_program(const char *const argv[], bool searchPath, ChildIo io, const char *extraEnvironment,
                        const InMemoryProgram *sameProgram)
{
    const bool shielded = io == ChildIo::Shielded;
    if (shielded) {
        // A reader that went away must end neither the launcher while the package manager
        // runs nor its report afterwards: the exit status still tells the outcome.
        signal(SIGPIPE, SIG_IGN);
    }

    int report[2] = {-1, -1};
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) != 0
        || (shielded && (pipe2(output, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0))) {
        const int error = errno;
        for (const int fd : {report[0], report[1], output[0], output[1], errors[0], errors[1]})
            if (fd >= 0)
                close(fd);
        return {-1, error, 0};
    }

    // The child shares our stdout (or we pass its output on): what we printed comes first.
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0)
        become_child(argv, searchPath, extraEnvironment, io != ChildIo::Shared, shielded ? output : nullptr,
                     shielded ? errors : nullptr, report[1], sameProgram);
    const int forkError = errno;
    close(report[1]);
    if (shielded) {
        close(output[1]);
        close(errors[1]);
    }
    if (pid < 0) {
        close(report[0]);
        if (shielded) {
            close(output[0]);
            close(errors[0]);
        }
        return {-1, forkError, 0};
    }
    const int error = start_error(report[0]);
    close(report[0]);

    int status = 0;
    if (shielded) {
        bool noted = false;
        status = relay_until_exit(pid, output[0], errors[0], noted);
    } else {
        bool noted = io == ChildIo::Shared;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = -1;
                break;
            }
            note_signal_once(noted);
        }
    }
    const int signalNumber = io != ChildIo::Shared ? termination_signal() : 0;
    if (error != 0)
        return {-1, error, signalNumber};
    return {status, 0, signalNumber};
}

int exit_status_of(int rawStatus)
{
    if (rawStatus == -1)
        return 255;
    if (WIFEXITED(rawStatus))
        return WEXITSTATUS(rawStatus);
    if (WIFSIGNALED(rawStatus))
        return 128 + WTERMSIG(rawStatus);
    return 255;
}
