#include "tqwiz_t.h"

#include <cerrno>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h> // environ

int run_program(const char *const argv[], bool searchPath)
{
    // The child shares our stdout; what we printed must come before what it prints.
    fflush(stdout);
    pid_t pid = 0;
    char *const *args = const_cast<char *const *>(argv);
    const int spawned = searchPath ? posix_spawnp(&pid, argv[0], nullptr, nullptr, args, environ)
                                   : posix_spawn(&pid, argv[0], nullptr, nullptr, args, environ);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
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
