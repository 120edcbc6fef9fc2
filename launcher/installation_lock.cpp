#include "installation_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A lock file removed and made anew between our open and our lock: try again, a few times.
constexpr int kLockAttempts = 5;

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

InstallationLock take_installation_lock(const char *path)
{
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        // Read-only is enough for flock, so a lock file left by another user serves as well;
        // O_CREAT only when there is none, since a sticky /tmp may refuse it on another's file.
        int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT)
            fd = open(path, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == ENOENT || errno == EEXIST)
                continue;
            return {-1, {}, errno};
        }
        struct stat opened {};
        if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            close(fd);
            return {-1, {}, EEXIST};
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            if (error == EWOULDBLOCK)
                return {-1, lock_holder(path), 0};
            return {-1, {}, error};
        }
        struct stat current {};
        if (stat(path, &current) == 0 && same_file(opened, current))
            return {fd, {}, 0};
        close(fd);
    }
    return {-1, {}, EAGAIN};
}

void release_installation_lock(const InstallationLock &lock, const char *path)
{
    // Removed while still held, so that no later installation locks the file being removed.
    struct stat opened {};
    struct stat current {};
    if (fstat(lock.fd, &opened) == 0 && stat(path, &current) == 0 && same_file(opened, current))
        unlink(path);
    close(lock.fd);
}
