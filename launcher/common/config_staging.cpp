#include "config_staging.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Copies everything readable from in to out; 0 or errno.
int copy_all(int in, int out)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += put;
        }
    }
}

} // namespace

ConfigFile open_configuration(const char *path, const TrustedOwners *trusted)
{
    // Opened relative to the directory that is checked, so both are the same whatever is renamed meanwhile.
    const std::string whole = path;
    const std::string::size_type slash = whole.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : whole.substr(0, slash);
    const std::string name = slash == std::string::npos ? whole : whole.substr(slash + 1);
    const int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return {-1, ConfigRefusal::CannotOpen, errno};
    struct stat dirSt {};
    struct stat linkSt {};
    if (fstat(dirFd, &dirSt) != 0 || fstatat(dirFd, name.c_str(), &linkSt, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        close(dirFd);
        return {-1, ConfigRefusal::CannotOpen, error};
    }
    // A link is only as good as whoever made it: another user's may point at any file of root's.
    if (trusted && S_ISLNK(linkSt.st_mode) && !is_trusted(*trusted, linkSt.st_uid)) {
        close(dirFd);
        return {-1, ConfigRefusal::UntrustedOwner, 0};
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; a regular file reads as usual.
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int openError = errno;
    close(dirFd);
    if (fd < 0)
        return {-1, ConfigRefusal::CannotOpen, openError};
    struct stat st {};
    ConfigRefusal refusal = ConfigRefusal::None;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        refusal = ConfigRefusal::NotRegularFile;
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        refusal = ConfigRefusal::WritableByOthers;
    else if (trusted && !is_trusted(*trusted, st.st_uid))
        refusal = ConfigRefusal::UntrustedOwner;
    // Another user could have linked a file of root's in there (a hard link needs no rights to it).
    else if (trusted && !directory_is_private(dirSt, *trusted))
        refusal = ConfigRefusal::UntrustedDirectory;
    if (refusal != ConfigRefusal::None) {
        close(fd);
        return {-1, refusal, 0};
    }
    return {fd, ConfigRefusal::None, 0};
}

int stage_configuration(int sourceFd, const char *stagedPath)
{
    // A fresh owner-only file renamed over the old one: never written through a
    // planted link, never into another user's file, never seen half written.
    std::string temporary = std::string(stagedPath) + ".XXXXXX";
    const int out = mkstemp(temporary.data());
    if (out < 0)
        return errno;
    int error = copy_all(sourceFd, out);
    if (close(out) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), stagedPath) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}
