#include "package_manager_wait.h"

#include "lock_holders.h"
#include "package_manager_text.h"
#include "termination_signals.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// How soon a released lock is noticed.
constexpr long kLockPollNanoseconds = 100L * 1000 * 1000;
constexpr int kProgressIntervalSeconds = 60;

enum class LockAttempt { Taken, Held, Impossible };

/// Tries dpkg's kind of lock (fcntl, whole file, for writing); names the holder when it is held.
LockAttempt try_lock(int fd, LockHolder &holder)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) == 0)
        return LockAttempt::Taken;
    if (errno != EACCES && errno != EAGAIN)
        return LockAttempt::Impossible;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool known = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    holder = holder_of_process(known ? probe.l_pid : 0);
    return LockAttempt::Held;
}

void say(const std::string &line)
{
    fputs(line.c_str(), stdout);
    fflush(stdout);
}

} // namespace

PackageManagerWait wait_for_package_manager(const char *adminDir, int limitSeconds)
{
    const std::string dir(adminDir);
    // A dpkg older than the frontend lock has no such file: its database lock is all there is.
    int frontendFd = open((dir + "/lock-frontend").c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const int databaseFd = open((dir + "/lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    const auto give_up = [&](PackageManagerWait::Outcome outcome, int signalNumber) {
        if (frontendFd >= 0)
            close(frontendFd);
        if (databaseFd >= 0)
            close(databaseFd);
        return PackageManagerWait{outcome, -1, signalNumber};
    };
    // Not ours to lock (not root, a read-only database): dpkg says why itself.
    if (databaseFd < 0)
        return give_up(PackageManagerWait::Unlockable, 0);

    const auto start = std::chrono::steady_clock::now();
    bool frontendTaken = frontendFd < 0;
    bool announced = false;
    int progressReported = 0;
    for (;;) {
        if (const int signalNumber = termination_signal()) {
            say("\nSignal " + std::to_string(signalNumber)
                + " received: stopped waiting for the package manager; nothing installed.\n");
            return give_up(PackageManagerWait::Interrupted, signalNumber);
        }
        // In dpkg's order: the frontend lock first, kept while waiting for the database lock.
        LockHolder holder;
        LockAttempt attempt = frontendTaken ? LockAttempt::Taken : try_lock(frontendFd, holder);
        frontendTaken = attempt == LockAttempt::Taken;
        if (frontendTaken)
            attempt = try_lock(databaseFd, holder);
        if (attempt == LockAttempt::Impossible)
            return give_up(PackageManagerWait::Unlockable, 0);
        if (attempt == LockAttempt::Taken) {
            // dpkg takes the database lock itself; the frontend lock keeps every other frontend out.
            close(databaseFd);
            return {PackageManagerWait::Locked, frontendFd, 0};
        }

        const int elapsed
            = int(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
        if (!announced) {
            announced = true;
            say("\n" + waiting_text(holder) + ", at most " + duration_text(limitSeconds) + ".\n");
        }
        if (elapsed >= limitSeconds) {
            say("\nInstallation Aborted..." + still_busy_text(limitSeconds, holder)
                + "; nothing installed. Try again later.\n");
            return give_up(PackageManagerWait::TimedOut, 0);
        }
        if (elapsed / kProgressIntervalSeconds > progressReported) {
            progressReported = elapsed / kProgressIntervalSeconds;
            say("\nStill waiting for the package manager (" + describe_holder(holder)
                + "): " + duration_text(progressReported * kProgressIntervalSeconds) + " so far.\n");
        }
        // A signal cuts the sleep short, so the wait ends at once.
        const timespec pause{0, kLockPollNanoseconds};
        nanosleep(&pause, nullptr);
    }
}
