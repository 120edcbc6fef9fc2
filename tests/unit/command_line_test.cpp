#include "shared_names.h"
#include "temp_dir.h"
#include "tqwiz_t.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

const char kNativeBytes[] = "!<arch>\ndebian-binary\0native payload for tests\n";
const std::string kNative(kNativeBytes, sizeof kNativeBytes - 1);
const std::string kExtracting = "\n Extracting native installer to '%s'\n";

struct CliRun {
    int result;
    std::string output;
};

CliRun run_cli(std::vector<std::string> args)
{
    std::vector<char *> argv(args.size() + 1, nullptr);
    std::transform(args.begin(), args.end(), argv.begin(), [](std::string &arg) { return arg.data(); });
    testing::internal::CaptureStdout();
    const int result = cli_execute(int(args.size()), argv.data());
    fflush(stdout);
    return {result, testing::internal::GetCapturedStdout()};
}

std::string extracting(const std::string &name)
{
    return "\n Extracting native installer to '" + name + "'\n";
}

std::string warning()
{
    return std::string("\n WARNING: no filename specified to be extracted, usign ") + kPackageFileName + "\n";
}

std::string usage(const std::string &program)
{
    return "\n Installs " + program + " "
           + "\n Application starts Window based Install wizard if X11 is available(DISPLAY variable is set) \n"
           + "\n For text based installation following command line options are applicable:"
           + "\n 1. extract <filename> : does not install, only extracts native installer to filename.";
}

bool exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

} // namespace

TEST(CommandLine, ExtractAloneWritesThePackageUnderItsOwnName)
{
    TempDir dir;
    const CliRun run = run_cli({"installer", "extract"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, warning());
    EXPECT_EQ(read_file(kPackageFileName), kNative);
}

TEST(CommandLine, ExtractWithANameWritesThatFileOnly)
{
    TempDir dir;
    const CliRun run = run_cli({"installer", "extract", "agent.deb"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("agent.deb"));
    EXPECT_EQ(read_file("agent.deb"), kNative);
    EXPECT_FALSE(exists(kPackageFileName));
}

TEST(CommandLine, EveryExtractPrintsItsLineAndTheLastOneDecides)
{
    TempDir dir;
    const CliRun run = run_cli({"installer", "extract", "first.deb", "extract", "second.deb"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("first.deb") + extracting("second.deb"));
    EXPECT_FALSE(exists("first.deb"));
    EXPECT_EQ(read_file("second.deb"), kNative);
}

TEST(CommandLine, ExtractTwiceTakesTheSecondAsANameAndThenWarns)
{
    TempDir dir;
    const CliRun run = run_cli({"installer", "extract", "extract"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("extract") + warning());
    EXPECT_EQ(read_file(kPackageFileName), kNative);
    EXPECT_FALSE(exists("extract"));
}

TEST(CommandLine, EmptyNameFallsBackToThePackageFileName)
{
    TempDir dir;
    const CliRun run = run_cli({"installer", "extract", ""});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("") + extracting(kPackageFileName));
    EXPECT_EQ(read_file(kPackageFileName), kNative);
}

TEST(CommandLine, HelpPrintsUsageAfterTheExtractLinesAndWritesNothing)
{
    TempDir dir;
    CliRun run = run_cli({"installer", "extract", "help"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("help") + usage("installer"));
    EXPECT_FALSE(exists("help"));

    run = run_cli({"./installer", "help"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting(kPackageFileName) + usage("./installer"));
    EXPECT_FALSE(exists(kPackageFileName));
}

TEST(CommandLine, ProgramNameIsScannedLikeAnyArgument)
{
    TempDir dir;
    CliRun run = run_cli({"help"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting(kPackageFileName) + usage("help"));

    run = run_cli({"extract", "named.deb"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, extracting("named.deb"));
    EXPECT_EQ(read_file("named.deb"), kNative);
}

TEST(CommandLine, WordsMatchOnlyWhole)
{
    TempDir dir;
    // None of these is "extract" or "help", so nothing would stop an installation:
    // only the final "help" stops it, and none of these may be taken as extract.
    for (const char *word : {"Extract", "extrac", "extracts", "EXTRACT"}) {
        const CliRun run = run_cli({"installer", word, "help"});
        EXPECT_EQ(run.output, extracting(kPackageFileName) + usage("installer")) << word;
    }
}

TEST(CommandLine, ANameTooLongIsRefusedEvenWhenItsCutNamesAnExistingFile)
{
    TempDir dir;
    write_file("victim", "precious");
    std::string cut;
    for (int i = 0; i < 508; ++i)
        cut += "./";
    cut += "/victim"; // 1023 characters: what the target holds
    ASSERT_EQ(cut.size(), 1023u);
    const CliRun run = run_cli({"installer", "extract", cut + "-and-more"});
    EXPECT_EQ(run.result, ENAMETOOLONG);
    EXPECT_EQ(run.output, extracting(cut) + "\n ERROR : file extraction to " + cut + " :36\n");
    EXPECT_EQ(read_file("victim"), "precious");
}

TEST(CommandLine, OnlyAFileOrALinkAtTheTargetIsReplaced)
{
    TempDir dir;
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "socket");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    std::vector<std::string> targets = {"fifo", "socket"};
    if (mknod("device", S_IFCHR | 0666, makedev(1, 3)) == 0) // a null device of our own, as root
        targets.push_back("device");
    for (const std::string &target : targets) {
        struct stat before {};
        ASSERT_EQ(lstat(target.c_str(), &before), 0);
        const CliRun run = run_cli({"installer", "extract", target});
        EXPECT_EQ(run.result, EEXIST) << target;
        EXPECT_EQ(run.output, extracting(target) + "\n ERROR : file extraction to " + target + " :17\n");
        struct stat after {};
        ASSERT_EQ(lstat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << target << " stays";
    }
    close(sock);
}

TEST(CommandLine, TargetFailuresReportErrnoAndStop)
{
    TempDir dir;
    mkdir("a-directory", 0755);
    CliRun run = run_cli({"installer", "extract", "a-directory"});
    EXPECT_EQ(run.result, EISDIR);
    EXPECT_EQ(run.output, extracting("a-directory") + "\n ERROR : file extraction to a-directory :21\n");

    run = run_cli({"installer", "extract", "missing/dir/file.deb"});
    EXPECT_EQ(run.result, ENOENT);
    EXPECT_EQ(run.output,
              extracting("missing/dir/file.deb") + "\n ERROR : file extraction to missing/dir/file.deb :2\n");
}

TEST(CommandLine, ExistingTargetIsReplacedAndALinkIsNotFollowed)
{
    TempDir dir;
    write_file("old.deb", std::string(10000, 'x'));
    EXPECT_EQ(run_cli({"installer", "extract", "old.deb"}).result, 0);
    EXPECT_EQ(read_file("old.deb"), kNative);

    write_file("victim", "precious");
    ASSERT_EQ(symlink("victim", "link.deb"), 0);
    EXPECT_EQ(run_cli({"installer", "extract", "link.deb"}).result, 0);
    EXPECT_EQ(read_file("victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat("link.deb", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file("link.deb"), kNative);
}
