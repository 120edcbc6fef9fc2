#pragma once

// What a process is given at start may lack standard descriptors.

/// Puts /dev/null where standard input, output or error is closed, so that no file we open takes their place.
void ensure_standard_descriptors();
