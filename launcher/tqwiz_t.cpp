#include "tqwiz_t.h"

#include "child_process.h"
#include "config_staging.h"
#include "exit_statuses.h"
#include "installation_lock.h"
#include "package_dependencies.h"
#include "package_manager_wait.h"
#include "payload_write.h"
#include "payloads.h"
#include "shared_names.h"
#include "termination_signals.h"
#include "trusted_owners.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *kExtractingLine = "\n Extracting native installer to '%s'\n";
constexpr const char *kExtractionErrorLine = "\n ERROR : file extraction to %s :%d\n";
// What the dynamic loader exits with when a library is missing.
constexpr int kLoaderFailedStatus = 127;

/// Fills the extraction target, cutting a long name to what the buffer holds; true when cut.
bool set_target(char (&target)[kNameBufferSize], const char *name)
{
    strncpy(target, name, kNameBufferSize - 1);
    target[kNameBufferSize - 1] = '\0';
    return strlen(name) > size_t(kNameBufferSize - 1);
}

void print_usage(const char *programName)
{
    printf("\n Installs %s ", programName);
    puts("\n Application starts Window based Install wizard if X11 is available(DISPLAY variable is set) ");
    printf("\n For text based installation following command line options are applicable:");
    printf("\n 1. extract <filename> : does not install, only extracts native installer to filename.");
}

/// The installer image's own file, as the kernel runs it.
bool image_file(struct stat &st)
{
    return stat("/proc/self/exe", &st) == 0;
}

/// Removes whatever is at target and writes the native package there; 0 or errno. Prints nothing.
int extract_native_package(const char *target)
{
    // Only a file or a link is ours to replace: never a device, a FIFO or a socket.
    struct stat st {};
    if (lstat(target, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode))
        return EEXIST;
    // Never the image itself, under any of its names: it would be replaced by the package.
    struct stat image {};
    struct stat followed {};
    if (image_file(image) && stat(target, &followed) == 0 && followed.st_dev == image.st_dev
        && followed.st_ino == image.st_ino)
        return ETXTBSY;
    if (unlink(target) != 0 && errno != ENOENT)
        return errno;
    // Created exclusively: anything planted since the removal makes this fail, not write through it.
    const PayloadWriteResult result
        = write_payload(tqnativeinstaller, tqnativeinstaller_size, target, Destination::FreshFile);
    return result.kind == PayloadWriteResult::Written ? 0 : result.error;
}

/// True when root runs us: then every file and directory of another user is suspect.
bool running_as_root()
{
    return geteuid() == 0;
}

/// Whose configuration root takes: root's, the invoking user's and the image file owner's.
TrustedOwners trusted_for_root()
{
    struct stat image {};
    return trusted_owners(image_file(image) ? image.st_uid : uid_t(-1));
}

/// Where root may write the package for dpkg: a directory of root's or of the invoking
/// user's alone. The image's owner is not enough here: the package would run as root.
bool current_directory_is_private()
{
    struct stat st {};
    return stat(".", &st) == 0 && directory_is_private(st, trusted_owners(uid_t(-1)));
}

