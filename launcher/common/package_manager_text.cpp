#include "package_manager_text.h"

std::string duration_text(int seconds)
{
    if (seconds % 60 == 0)
        return std::to_string(seconds / 60) + (seconds == 60 ? " minute" : " minutes");
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

std::string waiting_text(const LockHolder &holder)
{
    return "Waiting for another package manager to finish (" + describe_holder(holder) + ")";
}

std::string still_busy_text(int limitSeconds, const LockHolder &holder)
{
    return "The package manager is still busy after " + duration_text(limitSeconds) + " (" + describe_holder(holder)
           + ")";
}
