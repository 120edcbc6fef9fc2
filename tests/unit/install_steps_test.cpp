#include "child_process.h"
#include "config_staging.h"
#include "exit_statuses.h"
#include "temp_dir.h"
#include "tqwiz_t.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int raw_status_of(const char *script)
{
    const char *const argv[] = {"/bin/sh", "-c", script, nullptr};
    return run_program(argv, false, ChildIo::Shared).status;
}

int stage_from(const std::string &source, const std::string &staged)
{
    const int fd = open(source.c_str(), O_RDONLY);
    const int result = stage_configuration(fd, staged.c_str());
    close(fd);
    return result;
}

} // namespace

TEST(ExitStatus, TellsHowAChildFailed)
{
    EXPECT_EQ(exit_status_of(raw_status_of("exit 0")), 0);
    EXPECT_EQ(raw_status_of("exit 1"), 256); // what the Error Code line shows
    EXPECT_EQ(exit_status_of(raw_status_of("exit 1")), 1);
    EXPECT_EQ(exit_status_of(raw_status_of("exit 3")), 3);
    EXPECT_EQ(exit_status_of(raw_status_of("kill -9 $$")), 128 + 9);
    EXPECT_EQ(exit_status_of(-1), 255);
}

TEST(RunProgram, AProgramThatCannotStartIsMinusOne)
{
    const char *const missing[] = {"/nonexistent/dpkg", nullptr};
    const ChildResult result = run_program(missing, false, ChildIo::Shared);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.startError, ENOENT); // the reason, for the user
    const char *const notOnPath[] = {"no-such-program-anywhere", nullptr};
    EXPECT_EQ(run_program(notOnPath, true, ChildIo::Shielded).status, -1);
}

TEST(RunProgram, ArgumentsReachTheChildUntouchedByAnyShell)
{
    TempDir dir;
    const std::string hostile = dir.file("a b;$(touch pwned)`touch pwned2`'\"\n");
    const char *const argv[] = {"touch", hostile.c_str(), nullptr};
    EXPECT_EQ(run_program(argv, true, ChildIo::Shared).status, 0);
    EXPECT_EQ(access(hostile.c_str(), F_OK), 0);
    EXPECT_NE(access("pwned", F_OK), 0);
    EXPECT_NE(access("pwned2", F_OK), 0);
}

TEST(StageConfiguration, CopiesByteForByteOwnerOnly)
{
    TempDir dir;
    const std::string contents("key = value\n\0binary\r\n", 21);
    write_file("source", contents);
    write_file("staged", "an older configuration that is longer than the new one");
    const mode_t previous = umask(0);
    EXPECT_EQ(stage_from("source", dir.file("staged")), 0);
    umask(previous);
    EXPECT_EQ(read_file("staged"), contents);
    struct stat st {};
    ASSERT_EQ(lstat("staged", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(StageConfiguration, ReplacesAPlantedLinkInsteadOfWritingThroughIt)
{
    TempDir dir;
    write_file("source", "config");
    write_file("victim", "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), "staged"), 0);
    EXPECT_EQ(stage_from("source", dir.file("staged")), 0);
    EXPECT_EQ(read_file("victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat("staged", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file("staged"), "config");
}

TEST(StageConfiguration, FailsWithoutLeavingTemporaryFiles)
{
    TempDir dir;
    write_file("source", "config");
    mkdir("staged", 0755);
    mkdir("staged/inside", 0755);
    EXPECT_NE(stage_from("source", dir.file("staged")), 0);

    mkdir("unreadable-source", 0755);
    EXPECT_EQ(stage_from("unreadable-source", dir.file("other")), EISDIR);
    EXPECT_NE(access("other", F_OK), 0);

    const auto isTemporary = [](const std::filesystem::directory_entry &entry) {
        const std::string name = entry.path().filename().string();
        return name.rfind("staged.", 0) == 0 || name.rfind("other.", 0) == 0;
    };
    EXPECT_EQ(
        std::count_if(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator(), isTemporary), 0);
}

TEST(CliInstall, APathNoPackageManagerHandlesRunsNothing)
{
    TempDir dir;
    char path[] = "agent.tar.gz";
    testing::internal::CaptureStdout();
    const int result = cli_install(path);
    fflush(stdout);
    EXPECT_EQ(result, kUnsupportedPackageStatus);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nUnsupported package file: agent.tar.gz (neither .deb nor .rpm); nothing installed.\n");
}
