// libFuzzer target: CUserData::Parse on arbitrary bytes, given exactly as many as there are.
#include "userdata.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    CUserData userData;
    if (userData.Parse(data, uint32_t(size))) {
        // Everything a reader may rely on after a successful parse.
        for (const auto &[id, section] : userData.m_sections) {
            if (section.m_id != id)
                __builtin_trap();
            for (const auto &[elementId, element] : section.m_elements) {
                if (element.m_id != elementId || element.m_data.size() != element.m_length)
                    __builtin_trap();
            }
        }
        if (userData.m_sectionsSize > size)
            __builtin_trap();
    }
    return 0;
}
