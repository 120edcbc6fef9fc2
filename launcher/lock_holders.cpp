#include "lock_holders.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {

constexpr long kOverlayMagic = 0x794c7630; // overlayfs' statfs type

/// One line of /proc/locks: "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF".
/// Lines of processes waiting for a lock ("1: -> POSIX ...") do not hold it.
bool parse_lock_line(const std::string &line, pid_t &pid, unsigned &major, unsigned &minor, unsigned long &inode)
{
    std::istringstream fields(line);
    std::string id, kind, mode, access;
    if (!(fields >> id >> kind) || kind == "->")
        return false;
    long pidValue = 0;
    std::string file;
    if (!(fields >> mode >> access >> pidValue >> file))
        return false;
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
    std::ifstream comm("/proc/" + std::to_string(holder.pid) + "/comm");
    std::getline(comm, holder.program);
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
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
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
