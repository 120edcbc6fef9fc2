#pragma once

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
// Exit status of a text-mode installation stopped for want of .agent.conf.
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

/// Replaces stagedPath as a whole with an owner-only copy of what is readable from sourceFd; 0 or errno.
int stage_configuration(int sourceFd, const char *stagedPath);

/// Runs argv[0] (looked up on PATH when searchPath) without a shell and waits; raw wait status, -1 if not started.
int run_program(const char *const argv[], bool searchPath);

/// Exit status that tells a child's failure: its exit code, 128 + signal, or 255 when it never ran.
int exit_status_of(int rawStatus);
