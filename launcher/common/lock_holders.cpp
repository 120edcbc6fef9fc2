#include "lock_holders.h"

#include "text_parts.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr long kOverlayMagic = 0x794c7630; // overlayfs' statfs type

/// The whole of a small file such as /proc/locks.
std::string read_all(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text = read_to_end(fd);
    close(fd);
    return text;
}

/// One line of /proc/locks: "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF".
/// Lines of processes waiting for a lock ("1: -> POSIX ...") do not hold it.
bool parse_lock_line(const std::string &line, pid_t &pid, unsigned &major, unsigned &minor, unsigned long &inode)
{
    const std::vector<std::string> fields = parts_of(line, ' ', true);
    if (fields.size() < 6 || fields[1] == "->")
        return false;
    const long pidValue = strtol(fields[4].c_str(), nullptr, 10);
    const std::string &file = fields[5];
    // "maj:min:inode", the device numbers in hexadecimal.
    const char *text = file.c_str();
    char *end = nullptr;
    major = unsigned(strtoul(text, &end, 16));
    if (*end != ':')
        return false;
    minor = unsigned(strtoul(end + 1, &end, 16));
    if (*end != ':')
        return false;
    inode = strtoul(end + 1, &end, 10);
    if (*end != '\0')
        return false;
    pid = pid_t(pidValue < 0 ? 0 : pidValue);
    return true;
}

} // namespace

LockHolder holder_of_process(pid_t pid)
{
    LockHolder holder;
    holder.held = true;
    holder.pid = pid > 0 ? pid : 0;
    if (holder.pid == 0)
        return holder;
    holder.program = read_all(("/proc/" + std::to_string(holder.pid) + "/comm").c_str());
    holder.program = holder.program.substr(0, holder.program.find('\n'));
    return holder;
}

LockHolder lock_holder(const char *path)
{
    struct stat st {};
    if (stat(path, &st) != 0)
        return {};
    // Seen through an overlay (a container, a sandbox), the lock names the layer's
    // device, not the overlay's: the inode alone has to do there.
    struct statfs fs {};
    const bool overlay = statfs(path, &fs) == 0 && long(fs.f_type) == kOverlayMagic;
    for (const std::string &line : parts_of(read_all("/proc/locks"), '\n', true)) {
        pid_t pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (!parse_lock_line(line, pid, major, minor, inode) || inode != st.st_ino)
            continue;
        if (overlay || (major == ::major(st.st_dev) && minor == ::minor(st.st_dev)))
            return holder_of_process(pid);
    }
    return {};
}

LockHolder package_manager_holder(const char *adminDir)
{
    const std::string dir(adminDir);
    const LockHolder frontend = lock_holder((dir + "/lock-frontend").c_str());
    return frontend.held ? frontend : lock_holder((dir + "/lock").c_str());
}

std::string describe_holder(const LockHolder &holder)
{
    if (holder.pid == 0)
        return "an unknown process";
    const std::string process = "process " + std::to_string(holder.pid);
    return holder.program.empty() ? process : holder.program + ", " + process;
}
