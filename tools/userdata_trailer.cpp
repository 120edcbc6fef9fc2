// userdata-trailer: brands an executable with a configuration carried in a
// user-data trailer, which the wizard's "extract" command writes back out, and
// dumps the trailer of a file for debugging.

#include "file_io.h"
#include "userdata.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kLengthFieldSize = 4;

const char kUsage[] = "usage: userdata-trailer brand EXECUTABLE CONFIG_FILE OUTPUT\n"
                      "       userdata-trailer dump FILE\n"
                      "\n"
                      "brand  writes a copy of EXECUTABLE to OUTPUT with CONFIG_FILE carried in a user-data\n"
                      "       trailer (section 0: element 0 empty, element 1 the file's bytes), keeping the\n"
                      "       executable's mode; \"OUTPUT extract FILE\" writes the configuration back out\n"
                      "dump   prints the sections, elements and lengths of the trailer at the end of FILE\n";

void put_u16(std::string &out, uint16_t value)
{
    out += char(value & 0xff);
    out += char(value >> 8);
}

void put_u32(std::string &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += char((value >> shift) & 0xff);
}

void put_element(std::string &out, uint16_t id, const std::string &body)
{
    put_u16(out, id);
    put_u32(out, uint32_t(body.size()));
    out += body;
}

std::string encode_configuration(const std::string &configuration)
{
    std::string trailer = "USER_DATA";
    put_u16(trailer, 1); // sections
    put_u16(trailer, 0); // the configuration section
    put_u16(trailer, 2); // elements
    put_element(trailer, 0, std::string());
    put_element(trailer, 1, configuration);
    put_element(trailer, 2, std::string()); // closing element
    put_u32(trailer, uint32_t(trailer.size() + kLengthFieldSize));
    return trailer;
}

/// Finds the trailer that the last four bytes of contents announce; false when there is none.
bool find_trailer(const std::string &contents, CUserData &userData, uint32_t &length)
{
    if (contents.size() < kLengthFieldSize)
        return false;
    const auto *end = reinterpret_cast<const unsigned char *>(contents.data() + contents.size());
    length = uint32_t(end[-4]) | uint32_t(end[-3]) << 8 | uint32_t(end[-2]) << 16 | uint32_t(end[-1]) << 24;
    if (length == 0 || length > contents.size())
        return false;
    const auto *start = end - length;
    if (length < 9 || std::memcmp(start, "USER_DATA", 9) != 0)
        return false;
    return userData.Parse(start, length);
}

std::string printable(const std::string &bytes, size_t limit)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text += char(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    if (bytes.size() > limit)
        text += "...";
    return text;
}

int brand(const char *executable, const char *configFile, const char *output)
{
    std::string program, configuration;
    if (!read_whole_file(executable, program)) {
        fprintf(stderr, "userdata-trailer: cannot read %s\n", executable);
        return 2;
    }
    if (!read_whole_file(configFile, configuration)) {
        fprintf(stderr, "userdata-trailer: cannot read %s\n", configFile);
        return 2;
    }
    CUserData existing;
    uint32_t existingLength = 0;
    if (find_trailer(program, existing, existingLength)) {
        fprintf(stderr, "userdata-trailer: %s already carries a user-data trailer; brand an unbranded copy\n",
                executable);
        return 2;
    }
    if (configuration.size() > 0xffffffffu - 64) {
        fprintf(stderr, "userdata-trailer: %s is too large for a trailer\n", configFile);
        return 2;
    }

    struct stat st {};
    const mode_t mode = stat(executable, &st) == 0 ? (st.st_mode & 0777) : 0755;
    if (!replace_file(output, program + encode_configuration(configuration), mode)) {
        fprintf(stderr, "userdata-trailer: cannot write %s\n", output);
        return 2;
    }
    return 0;
}

int dump(const char *path)
{
    std::string contents;
    if (!read_whole_file(path, contents)) {
        fprintf(stderr, "userdata-trailer: cannot read %s\n", path);
        return 2;
    }
    CUserData userData;
    uint32_t length = 0;
    if (!find_trailer(contents, userData, length)) {
        printf("%s: no user-data trailer\n", path);
        return 1;
    }
    printf("%s: user-data trailer of %u bytes at offset %zu\n", path, length, contents.size() - length);
    printf("  sections: %u declared, %zu distinct, %u bytes\n", userData.m_sectionCount, userData.m_sections.size(),
           userData.m_sectionsSize);
    for (const auto &[sectionId, section] : userData.m_sections) {
        printf("  section %u: %u elements declared, %zu distinct, %u bytes\n", sectionId, section.m_elementCount,
               section.m_elements.size(), section.m_size);
        for (const auto &[elementId, element] : section.m_elements)
            printf("    element %u: %u bytes \"%s\"\n", elementId, element.m_length,
                   printable(element.m_data, 60).c_str());
    }
    printf("  closing element %u: %u bytes\n", userData.m_closingElement.m_id, userData.m_closingElement.m_length);
    printf("  total length: %u\n", userData.m_totalLength);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "brand") == 0)
        return brand(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "dump") == 0)
        return dump(argv[2]);
    fputs(kUsage, stderr);
    return 2;
}
