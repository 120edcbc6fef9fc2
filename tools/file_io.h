#pragma once

// Whole-file reading and replacing for the build-side tools.

#include <string>
#include <sys/types.h>

/// Reads the whole file at path into contents; false when it cannot be read.
bool read_whole_file(const char *path, std::string &contents);

/// Writes contents to path through a temporary file renamed into place, so a failed run
/// leaves neither a half-written file nor the temporary one; false on any failure.
bool replace_file(const std::string &path, const std::string &contents, mode_t mode);
