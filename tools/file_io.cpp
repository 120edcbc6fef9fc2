#include "file_io.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

bool read_whole_file(const char *path, std::string &contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool replace_file(const std::string &path, const std::string &contents, mode_t mode)
{
    const std::string temporary = path + ".tmp";
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        written = static_cast<bool>(out.write(contents.data(), std::streamsize(contents.size())).flush());
    }
    if (written && chmod(temporary.c_str(), mode) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}
