// What Qt, compiled against the build root's C library, would otherwise import
// in versions newer than the oldest supported systems have: the wizard links
// with --wrap for each, and these forward to versions every glibc since 2.2.5
// (x86-64's first) has, or to the kernel.
#include "glibc_compat.h"

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {

// glibc 2.29 gave these new versions (without the old error handling);
// the results are the same for the values the wizard passes.
double glibc_2_2_5_log(double value);
double glibc_2_2_5_pow(double base, double exponent);
__asm__(".symver glibc_2_2_5_log,log@GLIBC_2.2.5");
__asm__(".symver glibc_2_2_5_pow,pow@GLIBC_2.2.5");

double __wrap_log(double value) // NOLINT(bugprone-reserved-identifier): the linker's name
{
    return glibc_2_2_5_log(value);
}

double __wrap_pow(double base, double exponent) // NOLINT(bugprone-reserved-identifier)
{
    return glibc_2_2_5_pow(base, exponent);
}

// statx came with glibc 2.28. Qt falls back to stat() when the kernel says ENOSYS.
int __wrap_statx(int directory, const char *path, int flags, unsigned int mask, // NOLINT(bugprone-reserved-identifier)
                 struct statx *buffer)
{
#ifdef SYS_statx
    return int(syscall(SYS_statx, directory, path, flags, mask, buffer));
#else
    errno = ENOSYS;
    return -1;
#endif
}
}
