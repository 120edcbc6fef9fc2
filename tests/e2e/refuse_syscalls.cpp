// Runs a command with some system calls refused (ENOSYS), as an older kernel
// or a container's seccomp profile would refuse them.
// usage: refuse_syscalls NAME[,NAME...] COMMAND [ARG...]
#include <cerrno>
#include <cstdio>
#include <seccomp.h>
#include <sstream>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s NAME[,NAME...] COMMAND [ARG...]\n", argv[0]);
        return 2;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    std::istringstream names(argv[1]);
    for (std::string name; std::getline(names, name, ',');) {
        const int number = seccomp_syscall_resolve_name(name.c_str());
        if (number == __NR_SCMP_ERROR || seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), number, 0) != 0) {
            fprintf(stderr, "refuse_syscalls: cannot refuse %s\n", name.c_str());
            return 2;
        }
    }
    if (seccomp_load(filter) != 0) {
        fputs("refuse_syscalls: cannot load the filter\n", stderr);
        return 2;
    }
    seccomp_release(filter);
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}