/// False only when dpkg's database is certainly not ours to lock (not root); whatever
/// else goes wrong there is dpkg's to say.
bool may_lock_package_database(const char *adminDir)
{
    const std::string lock = std::string(adminDir) + "/lock";
    const int fd = open(lock.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    if (errno == ENOENT)
        return faccessat(AT_FDCWD, adminDir, W_OK, AT_EACCESS) == 0 || errno != EACCES;
    return errno != EACCES && errno != EPERM;
}

/// True for the failures of a directory that cannot take the package (read-only, not the
/// user's, full), as opposed to a target that must be left alone.
bool directory_refuses(int error)
{
    return error == EROFS || error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT;
}

/// $TMPDIR when it is absolute and, as root, nobody else's on any level; else /tmp.
const char *private_directory_base()
{
    const char *base = getenv("TMPDIR");
    if (!base || base[0] != '/')
        return "/tmp";
    if (running_as_root() && !path_is_private(base, trusted_owners(uid_t(-1))))
        return "/tmp";
    return base;
}

/// Installs from a new owner-only directory under $TMPDIR or /tmp instead of the current one,
/// and removes it afterwards whatever the outcome. reason: errno of the current directory's
/// failure, or 0 when root must not install from there.
int install_from_private_directory(int reason)
{
    if (reason != 0)
        printf("\n The current directory cannot take the package (%s): using a private directory instead.\n",
               strerror(reason));
    else
        printf("\n The current directory is open to other users: using a private directory instead.\n");
    const char *base = private_directory_base();
    char directory[kNameBufferSize];
    if (snprintf(directory, sizeof directory, "%s/morrowlin-tesserak.XXXXXX", base) >= int(sizeof directory)) {
        printf(kExtractionErrorLine, base, ENAMETOOLONG);
        return ENAMETOOLONG;
    }
    if (!mkdtemp(directory)) {
        const int error = errno;
        printf(kExtractionErrorLine, base, error);
        return error;
    }
    char target[kNameBufferSize];
    int status = 0;
    if (snprintf(target, sizeof target, "%s/%s", directory, kPackageFileName) >= int(sizeof target))
        status = ENAMETOOLONG;
    else
        printf(kExtractingLine, target);
    if (status == 0)
        status = extract_native_package(target);
    if (status != 0)
        printf(kExtractionErrorLine, target, status);
    else
        status = cli_install(target);
    unlink(target);
    rmdir(directory);
    return status;
}

/// Writes one payload to its fixed /tmp path with the graphical mode's messages; 0 or errno.
int extract_for_wizard(const unsigned char *data, const unsigned char *sizeWord, const char *path,
                       const char *openFailedLine, const char *extractedLine)
{
    const PayloadWriteResult result = write_payload(data, sizeWord, path, Destination::OwnFile);
    if (result.kind == PayloadWriteResult::OpenFailed) {
        printf(openFailedLine, path, result.error);
        return result.error;
    }
    if (result.kind == PayloadWriteResult::ShortWrite) {
        printf(kExtractionErrorLine, path, result.error);
        return result.error;
    }
    printf(extractedLine, path);
    return 0;
}

/// The report of an installation's end: the status lines, or the success line and the
/// removal of the files that are no longer needed. The closing line breaks are the caller's.
void report_outcome(int status, const char *application, const char *removeFirst, const char *removeSecond)
{
    if (status != 0) {
        printf("\nError Code:%d", status);
        printf("\nApplication:%s", application);
        return;
    }
    printf("\nInstallation Finished");
    unlink(removeFirst);
    if (removeSecond)
        unlink(removeSecond);
}

void report_unmet_dependencies(const std::vector<std::string> &unmet)
{
    const UnmetDependencyText text = unmet_dependency_text(unmet);
    printf("\nInstallation Aborted...%s %s; nothing installed.\n", text.needs.c_str(), text.remedy.c_str());
}

/// Waits for the package manager, stages the configuration from the probed file and runs
/// the package command; the result is the launcher's exit status.
int stage_and_run(const char *const *args, bool searchPath, const char *command, char *path, int configFd, bool dpkg)
{
    PackageManagerWait wait{PackageManagerWait::Unlockable, -1, 0};
    if (dpkg) {
        // After the checks of the configuration, before its staging: a wait that ends
        // without the locks leaves nothing behind.
        wait = wait_for_package_manager(kDpkgAdminDir, kPackageManagerWaitSeconds);
        if (wait.outcome == PackageManagerWait::TimedOut || wait.outcome == PackageManagerWait::Interrupted) {
            close(configFd);
            return wait.outcome == PackageManagerWait::TimedOut ? kBusyStatus : 128 + wait.signalNumber;
        }
    }
    // Staged from the very file the probe opened, so it cannot be swapped in between.
    const int error = stage_configuration(configFd, kStagedConfigPath);
    close(configFd);
    if (error != 0) {
        if (wait.frontendFd >= 0)
            close(wait.frontendFd);
        printf("\nInstallation Aborted...Config file could not be staged to %s: %s\n", kStagedConfigPath,
               strerror(error));
        return error;
    }

    // With the frontend lock ours, dpkg must not try to take it again.
    const ChildResult run
        = run_program(args, searchPath, ChildIo::Shielded, wait.frontendFd >= 0 ? "DPKG_FRONTEND_LOCKED=1" : nullptr);
    if (wait.frontendFd >= 0)
        close(wait.frontendFd);
    report_outcome(run.status, command, path, nullptr);
    // The package has taken its copy: the secret must not stay in /tmp. After a failure it
    // stays for dpkg --configure -a.
    if (run.status == 0)
        unlink(kStagedConfigPath);
    puts("\n\n");
    const int status = exit_status_of(run.status);
    // Interrupted but installed: the interruption still shows in the exit status.
    if (status == 0 && run.signalNumber != 0)
        return 128 + run.signalNumber;
    return status;
}

/// Whether the wizard ended before it could show anything: it never ran, the loader
/// refused it (a library missing: 127 at once) or Qt gave up without a display (abort).
/// A wizard that ran passes on pkexec's 127 too, but only once a user pressed Next.
bool wizard_never_started(const ChildResult &run, double secondsRun)
{
    constexpr double kLoaderMomentSeconds = 1.0;
    if (run.startError != 0)
        return true;
    return (WIFEXITED(run.status) && WEXITSTATUS(run.status) == kLoaderFailedStatus
            && secondsRun < kLoaderMomentSeconds)
           || (WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGABRT);
}

double monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

/// Writes both payloads to /tmp, runs the wizard and reports its status.
int hand_over_to_wizard()
{
    if (const int error = extract_for_wizard(tqnativeinstaller, tqnativeinstaller_size, kPackagePath,
                                             "\n Failed in extracting Native installer to : %s,%d",
                                             "\nextracted Native installer to : %s"))
        return error;
    if (const int error
        = extract_for_wizard(tquiinstaller, tquiinstaller_size, kWizardPath,
                             "\n Failed in ui installer file to : %s,%d", "\nextracted ui installer file to : %s"))
        return error;
    chmod(kWizardPath, kWizardMode);
    printf("\n Install gui path is:%s\n", kWizardPath);

    // Run directly with our own stdio: the wizard never writes into a pipe nobody reads.
    // pkexec becomes dpkg in the wizard's process group: the terminal's signals must reach
    // neither, and ours only end the wait once the wizard has ended.
    // Where /tmp is mounted noexec the same bytes run from memory instead.
    const char *const args[] = {kWizardPath, nullptr};
    const InMemoryProgram wizard{tquiinstaller, size_t(uint32_t(payload_size(tquiinstaller_size)))};
    const CaughtSignals caught = catch_termination_signals();
    const double started = monotonic_seconds();
    const ChildResult run = run_program(args, false, ChildIo::SharedUninterruptible, nullptr, &wizard);
    const double secondsRun = monotonic_seconds() - started;
    restore_termination_signals(caught);
    report_outcome(run.status, kWizardPath, kWizardPath, kPackagePath);
    // Said once more in words: the raw -1 alone does not tell a user what to do.
    if (run.startError != 0)
        printf("\nThe setup wizard could not be started: %s%s", strerror(run.startError),
               run.startError == EACCES ? " (/tmp may be mounted noexec)" : "");
    if (wizard_never_started(run, secondsRun))
        printf("\nThe setup wizard could not start on this desktop. To install without it, run: sudo %s install",
               program_invocation_name);
    puts("\n\n");
    const int status = exit_status_of(run.status);
    return status == 0 && run.signalNumber != 0 ? 128 + run.signalNumber : status;
}

} // namespace

