#include "userdata.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kIdentifier[] = "USER_DATA";
constexpr uint32_t kIdentifierSize = sizeof kIdentifier - 1;

/// Little-endian fields from a byte range, each checked against what is left before it is read.
class Reader
{
public:
    Reader(const unsigned char *data, uint32_t length)
        : data_(data)
        , length_(length)
    {}

    uint64_t offset() const { return offset_; }
    uint64_t remaining() const { return length_ - offset_; }

    bool u16(uint16_t &value)
    {
        if (remaining() < 2)
            return false;
        value = uint16_t(data_[offset_] | data_[offset_ + 1] << 8);
        offset_ += 2;
        return true;
    }

    bool u32(uint32_t &value)
    {
        if (remaining() < 4)
            return false;
        value = uint32_t(data_[offset_]) | uint32_t(data_[offset_ + 1]) << 8 | uint32_t(data_[offset_ + 2]) << 16
                | uint32_t(data_[offset_ + 3]) << 24;
        offset_ += 4;
        return true;
    }

    bool bytes(uint64_t count, std::string &out)
    {
        if (remaining() < count)
            return false;
        out.assign(reinterpret_cast<const char *>(data_ + offset_), size_t(count));
        offset_ += count;
        return true;
    }

    /// An element record: id, body length and body.
    bool element(CDataElement &element)
    {
        return u16(element.m_id) && u32(element.m_length) && bytes(element.m_length, element.m_data);
    }

private:
    const unsigned char *data_;
    uint64_t length_;
    uint64_t offset_ = 0;
};

} // namespace

bool CUserData::Parse(const unsigned char *data, uint32_t length)
{
    Reader reader(data, length);
    reader.bytes(length < kIdentifierSize ? length : kIdentifierSize, m_identifier);
    if (m_identifier != kIdentifier) {
        fputs("\nHeader Identifier not found in data. ", stdout);
        return false;
    }

    if (!reader.u16(m_sectionCount))
        return false;
    for (uint32_t s = 0; s < m_sectionCount; ++s) {
        CDataSection section;
        if (!reader.u16(section.m_id) || !reader.u16(section.m_elementCount))
            return false;
        for (uint32_t e = 0; e < section.m_elementCount; ++e) {
            CDataElement element;
            if (!reader.element(element))
                return false;
            section.m_size += 6 + element.m_length;
            section.m_elements[element.m_id] = std::move(element);
        }
        m_sectionsSize += section.m_size + 4;
        m_sections[section.m_id] = std::move(section);
    }

    if (!reader.element(m_closingElement))
        return false;
    return reader.u32(m_totalLength);
}
