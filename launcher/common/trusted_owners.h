#pragma once

// Who root may take files and directories from: root itself, the user who
// invoked it, and the owner of the image it runs from. Anything another local
// user controls could have been planted for root to act on.

#include <sys/stat.h>
#include <sys/types.h>

struct TrustedOwners {
    uid_t uids[5];
    int count;
};

/// Root, the real uid, SUDO_UID and PKEXEC_UID, and extra unless it is (uid_t)-1.
TrustedOwners trusted_owners(uid_t extra);

bool is_trusted(const TrustedOwners &trusted, uid_t uid);

/// A directory whose entries no untrusted user can replace: owned by a trusted owner and
/// writable by group or others only with the sticky bit.
bool directory_is_private(const struct stat &st, const TrustedOwners &trusted);

/// directory_is_private for path and every directory above it (links resolved), so that
/// nobody else can rename anything on the way to it either.
bool path_is_private(const char *path, const TrustedOwners &trusted);