bool isX11Mode()
{
    // An empty DISPLAY names no display: no window could ever open on it.
    const char *display = getenv("DISPLAY");
    return display != nullptr && display[0] != '\0';
}

int cli_execute(int argc, char **argv)
{
    char target[kNameBufferSize] = {};
    bool extractOnly = false;
    bool targetCut = false;

    if (argc <= 0) {
        // No argument vector at all: nothing to scan, install the package under its own name.
        set_target(target, kPackageFileName);
        printf(kExtractingLine, target);
    } else {
        for (int i = 0; i < argc; ++i) {
            if (strcmp(argv[i], "extract") != 0)
                continue;
            if (i + 1 < argc) {
                targetCut = set_target(target, argv[i + 1]);
                printf(kExtractingLine, target);
            } else {
                targetCut = set_target(target, kPackageFileName);
                printf("\n WARNING: no filename specified to be extracted, usign %s\n", target);
            }
            extractOnly = true;
        }

        target[kNameBufferSize - 1] = '\0';
        if (target[0] == '\0') {
            set_target(target, kPackageFileName);
            printf(kExtractingLine, target);
        }

        for (int i = 0; i < argc; ++i) {
            if (strcmp(argv[i], "help") == 0) {
                print_usage(argv[0]);
                return 0;
            }
        }
    }

    // A cut name may well name another, existing file: nothing is removed or written.
    if (targetCut) {
        printf(kExtractionErrorLine, target, ENAMETOOLONG);
        return ENAMETOOLONG;
    }
    if (!extractOnly && !may_lock_package_database(kDpkgAdminDir)) {
        printf("\nInstallation Aborted...Installing needs root: run sudo %s install; nothing installed.\n",
               argc > 0 ? argv[0] : kImageName);
        return kNeedsRootStatus;
    }
    // As root, a package that another user can replace before dpkg reads it would run its
    // scripts as root: it goes where only we can write.
    if (!extractOnly && running_as_root() && !current_directory_is_private())
        return install_from_private_directory(0);
    if (const int error = extract_native_package(target)) {
        // An installation from a read-only share or a full disk goes on elsewhere; an
        // extraction keeps its error, since there the user named the place.
        if (!extractOnly && directory_refuses(error)) {
            if (error == ENOSPC || error == EDQUOT)
                unlink(target); // our own partial copy, created exclusively
            return install_from_private_directory(error);
        }
        printf(kExtractionErrorLine, target, error);
        return error;
    }
    if (extractOnly)
        return 0;
    return cli_install(target);
}

