#pragma once

// Splitting the plain-text output of system files and tools without pulling
// the iostreams into the launcher.

#include <string>
#include <vector>

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
