#pragma once

// Builds user-data trailer bytes for tests, field by field (little-endian).

#include <cstdint>
#include <string>

namespace trailer_bytes {

inline void put16(std::string &out, uint16_t value)
{
    out += char(value & 0xff);
    out += char(value >> 8);
}

inline void put32(std::string &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += char((value >> shift) & 0xff);
}

inline std::string element(uint16_t id, const std::string &body)
{
    std::string out;
    put16(out, id);
    put32(out, uint32_t(body.size()));
    return out + body;
}

inline std::string section(uint16_t id, uint16_t count, const std::string &elements)
{
    std::string out;
    put16(out, id);
    put16(out, count);
    return out + elements;
}

/// A whole trailer around the given section records, with an empty closing element.
inline std::string trailer(uint16_t sectionCount, const std::string &sections)
{
    std::string out = "USER_DATA";
    put16(out, sectionCount);
    out += sections + element(2, "");
    put32(out, uint32_t(out.size() + 4));
    return out;
}

/// Section 0 with an empty element 0 and element 1 holding "abc": 40 bytes.
inline std::string workedExample()
{
    return trailer(1, section(0, 2, element(0, "") + element(1, "abc")));
}

} // namespace trailer_bytes
