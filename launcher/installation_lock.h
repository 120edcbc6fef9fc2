#pragma once

// One graphical installation at a time per machine.

#include "lock_holders.h"

struct InstallationLock {
    int fd;            ///< held while >= 0
    LockHolder holder; ///< who has it, when another installation does
    int error;         ///< errno when the lock file could not be used
};

/// Takes the one-installation-at-a-time lock at path without waiting.
InstallationLock take_installation_lock(const char *path);

/// Removes the lock file and lets the lock go.
void release_installation_lock(const InstallationLock &lock, const char *path);
