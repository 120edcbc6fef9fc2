#pragma once

// What both installers say while another package manager holds dpkg's locks,
// so that the two say it alike.

#include "lock_holders.h"

#include <string>

/// "10 minutes", "1 minute", "90 seconds".
std::string duration_text(int seconds);

/// "Waiting for another package manager to finish (unattended-upgr, process 1234)"
std::string waiting_text(const LockHolder &holder);

/// "The package manager is still busy after 10 minutes (unattended-upgr, process 1234)"
std::string still_busy_text(int limitSeconds, const LockHolder &holder);
