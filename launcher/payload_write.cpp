#include "tqwiz_t.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Opens path for the payload, refusing anything another user could have planted or still write to.
int open_destination(const char *path, Destination destination, int &error)
{
    // O_NONBLOCK keeps a planted FIFO from blocking the open; the fstat below rejects it.
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (destination == Destination::FreshFile)
        flags |= O_EXCL;
    const int fd = open(path, flags, 0644);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
        close(fd);
        error = EACCES;
        return -1;
    }
    // Only now is it safe to cut the file; a group- or world-writable leftover loses those bits.
    if (fcntl(fd, F_SETFL, O_WRONLY) != 0 || ftruncate(fd, 0) != 0 || fchmod(fd, st.st_mode & 0755) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

/// Maps the payload's pages in one call before the write. Faulting them in one by one
/// from inside write() costs more than the copy itself on some virtual machines.
void populate_source(const unsigned char *data, size_t size)
{
#ifdef MADV_POPULATE_READ
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0 || size == 0)
        return;
    const size_t page = size_t(pageSize);
    const unsigned char *begin = data - reinterpret_cast<uintptr_t>(data) % page;
    const size_t length = (size_t(data - begin) + size + page - 1) / page * page;
    // Only a hint: an older kernel refuses it and the write faults the pages in itself.
    madvise(const_cast<unsigned char *>(begin), length, MADV_POPULATE_READ);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace

int32_t payload_size(const unsigned char *sizeWord)
{
    const uint32_t value = uint32_t(sizeWord[0]) | uint32_t(sizeWord[1]) << 8 | uint32_t(sizeWord[2]) << 16
                           | uint32_t(sizeWord[3]) << 24;
    return int32_t(value);
}

PayloadWriteResult write_payload(const unsigned char *data, const unsigned char *sizeWord, const char *path,
                                 Destination destination)
{
    int error = 0;
    const int fd = open_destination(path, destination, error);
    if (fd < 0)
        return {PayloadWriteResult::OpenFailed, error};
    FILE *file = fdopen(fd, "wb");
    if (!file) {
        error = errno;
        close(fd);
        return {PayloadWriteResult::OpenFailed, error};
    }

    const int32_t size = payload_size(sizeWord);
    if (size < 0) {
        fclose(file);
        return {PayloadWriteResult::ShortWrite, EINVAL};
    }
    populate_source(data, size_t(size));
    errno = 0;
    const size_t written = fwrite(data, 1, size_t(size), file);
    if (uint32_t(written) != uint32_t(size)) {
        error = errno;
        fclose(file);
        return {PayloadWriteResult::ShortWrite, error};
    }
    // stdio keeps the tail of the payload buffered: a full disk may only show here.
    if (fflush(file) != 0) {
        error = errno;
        fclose(file);
        return {PayloadWriteResult::ShortWrite, error};
    }
    if (fclose(file) != 0)
        return {PayloadWriteResult::ShortWrite, errno};
    return {PayloadWriteResult::Written, 0};
}
