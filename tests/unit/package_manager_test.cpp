// Waiting for dpkg's locks and judging the package's dependencies, against a
// lock directory of the test's own and packages built for the test. Nothing
// here takes the machine's own locks or changes its package database.
#include "child_process.h"
#include "package_dependencies.h"
#include "package_manager_wait.h"
#include "shared_names.h"
#include "temp_dir.h"
#include "termination_signals.h"
#include "tqwiz_t.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool try_write_lock(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool taken = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
    close(fd);
    return taken;
}

/// A process named as the automatic upgrades are, holding the locks at paths for seconds.
pid_t hold_locks(const std::vector<std::string> &paths, double seconds)
{
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, "unattended-upgr");
        for (const std::string &path : paths) {
            const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0640);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            fcntl(fd, F_SETLK, &lock);
        }
        (void)!write(ready[1], "x", 1);
        usleep(useconds_t(seconds * 1e6));
        _exit(0);
    }
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    return pid;
}

struct WaitRun {
    PackageManagerWait wait;
    std::string output;
    double seconds;
};

WaitRun wait_for(const TempDir &dir, int limitSeconds)
{
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    const PackageManagerWait wait = wait_for_package_manager(dir.file("").c_str(), limitSeconds);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {wait, testing::internal::GetCapturedStdout(), took.count()};
}

/// Builds a package with the given Depends (and Pre-Depends) in dir; returns its path.
std::string package_with(const TempDir &dir, const std::string &fields)
{
    const std::string root = dir.file("pkg");
    mkdir(root.c_str(), 0755);
    mkdir((root + "/DEBIAN").c_str(), 0755);
    write_file(root + "/DEBIAN/control", "Package: dependency-probe\nVersion: 1.0\nArchitecture: all\n"
                                         "Maintainer: Tests <tests@example.invalid>\nDescription: probe\n"
                                             + fields);
    std::string deb = dir.file("probe.deb");
    const char *const argv[] = {"dpkg-deb", "--build", root.c_str(), deb.c_str(), nullptr};
    testing::internal::CaptureStdout();
    run_program(argv, true, ChildIo::Shared);
    testing::internal::GetCapturedStdout();
    return deb;
}

} // namespace

TEST(PackageManagerWait, WaitsForTheHolderNamesItAndKeepsTheFrontendLockAfterwards)
{
    TempDir dir;
    const std::string frontend = dir.file("lock-frontend"), database = dir.file("lock");
    write_file(frontend, "");
    const pid_t holder = hold_locks({frontend, database}, 0.5);
    const WaitRun run = wait_for(dir, kPackageManagerWaitSeconds);
    waitpid(holder, nullptr, 0);

    ASSERT_EQ(run.wait.outcome, PackageManagerWait::Locked);
    EXPECT_EQ(run.output, "\nWaiting for another package manager to finish (unattended-upgr, process "
                              + std::to_string(holder) + "), at most 10 minutes.\n");
    EXPECT_LT(run.seconds, 2.0);
    // Ours until dpkg has ended; the database lock is left for dpkg to take.
    const pid_t other = fork();
    if (other == 0)
        _exit(try_write_lock(frontend) ? 1 : try_write_lock(database) ? 0 : 2);
    int status = 0;
    waitpid(other, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another frontend got in, 2: the database lock was kept";
    close(run.wait.frontendFd);
}

TEST(PackageManagerWait, GivesUpAfterTheLimitAndWithoutAFrontendLockUsesTheDatabaseLock)
{
    TempDir dir;
    const pid_t holder = hold_locks({dir.file("lock")}, 30);
    const WaitRun run = wait_for(dir, 1);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);

    EXPECT_EQ(run.wait.outcome, PackageManagerWait::TimedOut);
    EXPECT_EQ(run.wait.frontendFd, -1);
    EXPECT_NE(run.output.find("\nInstallation Aborted...The package manager is still busy after 1 second "
                              "(unattended-upgr, process "
                              + std::to_string(holder) + "); nothing installed. Try again later.\n"),
              std::string::npos)
        << run.output;

    const WaitRun free = wait_for(dir, 1);
    EXPECT_EQ(free.wait.outcome, PackageManagerWait::Locked);
    EXPECT_EQ(free.wait.frontendFd, -1); // an old dpkg: no frontend lock to hold
    EXPECT_EQ(free.output, "");
}

TEST(PackageDependencies, JudgedAsDpkgDoesWithAlternativesVersionsAndVirtualPackages)
{
    TempDir dir;
    // dpkg and coreutils are installed wherever this runs; mawk provides the virtual awk.
    const std::string deb
        = package_with(dir, "Pre-Depends: dpkg (>= 1.0)\n"
                            "Depends: coreutils:any, no-such-package-a | dpkg, awk,\n"
                            " dpkg (>> 99:0), no-such-package-b (>= 1) | no-such-package-c, no-such-virtual (= 2)\n");
    const std::vector<std::string> unmet = unmet_dependencies(deb.c_str());
    EXPECT_EQ(unmet, (std::vector<std::string>{"dpkg (>> 99:0)", "no-such-package-b (>= 1) | no-such-package-c",
                                               "no-such-virtual (= 2)"}));
    EXPECT_EQ(packages_to_install(unmet), "dpkg no-such-package-b no-such-virtual");

    EXPECT_TRUE(unmet_dependencies(package_with(dir, "Depends: dpkg\n").c_str()).empty());
    // A file the dpkg tools cannot read is left to the package manager to refuse.
    write_file(dir.file("broken.deb"), "not a package");
    EXPECT_TRUE(unmet_dependencies(dir.file("broken.deb").c_str()).empty());
}
