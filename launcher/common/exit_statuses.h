#pragma once

// The exit statuses that the installers give of their own, besides 0 and the
// package manager's. Admins' scripts and the deployment role read them: the
// role explains each one listed in kTextModeStatuses.

#include <cerrno>

// A package file that no package manager here handles.
constexpr int kUnsupportedPackageStatus = 1;
// .agent.conf missing, refused (not a regular file, writable by others, another user's) or not stageable.
constexpr int kConfigUnusableStatus = 2;
// Text mode run by a user who may not install: dpkg's own status for it.
constexpr int kNeedsRootStatus = 2;
// A dependency of the package is not installed: nothing was installed (sysexits.h's EX_UNAVAILABLE).
constexpr int kMissingDependencyStatus = 69;
// The machine stays busy (the package manager past the wait, another installation): try
// again later (EX_TEMPFAIL).
constexpr int kBusyStatus = 75;
// dpkg missing, or it could not be started (the raw -1 of a child that never ran).
constexpr int kCannotRunStatus = 255;

// The wizard's, after a failed attempt: pkexec or dpkg missing, and pkexec not startable
// (like a shell's "found but cannot execute").
constexpr int kMissingToolStatus = 2;
constexpr int kStartFailedStatus = 126;

// Every status a text-mode run can end with, but the package manager's own and 128 + a
// signal: the errno of a failed file step among them.
constexpr int kTextModeStatuses[] = {
    kUnsupportedPackageStatus,
    kConfigUnusableStatus,
    EACCES,       // a file or directory not ours to write
    EEXIST,       // a FIFO, socket or device at the target, left alone
    EISDIR,       // a directory at the target
    ETXTBSY,      // the target is the image itself
    EFBIG,        // a file-size limit
    ENOSPC,       // disk full
    ENAMETOOLONG, // a name longer than 1023 characters
    ELOOP,        // a link at a /tmp path
    kMissingDependencyStatus,
    kBusyStatus,
    kCannotRunStatus,
};
