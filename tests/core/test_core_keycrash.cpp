// A process renaming or moving a big key is killed at random moments; after
// each kill exactly one of the two keys exists, whole.

#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

namespace {

// Keys below path (the key itself not counted), and whether each has its value.
struct Tally {
    uint64_t keys = 0;
    bool valuesWhole = true;
};

void tally(TMyRegistry &reg, const std::string &path, Tally &t)
{
    ASSERT_TRUE(reg.OpenKeyReadOnly(path)) << path;
    std::vector<std::string> names;
    reg.GetKeyNames(names);
    reg.CloseKey();
    for (const std::string &name : names) {
        ++t.keys;
        TMyRegistry leaf;
        leaf.SetRootKey(HKEY_CURRENT_USER);
        if (!leaf.OpenKeyReadOnly(path + '\\' + name) || leaf.ReadString("v") != name)
            t.valuesWhole = false;
    }
}

class KeyCrash : public ::testing::Test {
protected:
    std::string root = vt::test::makeTempDir("vt-keycrash");
    vt::platform::SystemOptions options;

    void SetUp() override
    {
        options.root = root + "/system";
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        vt::platform::closeSystem();
        vt::test::removeTree(root);
    }
    static void fill(const std::string &path, int count)
    {
        vt::platform::Transaction tx;
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        for (int i = 0; i < count; ++i) {
            const std::string name = "K" + std::to_string(i);
            ASSERT_TRUE(reg.OpenKey(path + '\\' + name, true));
            reg.WriteString("v", name);
        }
        reg.CloseKey();
        ASSERT_EQ(tx.commit(), ERROR_SUCCESS);
    }

    // Exactly one of the two keys, with all its subkeys and their values.
    static void expectOneWhole(const std::string &a, const std::string &b, int count)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        const bool inA = reg.KeyExists(a);
        const bool inB = reg.KeyExists(b);
        ASSERT_NE(inA, inB) << "exactly one of the two";
        Tally t;
        tally(reg, inA ? a : b, t);
        EXPECT_EQ(t.keys, uint64_t(count));
        EXPECT_TRUE(t.valuesWhole);
    }

    // Kills, at random moments, a child that runs `step(n)` for n = 0, 1, ...
    // and acknowledges each; after each kill the system, as a new process
    // finds it, holds exactly one of the keys a and b, whole.
    template <class Step>
    void killRounds(int rounds, int maxDelayMs, Step step, const std::string &a, const std::string &b, int count)
    {
        std::mt19937 random(20261210);
        int killedMidway = 0;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            ASSERT_EQ(vt::platform::closeSystem(), ERROR_SUCCESS);
            int fds[2];
            ASSERT_EQ(::pipe(fds), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(fds[0]);
                if (vt::platform::openSystem(options) != ERROR_SUCCESS)
                    ::_exit(2);
                for (uint32_t n = 0;; ++n) {
                    if (!step(n))
                        ::_exit(3);
                    if (::write(fds[1], &n, sizeof n) != sizeof n)
                        ::_exit(4);
                }
            }
            ::close(fds[1]);
            uint32_t ack = 0;
            // The first step done: the kill lands in the work, not the start.
            if (::read(fds[0], &ack, sizeof ack) != ssize_t(sizeof ack)) {
                int status = 0;
                ::waitpid(child, &status, 0);
                FAIL() << "the child stopped before its first step: " << WEXITSTATUS(status);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (uint32_t(maxDelayMs) * 1000)));
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            ::close(fds[0]);
            ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << WEXITSTATUS(status);
            ++killedMidway;
            ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
            expectOneWhole(a, b, count);
        }
        EXPECT_EQ(killedMidway, rounds);
    }
};

TEST_F(KeyCrash, RenamingAKeyOf20000SubkeysLeavesOneWholeKey)
{
    constexpr int Count = 20000;
    fill("\\Software\\Crash\\Old", Count);
    killRounds(
        24, 60,
        [](uint32_t) {
            TMyRegistry reg;
            reg.SetRootKey(HKEY_CURRENT_USER);
            const bool there = reg.KeyExists("\\Software\\Crash\\Old");
            return reg.RenameKey(there ? "\\Software\\Crash\\Old" : "\\Software\\Crash\\New", there ? "New" : "Old");
        },
        "\\Software\\Crash\\Old", "\\Software\\Crash\\New", Count);
}

// A move to another parent is a copy and a deletion: grouped, a crash leaves
// the key in one place.
TEST_F(KeyCrash, MovingAKeyToAnotherParentLeavesOneWholeKey)
{
    constexpr int Count = 2000;
    fill("\\Software\\Crash\\A\\Moved", Count);
    ASSERT_TRUE(TMyRegistry().CreateKey("\\Software\\Crash\\B"));
    killRounds(
        20, 80,
        [](uint32_t) {
            TMyRegistry reg;
            reg.SetRootKey(HKEY_CURRENT_USER);
            const bool inA = reg.KeyExists("\\Software\\Crash\\A\\Moved");
            return reg.MoveKey(inA ? "\\Software\\Crash\\A\\Moved" : "\\Software\\Crash\\B\\Moved",
                               inA ? "\\Software\\Crash\\B\\Moved" : "\\Software\\Crash\\A\\Moved", true);
        },
        "\\Software\\Crash\\A\\Moved", "\\Software\\Crash\\B\\Moved", Count);
}

} // namespace
