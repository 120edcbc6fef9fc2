#include "payload_write.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <link.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_copy_file_range
#define SYS_copy_file_range 326 // x86-64 (Linux 4.5); older headers do not name it
#endif

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
    // A new file is not cut: on ext4 a file cut to length 0 is written back in full at close
    // (its protection against a crash losing replaced data), which costs more than the copy.
    if (fcntl(fd, F_SETFL, O_WRONLY) != 0 || (st.st_size != 0 && ftruncate(fd, 0) != 0)
        || fchmod(fd, st.st_mode & 0755) != 0) {
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

/// Where data lies in the executable's own file: found through the program headers of the
/// segment that holds it. -1 when it is not file-backed there (a test's heap data, say).
off_t file_offset_of(const unsigned char *data, size_t size)
{
    struct Search {
        uintptr_t address;
        size_t size;
        off_t offset;
    } search{reinterpret_cast<uintptr_t>(data), size, -1};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *context) {
            auto *wanted = static_cast<Search *>(context);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr) &header = info->dlpi_phdr[i];
                const uintptr_t start = info->dlpi_addr + header.p_vaddr;
                if (header.p_type == PT_LOAD && wanted->address >= start
                    && wanted->address + wanted->size <= start + header.p_filesz) {
                    wanted->offset = off_t(header.p_offset + (wanted->address - start));
                    return 1;
                }
            }
            return 1; // the first object is the executable itself: the payloads are nowhere else
        },
        &search);
    return search.offset;
}

/// Opens the executable's own file when its bytes at offset are data's; -1 otherwise.
int open_own_file(const unsigned char *data, size_t size, off_t offset)
{
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    unsigned char head[4096];
    const size_t length = size < sizeof head ? size : sizeof head;
    if (pread(fd, head, length, offset) != ssize_t(length) || memcmp(head, data, length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/// Shares the whole blocks of size bytes at offset of in with out, where the file system can
/// (btrfs, XFS): nothing is copied at all. Returns how many bytes are now out's, 0 when refused.
size_t share_blocks(int in, off_t offset, int out, size_t size)
{
#ifdef FICLONERANGE
    struct stat st {};
    if (fstat(out, &st) != 0 || st.st_blksize <= 0)
        return 0;
    const auto block = size_t(st.st_blksize);
    const size_t whole = size / block * block;
    if (size_t(offset) % block != 0 || whole == 0)
        return 0;
    file_clone_range range{};
    range.src_fd = in;
    range.src_offset = uint64_t(offset);
    range.src_length = whole;
    range.dest_offset = 0;
    // The rest, less than a block, is copied: the destination goes on from there.
    if (ioctl(out, FICLONERANGE, &range) != 0 || lseek(out, off_t(whole), SEEK_SET) != off_t(whole))
        return 0;
    return whole;
#else
    (void)in;
    (void)offset;
    (void)out;
    (void)size;
    return 0;
#endif
}

enum class KernelCopy { Done, Refused, Failed };

/// Copies size bytes at offset of in to out inside the kernel, page cache to page cache:
/// copy_file_range where the kernel and file systems have it, else sendfile. Refused when
/// neither is allowed here before anything was copied; Failed (with errno) on a real error.
KernelCopy copy_in_kernel(int in, off_t offset, int out, size_t size, int &error)
{
    bool copyRange = true;
    bool copied = false;
    while (size > 0) {
        ssize_t done = -1;
        if (copyRange) {
            // The system call itself: glibc before 2.27 has no wrapper.
            loff_t from = offset;
            done = syscall(SYS_copy_file_range, in, &from, out, nullptr, size, 0u);
            if (done < 0 && !copied
                && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM)) {
                copyRange = false;
                continue;
            }
        } else {
            off_t from = offset;
            done = sendfile(out, in, &from, size);
            if (done < 0 && !copied && (errno == ENOSYS || errno == EINVAL || errno == EPERM))
                return KernelCopy::Refused;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            // A count of 0 before the end: the file system took no more, as a full disk does.
            error = done < 0 ? errno : ENOSPC;
            return KernelCopy::Failed;
        }
        copied = true;
        offset += done;
        size -= size_t(done);
    }
    return KernelCopy::Done;
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

    // Straight from the image's own file, never through this process's memory.
    const int32_t size = payload_size(sizeWord);
    const off_t offset = size > 0 ? file_offset_of(data, size_t(size)) : -1;
    const int own = offset >= 0 ? open_own_file(data, size_t(size), offset) : -1;
    size_t shared = 0; // already the destination's: blocks shared with the image's file
    if (own >= 0) {
        shared = share_blocks(own, offset, fd, size_t(size));
        // Blocks reserved in one go, not page by page as the copy goes: a third faster on ext4.
        // The size stays as written, so a copy cut short never looks whole; a file system that
        // cannot reserve (or has no room: the copy then says so) just copies.
        if (shared == 0)
            (void)fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(size));
        const KernelCopy copy = copy_in_kernel(own, offset + off_t(shared), fd, size_t(size) - shared, error);
        close(own);
        if (copy == KernelCopy::Failed) {
            close(fd);
            return {PayloadWriteResult::ShortWrite, error};
        }
        if (copy == KernelCopy::Done)
            return close(fd) == 0 ? PayloadWriteResult{PayloadWriteResult::Written, 0}
                                  : PayloadWriteResult{PayloadWriteResult::ShortWrite, errno};
    }

    FILE *file = fdopen(fd, "wb");
    if (!file) {
        error = errno;
        close(fd);
        return {PayloadWriteResult::OpenFailed, error};
    }

    if (size < 0) {
        fclose(file);
        return {PayloadWriteResult::ShortWrite, EINVAL};
    }
    populate_source(data + shared, size_t(size) - shared);
    errno = 0;
    const size_t written = fwrite(data + shared, 1, size_t(size) - shared, file);
    if (uint32_t(written) != uint32_t(size_t(size) - shared)) {
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
