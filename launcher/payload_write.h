#pragma once

// Writing one payload of the image to a file: inside the kernel from the
// image's own file where it can, never through anything another user planted.

#include <cstdint>

/// Length held in a payload's little-endian size word.
int32_t payload_size(const unsigned char *sizeWord);

enum class Destination {
    FreshFile, ///< must not exist: created exclusively
    OwnFile,   ///< may exist, but only as a regular file of ours with one link; cut to length 0
};

struct PayloadWriteResult {
    enum Kind { Written, OpenFailed, ShortWrite } kind;
    int error; ///< errno of the failed step, 0 when written
};

/// Writes one payload to path: copied inside the kernel from the image's own file, or, where
/// the kernel refuses that, in a single write from the mapped data.
PayloadWriteResult write_payload(const unsigned char *data, const unsigned char *sizeWord, const char *path,
                                 Destination destination);
