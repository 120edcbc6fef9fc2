#pragma once

// Linked into the wizard that brings its own Qt, with -Wl,--wrap=log,--wrap=pow,--wrap=statx:
// Qt's calls reach the C library versions that Ubuntu 18.04's glibc 2.27 already has.

struct statx;

extern "C" {
double __wrap_log(double value);                                                // NOLINT(bugprone-reserved-identifier)
double __wrap_pow(double base, double exponent);                                // NOLINT(bugprone-reserved-identifier)
int __wrap_statx(int directory, const char *path, int flags, unsigned int mask, // NOLINT(bugprone-reserved-identifier)
                 struct statx *buffer);
}