int cli_install(char *path)
{
    char command[kNameBufferSize];
    const char *dpkgArgs[] = {kDpkgPath, "--force-all", "-D1", "-i", path, nullptr};
    const char *rpmArgs[] = {kRpmProgram, "-ivh", path, nullptr};
    const char *const *args = nullptr;
    bool searchPath = false;

    if (strstr(path, ".deb")) {
        struct stat st {};
        if (stat(kDpkgPath, &st) != 0) {
            printf("\nMissing dependency: %s is not installed.\n", kDpkgPath);
            return -1;
        }
        snprintf(command, sizeof command, "%s --force-all -D1 -i %s", kDpkgPath, path);
        args = dpkgArgs;
    } else if (strstr(path, ".rpm")) {
        snprintf(command, sizeof command, "rpm -ivh %s", path);
        args = rpmArgs;
        searchPath = true;
    } else {
        printf("\nUnsupported package file: %s (neither .deb nor .rpm); nothing installed.\n", path);
        return kUnsupportedPackageStatus;
    }

    char workingDir[kWorkingDirSize];
    if (!getcwd(workingDir, sizeof workingDir)) {
        const int error = errno;
        printf("\nCannot read the current directory (%s); nothing installed.\n", strerror(error));
        return error;
    }
    const std::string configPath = std::string(workingDir) + "/" + kConfigFileName;

    const TrustedOwners trusted = trusted_for_root();
    const ConfigFile probe = open_configuration(configPath.c_str(), running_as_root() ? &trusted : nullptr);
    switch (probe.refusal) {
    case ConfigRefusal::None:
        break;
    case ConfigRefusal::CannotOpen:
        printf("Installation Aborted...Config fiel .agent.conf not found");
        return kConfigUnusableStatus;
    case ConfigRefusal::NotRegularFile:
        printf("\nInstallation Aborted...Config file .agent.conf is not a regular file; nothing installed.\n");
        return kConfigUnusableStatus;
    case ConfigRefusal::WritableByOthers:
        printf("\nInstallation Aborted...Config file .agent.conf may be written by others than its owner; nothing "
               "installed.\n");
        return kConfigUnusableStatus;
    case ConfigRefusal::UntrustedOwner:
        printf("\nInstallation Aborted...Config file .agent.conf is owned by another user; nothing installed.\n");
        return kConfigUnusableStatus;
    case ConfigRefusal::UntrustedDirectory:
        printf("\nInstallation Aborted...Config file .agent.conf lies in a directory that other users may write to; "
               "nothing installed.\n");
        return kConfigUnusableStatus;
    }
    const bool dpkg = args == dpkgArgs;
    if (dpkg) {
        const std::vector<std::string> unmet = unmet_dependencies(path);
        if (!unmet.empty()) {
            close(probe.fd);
            report_unmet_dependencies(unmet);
            return kMissingDependencyStatus;
        }
    }
    // From here on a signal from outside ends a wait for the package manager at once, and
    // never cuts the package manager off; a reader that went away ends neither.
    const CaughtSignals caught = catch_termination_signals();
    signal(SIGPIPE, SIG_IGN);
    const int status = stage_and_run(args, searchPath, command, path, probe.fd, dpkg);
    restore_termination_signals(caught);
    return status;
}

int cli_start_ui()
{
    // One installation at a time: a second one must not cut the files under the first one's wizard.
    const InstallationLock lock = take_installation_lock(kInstallationLockPath);
    if (lock.fd < 0) {
        if (lock.error != 0) {
            printf("\nCannot take the installation lock %s: %s; nothing was written.\n", kInstallationLockPath,
                   strerror(lock.error));
            return lock.error;
        }
        if (lock.holder.pid > 0)
            printf("\nAnother installation is running (process %d); nothing was written.\n", int(lock.holder.pid));
        else
            printf("\nAnother installation is running; nothing was written.\n");
        return kBusyStatus;
    }
    const int status = hand_over_to_wizard();
    release_installation_lock(lock, kInstallationLockPath);
    return status;
}
