#include "Utils/Shell.h"

#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>

namespace fs = std::filesystem;

namespace {

// No child of this process is left unreaped.
bool noChildLeft()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

TEST(Shell, CmdReturnsStandardOutputWhateverTheExitStatus)
{
    EXPECT_EQ(Shell::cmd("echo hi; echo 'to stderr' >&2; exit 3"), "hi\n");
    EXPECT_EQ(Shell::cmd("printf 'caf\\303\\251'"), "caf\xC3\xA9");
    EXPECT_EQ(Shell::cmd("true"), "");

    const auto failed = Shell::run({"/bin/sh", "-c", "echo partial; exit 7"});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->output, "partial\n");
    EXPECT_EQ(failed->exitCode, 7);
    const auto killed = Shell::run({"/bin/sh", "-c", "kill -9 $$"});
    ASSERT_TRUE(killed);
    EXPECT_EQ(killed->exitCode, -1);
    EXPECT_TRUE(noChildLeft());
}

TEST(Shell, OutputFarBeyondThePipeBufferDoesNotDeadlock)
{
    const size_t size = 200 * 1024;
    const auto output = Shell::cmd("head -c " + std::to_string(size) + " /dev/zero | tr '\\000' a");
    ASSERT_TRUE(output);
    EXPECT_EQ(output->size(), size);
    EXPECT_EQ(std::count(output->begin(), output->end(), 'a'), static_cast<long>(size));
    EXPECT_TRUE(noChildLeft());
}

TEST(Shell, OutputThatIsNotUtf8GivesNothing)
{
    EXPECT_FALSE(Shell::cmd("printf '\\377'"));
    EXPECT_FALSE(Shell::cmd("printf 'ok\\303'"));          // cut inside a character
    EXPECT_FALSE(Shell::cmd("printf '\\300\\257'"));       // overlong "/"
    EXPECT_FALSE(Shell::cmd("printf '\\355\\240\\200'"));  // UTF-16 surrogate
    EXPECT_FALSE(Shell::cmd("printf '\\364\\220\\200\\200'")); // above U+10FFFF
    EXPECT_EQ(Shell::cmd("printf '\\360\\237\\230\\200'"), "\xF0\x9F\x98\x80");

    // The argv form hands back the raw bytes.
    const auto raw = Shell::run({"/usr/bin/printf", "\\377"});
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->output, "\xFF");
}

TEST(Shell, ArgvReachesTheProgramUnchanged)
{
    const std::vector<std::string> data{"a b", "it's \"quoted\"", "$HOME", "`id`; rm -rf x", "*", "", "line\nbreak"};
    std::vector<std::string> argv{"/usr/bin/printf", "[%s]"};
    argv.insert(argv.end(), data.begin(), data.end());
    std::string expected;
    for (const auto& arg : data)
        expected += "[" + arg + "]";
    const auto outcome = Shell::run(argv);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->output, expected);
    EXPECT_EQ(outcome->exitCode, 0);
}

TEST(Shell, ScriptRunsTheScriptWithTheRestAsArguments)
{
    TempDir dir;
    const fs::path path = dir / "install.sh";
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\"\n");
    fs::permissions(path, fs::perms::owner_all);
    EXPECT_EQ(Shell::script({path.string(), "/res folder", "YES", "NO"}), "3\n/res folder\nYES\nNO\n");
}

TEST(Shell, StartFailuresAreRefusedAndLeaveNoChild)
{
    EXPECT_FALSE(Shell::run({}));
    EXPECT_FALSE(Shell::script({}));
    EXPECT_FALSE(Shell::run({"/nonexistent/program"}));
    EXPECT_FALSE(Shell::run({"/usr/bin/printf", std::string("cut\0here", 8)}));
    EXPECT_TRUE(noChildLeft());
}

TEST(Shell, ChildGetsOnlyTheWriteEndAndDefaultSigpipe)
{
    // Every descriptor of the shell that names the output pipe: only fd 1, the read end stays with us.
    EXPECT_EQ(Shell::cmd("t=$(readlink /proc/$$/fd/1); n=0; for f in /proc/$$/fd/*; do "
                         "[ \"$(readlink $f)\" = \"$t\" ] && n=$((n+1)); done; echo $n"),
              "1\n");

    // The application ignores SIGPIPE; a pipeline in the child still ends its writer by the signal.
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    const auto status = Shell::cmd("yes | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}");
    ::sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(status, "141\n");
}
