#pragma once

#include "config_staging.h"
#include "lock_holders.h"
#include "shared_names.h"

#include <cstdint>
#include <sys/types.h>

constexpr const char *kRpmProgram = "rpm";
constexpr const char *kConfigName = "/.agent.conf";

constexpr int kNameBufferSize = 1024;
constexpr int kWorkingDirSize = 1000;
constexpr mode_t kWizardMode = 0701;
// Exit status of a text-mode installation stopped for want of a usable .agent.conf.
constexpr int kConfigMissingStatus = 2;
// Exit status for a package file that no package manager here handles.
constexpr int kUnsupportedPackageStatus = 1;
// Exit status of a text-mode installation by a user who may not install: dpkg's own for it.
constexpr int kNeedsRootStatus = 2;
// How the usage names the image when the argument vector is empty.
constexpr const char *kImageName = "./morrowlin-tesserak-installer.run";

/// True when DISPLAY is set, even to an empty value.
bool isX11Mode();

/// Text mode: scans for "extract" and "help", writes the package, installs it unless only extracting.
int cli_execute(int argc, char **argv);

/// Installs the package file at path with the package manager its name calls for.
int cli_install(char *path);

/// Graphical mode: writes both payloads to /tmp, runs the wizard and reports its status.
int cli_start_ui();

/// Length held in a payload's little-endian size word.
int32_t payload_size(const unsigned char *sizeWord);

enum class Destination {
    FreshFile, ///< must not exist: created exclusively
    OwnFile,   ///< may exist, but only as a regular file of ours with one link; cut to length 0
};

struct PayloadWriteResult {
    enum Kind { Written, OpenFailed, ShortWrite } kind;
    int error; ///< errno of the failed step, 0 when written
};

/// Writes one payload to path: copied inside the kernel from the image's own file, or, where
/// the kernel refuses that, in a single write from the mapped data.
PayloadWriteResult write_payload(const unsigned char *data, const unsigned char *sizeWord, const char *path,
                                 Destination destination);

enum class ChildIo {
    Shared,                ///< the child uses our standard input, output and error
    SharedUninterruptible, ///< the same, with the terminal's signals ignored by the child and what it starts
    Shielded,              ///< the terminal's signals and a lost output of ours cannot cut the child off half way
};

struct ChildResult {
    int status;       ///< raw wait status, -1 when the child never ran
    int startError;   ///< errno of the failed start, 0 when it ran
    int signalNumber; ///< a signal that reached us while a shielded child ran, 0 if none
};

/// Runs argv[0] (looked up on PATH when searchPath) without a shell and waits for it.
/// The child gets no descriptor of ours beyond standard input, output and error, and
/// extraEnvironment ("NAME=value") besides our environment. The caller of a shielded or
/// uninterruptible child catches the termination signals (termination_signals.h) for as
/// long as it matters.
ChildResult run_program(const char *const argv[], bool searchPath, ChildIo io, const char *extraEnvironment = nullptr);

/// Puts /dev/null where standard input, output or error is closed, so that no file we open takes their place.
void ensure_standard_descriptors();

/// Exit status that tells a child's failure: its exit code, 128 + signal, or 255 when it never ran.
int exit_status_of(int rawStatus);

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

struct InstallationLock {
    int fd;            ///< held while >= 0
    LockHolder holder; ///< who has it, when another installation does
    int error;         ///< errno when the lock file could not be used
};

/// Takes the one-installation-at-a-time lock at path without waiting.
InstallationLock take_installation_lock(const char *path);

/// Removes the lock file and lets the lock go.
void release_installation_lock(const InstallationLock &lock, const char *path);
