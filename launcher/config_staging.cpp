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

ConfigFile open_configuration(const char *path)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; a regular file reads as usual.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {-1, ConfigRefusal::CannotOpen, errno};
    struct stat st {};
    ConfigRefusal refusal = ConfigRefusal::None;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        refusal = ConfigRefusal::NotRegularFile;
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        refusal = ConfigRefusal::WritableByOthers;
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
