#pragma once

// Names and statuses that the launcher and the setup wizard must agree on: both
// include this header, so the two executables cannot drift apart.

constexpr const char kPackageFileName[] = "morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb";
constexpr const char kPackagePath[] = "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb";
constexpr const char kWizardPath[] = "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb_ui_bin";
// Held by a graphical installation for its whole run: one at a time per machine.
constexpr const char kInstallationLockPath[] = "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb.lock";
constexpr const char kStagedConfigPath[] = "/tmp/agent.conf";
constexpr const char kDpkgPath[] = "/usr/bin/dpkg";
constexpr const char kDpkgDebPath[] = "/usr/bin/dpkg-deb";
constexpr const char kDpkgQueryPath[] = "/usr/bin/dpkg-query";

// Where dpkg keeps its locks: the frontend lock (dpkg 1.19.1 and later) and the database lock.
constexpr const char kDpkgAdminDir[] = "/var/lib/dpkg";

// How long an installation waits for another package manager (automatic upgrades after a boot).
constexpr int kPackageManagerWaitSeconds = 10 * 60;

// Exit statuses of both installers (sysexits.h's meanings).
// A dependency of the package is not installed: nothing was installed.
constexpr int kMissingDependencyStatus = 69; // EX_UNAVAILABLE
// The machine stays busy (the package manager past the wait, another installation): try again later.
constexpr int kBusyStatus = 75; // EX_TEMPFAIL
