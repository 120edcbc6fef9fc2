#pragma once

// The user-data trailer held in memory: sections of elements keyed by 16-bit
// ids. Plain copyable values; depends on the C++ standard library only.

#include <cstdint>
#include <map>
#include <string>

/// One element record: id, declared body length and the body (NUL bytes kept).
class CDataElement
{
public:
    uint16_t m_id = 0xFFFF;
    uint32_t m_length = 0;
    std::string m_data;
};

/// One section record and its elements; a repeated element id keeps the last body.
class CDataSection
{
public:
    uint16_t m_id = 0xFFFF;
    uint16_t m_elementCount = 0;
    uint32_t m_size = 0; ///< bytes of the element records read: the sum of 6 + body length
    std::map<uint16_t, CDataElement> m_elements;
};

/// A whole trailer: "USER_DATA", the sections, a closing element and the total length.
class CUserData
{
public:
    CUserData() { m_closingElement.m_id = 2; }

    /// Parses the trailer at data; true when it ends, total-length field included, within length bytes.
    bool Parse(const unsigned char *data, uint32_t length);

    std::string m_identifier;
    uint16_t m_sectionCount = 0;
    uint32_t m_sectionsSize = 0; ///< the sum of m_size + 4 over the section records read
    std::map<uint16_t, CDataSection> m_sections;
    uint32_t m_totalLength = 0;
    CDataElement m_closingElement;
};
