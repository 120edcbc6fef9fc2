#pragma once

// The package's Pre-Depends and Depends against what this machine has
// installed, as dpkg itself would judge them. Installing with --force-all
// past an unmet dependency would leave the machine's package system broken
// (every later apt-get refuses to work), so both installers refuse instead.

#include <string>
#include <vector>

/// The relations of the package file at packagePath that nothing installed satisfies,
/// as the package states them ("libtdb1", "libfoo (>= 2) | libbar"). Empty when all are met,
/// and when the dpkg tools cannot tell: then the package manager decides as before.
std::vector<std::string> unmet_dependencies(const char *packagePath);

/// What to install to meet the relations: the first alternative of each, without versions.
std::string packages_to_install(const std::vector<std::string> &unmet);

/// What both installers say of unmet relations, in two sentences (without a final full stop
/// after the remedy, which each installer ends in its own way).
struct UnmetDependencyText {
    std::string needs;  ///< "The package needs libtdb1, which is not installed."
    std::string remedy; ///< "Install it first (apt-get install libtdb1), then run the installer again"
};
UnmetDependencyText unmet_dependency_text(const std::vector<std::string> &unmet);
