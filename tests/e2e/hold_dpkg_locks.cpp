// Takes dpkg's locks as apt does (frontend lock, then database lock: fcntl
// write locks on the whole files) and keeps them for a while, under the name
// the automatic upgrades have in /proc. Linked statically: it also runs in
// the target matrix's older roots.
//
// usage: hold_dpkg_locks SECONDS [READY-FILE]   hold both, touch READY-FILE once held
//        hold_dpkg_locks --try                  exit 0 if the frontend lock could be taken now
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool lock_file(const char *path)
{
    const int fd = open(path, O_RDWR | O_CREAT, 0640);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s SECONDS [READY-FILE] | --try\n", argv[0]);
        return 2;
    }
    if (strcmp(argv[1], "--try") == 0)
        return lock_file("/var/lib/dpkg/lock-frontend") ? 0 : 1;
    prctl(PR_SET_NAME, "unattended-upgr");
    if (!lock_file("/var/lib/dpkg/lock-frontend") || !lock_file("/var/lib/dpkg/lock")) {
        perror("hold_dpkg_locks");
        return 1;
    }
    if (argc > 2)
        close(open(argv[2], O_WRONLY | O_CREAT, 0644));
    // Seconds may be fractional.
    usleep(useconds_t(atof(argv[1]) * 1e6));
    return 0;
}
