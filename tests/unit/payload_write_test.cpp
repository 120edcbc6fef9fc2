#include "payload_write.h"
#include "payloads.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNativeBytes[] = "!<arch>\ndebian-binary\0native payload for tests\n";
const std::string kNative(kNativeBytes, sizeof kNativeBytes - 1);
constexpr uid_t kOtherUser = 65534;

PayloadWriteResult write_native(const std::string &path, Destination destination)
{
    return write_payload(tqnativeinstaller, tqnativeinstaller_size, path.c_str(), destination);
}

mode_t mode_of(const std::string &path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

/// Sets the umask for one scope.
class Umask
{
public:
    explicit Umask(mode_t mask)
        : previous_(umask(mask))
    {}
    ~Umask() { umask(previous_); }

private:
    mode_t previous_;
};

} // namespace

TEST(PayloadSize, IsDecodedLittleEndianFromUnalignedBytes)
{
    const unsigned char bytes[] = {0xff, 0x22, 0x08, 0x17, 0x01, 0xff};
    EXPECT_EQ(payload_size(bytes + 1), 0x01170822);
    EXPECT_EQ(payload_size(tqnativeinstaller_size), int32_t(kNative.size()));
}

TEST(PayloadWrite, WritesThePayloadByteForByteOverAnOldFile)
{
    TempDir dir;
    write_file("target", std::string(5000, 'o'));
    const PayloadWriteResult result = write_native(dir.file("target"), Destination::OwnFile);
    EXPECT_EQ(result.kind, PayloadWriteResult::Written);
    EXPECT_EQ(read_file("target"), kNative);
}

TEST(PayloadWrite, NewFilesNeverGetGroupOrOtherWriteWhateverTheUmask)
{
    TempDir dir;
    Umask open(0);
    EXPECT_EQ(write_native(dir.file("fresh"), Destination::FreshFile).kind, PayloadWriteResult::Written);
    EXPECT_EQ(mode_of("fresh"), 0644u);

    write_file("shared", "old");
    chmod("shared", 0666);
    EXPECT_EQ(write_native(dir.file("shared"), Destination::OwnFile).kind, PayloadWriteResult::Written);
    EXPECT_EQ(mode_of("shared"), 0644u);
}

TEST(PayloadWrite, RefusesWhatAnotherUserCouldHavePlanted)
{
    TempDir dir;
    write_file("victim", "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), "link"), 0);
    PayloadWriteResult result = write_native(dir.file("link"), Destination::OwnFile);
    EXPECT_EQ(result.kind, PayloadWriteResult::OpenFailed);
    EXPECT_EQ(result.error, ELOOP);

    ASSERT_EQ(link("victim", "hardlink"), 0);
    result = write_native(dir.file("hardlink"), Destination::OwnFile);
    EXPECT_EQ(result.kind, PayloadWriteResult::OpenFailed);
    EXPECT_EQ(result.error, EACCES);
    EXPECT_EQ(read_file("victim"), "precious");

    write_file("theirs", "their data");
    if (geteuid() == 0) {
        ASSERT_EQ(chown("theirs", kOtherUser, kOtherUser), 0);
        result = write_native(dir.file("theirs"), Destination::OwnFile);
        EXPECT_EQ(result.kind, PayloadWriteResult::OpenFailed);
        EXPECT_EQ(result.error, EACCES);
        EXPECT_EQ(read_file("theirs"), "their data");
    }
}

TEST(PayloadWrite, AFifoAtThePathDoesNotHang)
{
    TempDir dir;
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    alarm(10); // a hang fails the test instead of the whole run
    const PayloadWriteResult result = write_native(dir.file("fifo"), Destination::OwnFile);
    alarm(0);
    EXPECT_EQ(result.kind, PayloadWriteResult::OpenFailed);
    EXPECT_NE(result.error, 0);
}

TEST(PayloadWrite, FreshFileIsNeverWrittenThroughSomethingAlreadyThere)
{
    TempDir dir;
    write_file("existing", "keep");
    const PayloadWriteResult result = write_native(dir.file("existing"), Destination::FreshFile);
    EXPECT_EQ(result.kind, PayloadWriteResult::OpenFailed);
    EXPECT_EQ(result.error, EEXIST);
    EXPECT_EQ(read_file("existing"), "keep");
}

TEST(PayloadWrite, OpenFailuresCarryTheOpensErrno)
{
    TempDir dir;
    EXPECT_EQ(write_native(dir.file("no/such/dir"), Destination::OwnFile).error, ENOENT);
    mkdir("dir", 0755);
    EXPECT_EQ(write_native(dir.file("dir"), Destination::OwnFile).error, EISDIR);
}

namespace {

/// Limits the size of files this process may write, for one scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN); // report EFBIG instead of ending the process
        const rlimit limit{bytes, previous_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

std::array<unsigned char, 4> size_word(uint32_t size)
{
    return {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)};
}

} // namespace

TEST(PayloadWrite, AWriteThatComesUpShortIsReportedAndTheFileStays)
{
    TempDir dir;
    const std::string large(1 << 20, 'p');
    const auto largeSize = size_word(uint32_t(large.size()));
    const auto *largeData = reinterpret_cast<const unsigned char *>(large.data());
    PayloadWriteResult result{};
    {
        FileSizeLimit limit(rlim_t(64) * 1024);
        result = write_payload(largeData, largeSize.data(), dir.file("large").c_str(), Destination::FreshFile);
    }
    EXPECT_EQ(result.kind, PayloadWriteResult::ShortWrite);
    EXPECT_EQ(result.error, EFBIG);
    EXPECT_EQ(read_file("large").size(), 64u * 1024);

    // Small enough to sit in stdio's buffer: only the flush finds out.
    {
        FileSizeLimit limit(10);
        result = write_native(dir.file("small"), Destination::FreshFile);
    }
    EXPECT_EQ(result.kind, PayloadWriteResult::ShortWrite);
    EXPECT_EQ(result.error, EFBIG);
}

TEST(PayloadWrite, ASizeWordBeyondTheSignedRangeIsRefused)
{
    TempDir dir;
    const auto negative = size_word(0x80000000u);
    const PayloadWriteResult result
        = write_payload(tqnativeinstaller, negative.data(), dir.file("target").c_str(), Destination::FreshFile);
    EXPECT_EQ(result.kind, PayloadWriteResult::ShortWrite);
    EXPECT_EQ(result.error, EINVAL);
}
