#pragma once

#include <string>

/// Runs argv[0] (an absolute path) without a shell, with no input, and collects its standard
/// output; its standard error is dropped. Returns the raw wait status, -1 when it could not run.
int program_output(const char *const argv[], std::string &output);
