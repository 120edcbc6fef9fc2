#include "trusted_owners.h"

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

/// The uid in an environment variable such as SUDO_UID, or (uid_t)-1 when unset or not a number.
uid_t uid_from_environment(const char *name)
{
    const char *value = getenv(name);
    if (!value || *value < '0' || *value > '9')
        return uid_t(-1);
    char *end = nullptr;
    const unsigned long uid = strtoul(value, &end, 10);
    if (*end != '\0' || uid >= UINT_MAX)
        return uid_t(-1);
    return uid_t(uid);
}

void add(TrustedOwners &trusted, uid_t uid)
{
    if (uid != uid_t(-1) && !is_trusted(trusted, uid))
        trusted.uids[trusted.count++] = uid;
}

} // namespace

TrustedOwners trusted_owners(uid_t extra)
{
    TrustedOwners trusted{{}, 0};
    add(trusted, 0);
    add(trusted, getuid());
    add(trusted, uid_from_environment("SUDO_UID"));
    add(trusted, uid_from_environment("PKEXEC_UID"));
    add(trusted, extra);
    return trusted;
}

bool is_trusted(const TrustedOwners &trusted, uid_t uid)
{
    for (int i = 0; i < trusted.count; ++i) {
        if (trusted.uids[i] == uid)
            return true;
    }
    return false;
}

bool directory_is_private(const struct stat &st, const TrustedOwners &trusted)
{
    if (!S_ISDIR(st.st_mode) || !is_trusted(trusted, st.st_uid))
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

bool path_is_private(const char *path, const TrustedOwners &trusted)
{
    char *resolved = realpath(path, nullptr);
    if (!resolved)
        return false;
    std::string prefix = resolved;
    free(resolved);
    for (;;) {
        struct stat st {};
        if (stat(prefix.c_str(), &st) != 0 || !directory_is_private(st, trusted))
            return false;
        if (prefix == "/")
            return true;
        const std::string::size_type slash = prefix.rfind('/');
        prefix.resize(slash == 0 ? 1 : slash);
    }
}
