#pragma once

// Who holds a lock on a file, as any user may learn it: the file can be
// stat'ed and /proc/locks is readable by everyone, so the unprivileged wizard
// sees root's package manager locks as well as the launcher does.

#include <string>
#include <sys/types.h>

struct LockHolder {
    bool held = false;
    pid_t pid = 0;       ///< 0 when the lock does not tell (an open file description lock)
    std::string program; ///< /proc/<pid>/comm, empty when unknown
};

/// Any lock (fcntl, flock or open file description) that a process holds on the file at path.
LockHolder lock_holder(const char *path);

/// The holder of dpkg's frontend lock or, failing that, of its database lock in adminDir.
LockHolder package_manager_holder(const char *adminDir);

/// The holder filled in from its process id: the program's name as /proc gives it.
LockHolder holder_of_process(pid_t pid);

/// "unattended-upgr, process 1234", "process 1234" or "an unknown process", for messages.
std::string describe_holder(const LockHolder &holder);
