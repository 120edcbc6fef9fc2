#pragma once

#include "config_staging.h"

#include <cstdint>
#include <sys/types.h>

// Names shared with the wizard, which installs from kPackagePath.
constexpr const char *kPackageFileName = "morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb";
constexpr const char *kPackagePath = "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb";
constexpr const char *kWizardPath = "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb_ui_bin";
constexpr const char *kDpkgPath = "/usr/bin/dpkg";
constexpr const char *kRpmProgram = "rpm";
constexpr const char *kConfigName = "/.agent.conf";
constexpr const char *kStagedConfigPath = "/tmp/agent.conf";

constexpr int kNameBufferSize = 1024;
constexpr int kWorkingDirSize = 1000;
constexpr mode_t kWizardMode = 0701;
// Exit status of a text-mode installation stopped for want of a usable .agent.conf.
constexpr int kConfigMissingStatus = 2;
// Exit status for a package file that no package manager here handles.
constexpr int kUnsupportedPackageStatus = 1;

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

/// Writes one payload to path in a single write from the mapped data.
PayloadWriteResult write_payload(const unsigned char *data, const unsigned char *sizeWord, const char *path,
                                 Destination destination);

enum class ChildIo {
    Shared,   ///< the child uses our standard input, output and error
    Shielded, ///< the terminal's signals and a lost output of ours cannot cut the child off half way
};

struct ChildResult {
    int status;       ///< raw wait status, -1 when the child never ran
    int startError;   ///< errno of the failed start, 0 when it ran
    int signalNumber; ///< a signal that reached us while a shielded child ran, 0 if none
};

/// Runs argv[0] (looked up on PATH when searchPath) without a shell and waits for it.
/// The child gets no descriptor of ours beyond standard input, output and error.
ChildResult run_program(const char *const argv[], bool searchPath, ChildIo io);

/// Puts /dev/null where standard input, output or error is closed, so that no file we open takes their place.
void ensure_standard_descriptors();

/// Exit status that tells a child's failure: its exit code, 128 + signal, or 255 when it never ran.
int exit_status_of(int rawStatus);
