// libFuzzer target: ParseData on a file holding arbitrary bytes. The file lives
// in memory (memfd), so fuzzing writes nothing to disk.
#include "tqwiz.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int fd = memfd_create("trailer-under-test", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        __builtin_trap();

    std::string configuration;
    int32_t dataLength = -12345;
    QStringList messages;
    const bool found = ParseData(path.c_str(), configuration, dataLength, messages);
    if (found && (configuration.size() > size || messages.size() != 2))
        __builtin_trap();
    if (!found && !configuration.empty())
        __builtin_trap();
    return 0;
}
