#pragma once

// Reading and splitting the plain-text output of system files and tools
// without pulling the iostreams into the launcher.

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

/// Everything readable from fd until its end (a pipe, or a /proc file whose size stat does not tell).
inline std::string read_to_end(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, size_t(got));
    }
}

/// The parts of text between separators; with skipEmpty, the empty ones are left out.
inline std::vector<std::string> parts_of(const std::string &text, char separator, bool skipEmpty)
{
    std::vector<std::string> parts;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (!skipEmpty || end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}
