#pragma once

// The agent configuration as both installers take it: the text-mode launcher
// and the setup wizard refuse the same files and stage them the same way.

#include "trusted_owners.h"

enum class ConfigRefusal {
    None,
    CannotOpen,         ///< missing, or not readable
    NotRegularFile,     ///< a FIFO, device, directory or socket
    WritableByOthers,   ///< group or others may write it: not necessarily what its owner put there
    UntrustedOwner,     ///< as root: the file, or a link to it, belongs to another user
    UntrustedDirectory, ///< as root: another user may put files into its directory
};

struct ConfigFile {
    int fd; ///< open for reading (close-on-exec), -1 when refused
    ConfigRefusal refusal;
    int error; ///< errno of a failed open
};

/// Opens the configuration at path without blocking on a FIFO, and refuses what must not be
/// installed. With trusted (as root), also what another user controls: the file, a link to
/// it, or its directory.
ConfigFile open_configuration(const char *path, const TrustedOwners *trusted);

/// Replaces stagedPath as a whole with an owner-only copy of what is readable from sourceFd; 0 or errno.
int stage_configuration(int sourceFd, const char *stagedPath);
