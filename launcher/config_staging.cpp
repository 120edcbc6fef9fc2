#include "tqwiz_t.h"

#include <cerrno>
#include <cstdlib>
#include <string>
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
