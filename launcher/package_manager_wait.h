#pragma once

// Waiting for dpkg's locks as its frontends take them.

struct PackageManagerWait {
    enum Outcome {
        Locked,      ///< ours: frontendFd holds the frontend lock (-1 with a dpkg that has none)
        Unlockable,  ///< the locks are not ours to take (not root): dpkg decides
        TimedOut,    ///< another package manager held them past the limit
        Interrupted, ///< a termination signal ended the wait
    } outcome;
    int frontendFd;   ///< to be closed once dpkg has ended
    int signalNumber; ///< the signal that ended the wait
};

/// Takes dpkg's locks in adminDir as its frontends do (frontend lock, then database lock,
/// the latter released again for dpkg to take), waiting up to limitSeconds for another
/// package manager. Says once whom it waits for, then at most once a minute that it still does.
/// Expects the termination signals to be caught.
PackageManagerWait wait_for_package_manager(const char *adminDir, int limitSeconds);
