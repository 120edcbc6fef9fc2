#pragma once

// What a process is given at start: it may lack standard descriptors, and
// it may have a file-size limit.

/// Puts /dev/null where standard input, output or error is closed, so that no file we open takes their place.
void ensure_standard_descriptors();

/// From now on a file-size limit fails a write with EFBIG, which is reported like a full disk,
/// instead of killing us half way (our output to a file included). Children get the default back.
void survive_file_size_limit();
