// Durability and fidelity with real processes and real hive files: writers
// killed at random moments, group commits cut short, every test hive mounted
// and compared with what the peer tools read, and the command-line tool
// sharing a system with this process.
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/platform/hive/HiveTestSupport.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using vt::hive::test::quote;
using vt::hive::test::run;
using vt::test::TempSystem;
namespace fs = std::filesystem;

namespace
{

using vt::test::fileBytes;
using vt::test::OpenKey;
using vt::test::readSz;


// The data a writer stores as its i-th value: its size and bytes both depend
// on (round, i), so a value from another change or a torn one cannot pass.
std::vector<uint8_t> payload(uint32_t round, uint32_t i)
{
    const size_t n = i % 97 == 5 ? 20000 : 1 + (i * 37 + round * 11) % 3000; // some big data cells
    std::vector<uint8_t> d(n);
    for (size_t j = 0; j < n; ++j)
        d[j] = static_cast<uint8_t>(j * 31 + i * 7 + round);
    return d;
}

// The hive files of a system root: the machine and user hives.
std::vector<fs::path> hiveFilesOf(const std::string &root)
{
    static const std::set<std::string> names{"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT", "NTUSER.DAT"};
    std::vector<fs::path> out;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || !names.count(e.path().filename().string()))
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        char magic[4] = {};
        if (in.read(magic, 4) && std::memcmp(magic, "regf", 4) == 0)
            out.push_back(e.path());
    }
    return out;
}

// reglookup reads the whole file (keys, values, security) without a word on stderr.
void expectReglookupReads(const fs::path &hive, const std::string &when)
{
    auto [rc, err] = run("reglookup -H -s " + quote(hive.string()) + " 2>&1 >/dev/null");
    ASSERT_NE(rc, 127) << "reglookup is missing: run scripts/setup";
    EXPECT_EQ(rc, 0) << when << ": " << hive;
    EXPECT_EQ(err, "") << when << ": " << hive;
}

bool readAll(int fd, void *p, size_t n)
{
    auto *b = static_cast<char *>(p);
    while (n) {
        const ssize_t r = ::read(fd, b, n);
        if (r <= 0)
            return false;
        b += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Reads acknowledgements until `want` arrived (or the writer died), kills the
// writer, and returns the last index it acknowledged (-1: none).
int64_t killAfter(pid_t child, int fd, std::chrono::milliseconds delay, bool *signaled)
{
    int64_t acked = -1;
    uint32_t v;
    const auto until = std::chrono::steady_clock::now() + delay;
    // Wait for the first ack so the kill lands in the writing, not in start-up.
    if (readAll(fd, &v, sizeof v))
        acked = v;
    std::this_thread::sleep_until(until);
    ::kill(child, SIGKILL);
    while (readAll(fd, &v, sizeof v))
        acked = v;
    int status = 0;
    ::waitpid(child, &status, 0);
    *signaled = WIFSIGNALED(status);
    return acked;
}

void setPayload(HKEY k, uint32_t round, uint32_t i, int exitCode)
{
    const auto d = payload(round, i);
    const std::string name = "v" + std::to_string(i);
    if (RegSetValueExA(k, name.c_str(), 0, REG_BINARY, d.data(), static_cast<DWORD>(d.size())) != ERROR_SUCCESS)
        ::_exit(exitCode);
}

// Values v0.. of a key: how many form a complete prefix, and whether any
// value is torn or missing in the middle.
std::string checkPrefix(HKEY k, uint32_t round, int64_t acked, size_t *present)
{
    DWORD count = 0;
    if (RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return "no info";
    std::vector<uint8_t> buf(32768);
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = "v" + std::to_string(i);
        DWORD size = static_cast<DWORD>(buf.size()), type = 0;
        if (RegQueryValueExA(k, name.c_str(), nullptr, &type, buf.data(), &size) != ERROR_SUCCESS)
            return name + " missing while " + std::to_string(count) + " values exist";
        if (type != REG_BINARY || std::vector<uint8_t>(buf.begin(), buf.begin() + size) != payload(round, i))
            return name + " is not what was written";
    }
    *present = count;
    if (static_cast<int64_t>(count) <= acked)
        return "acknowledged v" + std::to_string(acked) + " lost (" + std::to_string(count) + " present)";
    return "";
}

// ---------------------------------------------------------------------------

// A writer killed at random moments, some inside checkpoints: after every kill
// each acknowledged change of every round is there with its exact data,
// nothing is half-written, and every hive file reads cleanly.
TEST(Durability, RandomKillsLoseNothingAcknowledged)
{
    TempSystem sys;
    sys.close();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    constexpr uint32_t kRounds = 22;
    std::vector<int64_t> acked(kRounds, -1);
    for (uint32_t round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Odd rounds checkpoint after every change, so the kill lands in one.
        const bool checkpointing = round % 2 == 1;
        int pipefd[2];
        ASSERT_EQ(::pipe(pipefd), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipefd[0]);
            vt::platform::SystemOptions o;
            o.root = sys.root();
            if (vt::platform::openSystem(o) != ERROR_SUCCESS)
                ::_exit(2);
            HKEY k;
            const std::string path = "Software\\Kill\\R" + std::to_string(round);
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                nullptr) != ERROR_SUCCESS)
                ::_exit(3);
            for (uint32_t i = 0;; ++i) {
                setPayload(k, round, i, 4);
                if ((checkpointing || i % 40 == 39) && RegFlushKey(k) != ERROR_SUCCESS)
                    ::_exit(5);
                if (::write(pipefd[1], &i, sizeof i) != sizeof i)
                    ::_exit(6);
            }
        }
        ::close(pipefd[1]);
        bool signaled = false;
        acked[round] = killAfter(child, pipefd[0], std::chrono::milliseconds(std::uniform_int_distribution(5, 120)(rng)),
                                 &signaled);
        ::close(pipefd[0]);
        ASSERT_TRUE(signaled) << "the writer ended by itself";
        // The files as the killed writer left them, before anybody replays the journal.
        for (const auto &hive : hiveFilesOf(sys.root()))
            expectReglookupReads(hive, "after kill " + std::to_string(round));

        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        for (uint32_t r = 0; r <= round; ++r) {
            OpenKey k;
            const std::string path = "Software\\Kill\\R" + std::to_string(r);
            if (acked[r] < 0 && RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
                continue;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS) << path;
            size_t present = 0;
            EXPECT_EQ(checkPrefix(k, r, acked[r], &present), "") << path;
        }
        sys.close(); // checkpoints: the next round starts from written hives
    }
    for (const auto &hive : hiveFilesOf(sys.root()))
        expectReglookupReads(hive, "at the end");
    std::string counts;
    for (int64_t a : acked)
        counts += std::to_string(a + 1) + " ";
    RecordProperty("acknowledged", counts);
}

// Key security as the caller reads it back, owner, group and DACL.
std::vector<uint8_t> keySecurity(HKEY k)
{
    DWORD n = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (RegGetKeySecurity(k, what, nullptr, &n) != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::vector<uint8_t> sd(n);
    if (RegGetKeySecurity(k, what, sd.data(), &n) != ERROR_SUCCESS)
        return {};
    sd.resize(n);
    return sd;
}

// Two processes take turns changing keys under different parents, each
// waiting for the other's change: the journal names keys by their relation
// to the record before, which only holds when each writer has taken in the
// other's records first. A third process replays the whole journal (nobody
// checkpointed) and finds every key under its own parent with its values and
// its security, also a key with a descriptor of its own and a child that
// inherits it.
TEST(Durability, WritersTakingTurnsReplayWhole)
{
    TempSystem sys;
    sys.close();
    constexpr int kTurns = 12;
    int toA[2], toB[2];
    ASSERT_EQ(::pipe(toA), 0);
    ASSERT_EQ(::pipe(toB), 0);
    auto writer = [&](char who, int in, int out) {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        const std::string parent = std::string("Software\\Turns\\") + who;
        char token = 0;
        for (int t = 0; t < kTurns; ++t) {
            if (who == 'B' && ::read(in, &token, 1) != 1)
                ::_exit(3);
            // A key, a value on it, a value on the key before (the record
            // before is the other writer's), and the descriptor as read here.
            const std::string name = parent + "\\k" + std::to_string(t);
            HKEY k;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                nullptr) != ERROR_SUCCESS)
                ::_exit(4);
            if (t == 3) {
                auto own = vt::security::descriptorFromSddl("D:P(A;OICI;KA;;;WD)");
                if (!own || RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, own->data()) != ERROR_SUCCESS)
                    ::_exit(5);
                HKEY child;
                if (RegCreateKeyExA(k, "inherits", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr) !=
                    ERROR_SUCCESS)
                    ::_exit(6);
                const auto sd = keySecurity(child);
                RegSetValueExA(child, "sd", 0, REG_BINARY, sd.data(), DWORD(sd.size()));
                RegCloseKey(child);
            }
            const std::string text = name + "=1";
            RegSetValueExA(k, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()), DWORD(text.size() + 1));
            const auto sd = keySecurity(k);
            RegSetValueExA(k, "sd", 0, REG_BINARY, sd.data(), DWORD(sd.size()));
            RegCloseKey(k);
            if (::write(out, "x", 1) != 1)
                ::_exit(7);
            if (who == 'A' && ::read(in, &token, 1) != 1)
                ::_exit(8);
            if (t > 0) {
                const std::string before = parent + "\\k" + std::to_string(t - 1);
                const std::string again = before + "=2";
                HKEY b;
                if (RegOpenKeyExA(HKEY_CURRENT_USER, before.c_str(), 0, KEY_SET_VALUE, &b) != ERROR_SUCCESS ||
                    RegSetValueExA(b, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>(again.c_str()),
                                   DWORD(again.size() + 1)) != ERROR_SUCCESS)
                    ::_exit(9);
                RegCloseKey(b);
            }
        }
        ::_exit(0); // no checkpoint: everything stays in the journal
    };
    const pid_t a = ::fork();
    ASSERT_GE(a, 0);
    if (a == 0)
        writer('A', toA[0], toB[1]);
    const pid_t b = ::fork();
    ASSERT_GE(b, 0);
    if (b == 0)
        writer('B', toB[0], toA[1]);
    for (int fd : {toA[0], toA[1], toB[0], toB[1]})
        ::close(fd);
    for (pid_t p : {a, b}) {
        int status = 0;
        ASSERT_EQ(::waitpid(p, &status, 0), p);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer exit " << WEXITSTATUS(status);
    }
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    for (const char *who : {"A", "B"}) {
        for (int t = 0; t < kTurns; ++t) {
            const std::string name = std::string("Software\\Turns\\") + who + "\\k" + std::to_string(t);
            SCOPED_TRACE(name);
            EXPECT_EQ(readSz(HKEY_CURRENT_USER, name.c_str(), "v"), name + (t < kTurns - 1 ? "=2" : "=1"));
            for (const std::string &path : {name, name + "\\inherits"}) {
                if (path != name && t != 3)
                    continue;
                OpenKey k;
                ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS) << path;
                std::vector<uint8_t> recorded(4096);
                DWORD n = DWORD(recorded.size());
                ASSERT_EQ(RegQueryValueExA(k, "sd", nullptr, nullptr, recorded.data(), &n), ERROR_SUCCESS) << path;
                recorded.resize(n);
                EXPECT_EQ(keySecurity(k), recorded) << path;
            }
        }
        OpenKey parent;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string("Software\\Turns\\") + who).c_str(), 0, KEY_READ,
                                &parent),
                  ERROR_SUCCESS);
        DWORD subkeys = 0;
        ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(subkeys, DWORD(kTurns)) << "no key landed under the other writer's parent";
    }
}

std::string journalOf(const std::string &root)
{
    std::ifstream in(root + "/journal.current");
    std::string gen = "1";
    in >> gen;
    return root + "/registry.journal." + gen;
}

// A batch inside a DeferredSync scope, killed half-way, and the same journal
// cut at a random byte past what was flushed before the scope (what a power
// cut may leave): what was acknowledged before the scope is there, and the
// batch is a clean prefix of whole changes.
TEST(Durability, KilledBatchLeavesACleanPrefix)
{
    TempSystem sys;
    sys.close();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipefd[0]);
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Batch", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS ||
            RegSetValueExA(k, "before", 0, REG_SZ, reinterpret_cast<const BYTE *>("durable"), 8) != ERROR_SUCCESS)
            ::_exit(3);
        const uint64_t flushed = fs::file_size(journalOf(sys.root()));
        if (::write(pipefd[1], &flushed, sizeof flushed) != sizeof flushed)
            ::_exit(4);
        vt::platform::DeferredSync outer;
        for (uint32_t i = 0;; ++i) {
            vt::platform::DeferredSync nested; // inner scopes end without a flush
            setPayload(k, 0, i, 5);
            if (::write(pipefd[1], &i, sizeof i) != sizeof i)
                ::_exit(6);
        }
    }
    ::close(pipefd[1]);
    uint64_t flushed = 0;
    ASSERT_TRUE(readAll(pipefd[0], &flushed, sizeof flushed));
    bool signaled = false;
    const int64_t acked =
        killAfter(child, pipefd[0], std::chrono::milliseconds(std::uniform_int_distribution(20, 200)(rng)), &signaled);
    ::close(pipefd[0]);
    ASSERT_TRUE(signaled);
    ASSERT_GE(acked, 0);

    auto check = [&](const std::string &root, int64_t mustHave, size_t *present) {
        vt::platform::SystemOptions o;
        o.root = root;
        ASSERT_EQ(vt::platform::openSystem(o), ERROR_SUCCESS);
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Batch", "before"), "durable");
        OpenKey k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Batch", 0, KEY_READ, &k), ERROR_SUCCESS);
        // checkPrefix counts "before" among the values: the batch is one fewer.
        DWORD count = 0;
        ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        std::vector<uint8_t> buf(32768);
        size_t n = 0;
        for (; n + 1 < count; ++n) {
            const std::string name = "v" + std::to_string(n);
            DWORD size = static_cast<DWORD>(buf.size());
            ASSERT_EQ(RegQueryValueExA(k, name.c_str(), nullptr, nullptr, buf.data(), &size), ERROR_SUCCESS)
                << name << " missing: not a prefix";
            ASSERT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + size), payload(0, static_cast<uint32_t>(n)))
                << name << " half-written";
        }
        EXPECT_GE(static_cast<int64_t>(n), mustHave + 1);
        *present = n;
        RegCloseKey(k.h);
        k.h = nullptr;
        vt::platform::closeSystem();
    };

    // The power cut: a copy of the root whose journal lost a random tail.
    const std::string cut = vt::test::makeTempDir("vt-cut");
    for (const auto &e : fs::directory_iterator(sys.root())) {
        const auto name = e.path().filename().string();
        if (name != "registry.shm" && name != "system.lock")
            fs::copy(e.path(), cut + "/" + name, fs::copy_options::recursive);
    }
    const std::string journal = journalOf(cut);
    const uint64_t size = fs::file_size(journal);
    ASSERT_GE(size, flushed);
    const uint64_t keep = std::uniform_int_distribution<uint64_t>(flushed, size)(rng);
    fs::resize_file(journal, keep);
    size_t afterCut = 0;
    check(cut, -1, &afterCut);
    vt::test::removeTree(cut);

    // The kill alone loses nothing the batch wrote: the kernel has it.
    size_t afterKill = 0;
    check(sys.root(), acked, &afterKill);
    EXPECT_LE(afterCut, afterKill);
    sys.reopen();
}

// A tree of `kTreeKeys` keys with two values each, the values depending on
// the generation, so a key of another generation or a torn one cannot pass.
constexpr uint32_t kTreeKeys = 60;

bool buildTree(HKEY parent, const char *name, uint32_t gen)
{
    HKEY t;
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &t, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (uint32_t i = 0; i < kTreeKeys && ok; ++i) {
        HKEY c;
        ok = RegCreateKeyExA(t, ("k" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c,
                             nullptr) == ERROR_SUCCESS;
        if (!ok)
            break;
        const auto a = payload(gen, i), b = payload(gen, i + 1000);
        ok = RegSetValueExA(c, "a", 0, REG_BINARY, a.data(), static_cast<DWORD>(a.size())) == ERROR_SUCCESS &&
             RegSetValueExA(c, "b", 0, REG_BINARY, b.data(), static_cast<DWORD>(b.size())) == ERROR_SUCCESS;
        RegCloseKey(c);
    }
    RegCloseKey(t);
    return ok;
}

bool deleteTree(HKEY parent, const std::string &name)
{
    for (uint32_t i = kTreeKeys; i-- > 0;)
        if (RegDeleteKeyA(parent, (name + "\\k" + std::to_string(i)).c_str()) != ERROR_SUCCESS)
            return false;
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

// What Software\Tree holds: "" when it is exactly one whole generation
// (returned in *gen), else what is wrong.
std::string checkTree(uint32_t *gen)
{
    OpenKey tree;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, KEY_READ, &tree) != ERROR_SUCCESS)
        return "no tree";
    char name[64];
    DWORD n = sizeof name;
    if (RegEnumKeyExA(tree, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return "no generation";
    n = sizeof name;
    char second[64];
    if (RegEnumKeyExA(tree, 1, second, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        return std::string("two keys: ") + name + ", " + second;
    if (std::strncmp(name, "Gen", 3) != 0)
        return std::string("half-made: ") + name;
    *gen = static_cast<uint32_t>(std::stoul(name + 3));
    OpenKey g;
    if (RegOpenKeyExA(tree, name, 0, KEY_READ, &g) != ERROR_SUCCESS)
        return "cannot open";
    DWORD subkeys = 0;
    RegQueryInfoKeyA(g, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    if (subkeys != kTreeKeys)
        return std::string(name) + " has " + std::to_string(subkeys) + " keys";
    std::vector<uint8_t> buf(32768);
    for (uint32_t i = 0; i < kTreeKeys; ++i) {
        OpenKey c;
        if (RegOpenKeyExA(g, ("k" + std::to_string(i)).c_str(), 0, KEY_READ, &c) != ERROR_SUCCESS)
            return "k" + std::to_string(i) + " missing";
        for (auto [v, want] : {std::pair{"a", payload(*gen, i)}, std::pair{"b", payload(*gen, i + 1000)}}) {
            DWORD size = static_cast<DWORD>(buf.size());
            if (RegQueryValueExA(c, v, nullptr, nullptr, buf.data(), &size) != ERROR_SUCCESS ||
                std::vector<uint8_t>(buf.begin(), buf.begin() + size) != want)
                return "k" + std::to_string(i) + "\\" + v + " missing or torn";
        }
    }
    return "";
}

// Tree operations, each one transaction (build a new generation under a
// temporary name, delete the old one, rename the new one into place), killed
// at random moments, some inside the checkpoint that ends a transaction; and
// the journal cut at a random byte (a power cut): every time exactly one
// whole generation is there, never a mixture, and none acknowledged is lost.
TEST(Durability, KilledTreeTransactionsAreAllOrNothing)
{
    TempSystem sys;
    sys.close();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        ASSERT_EQ(vt::platform::openSystem(o), ERROR_SUCCESS);
        OpenKey tree;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tree,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_TRUE(buildTree(tree, "Gen0", 0));
        RegCloseKey(tree.h);
        tree.h = nullptr;
        vt::platform::closeSystem(); // in the hive files: no cut can take it
    }
    int64_t mustHave = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Odd rounds end some transactions with a checkpoint, so kills land in
        // them; even rounds leave every transaction in the journal, so any
        // cut of it is a state a power cut could leave.
        const bool checkpointing = round % 2 == 1;
        int pipefd[2];
        ASSERT_EQ(::pipe(pipefd), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipefd[0]);
            vt::platform::SystemOptions o;
            o.root = sys.root();
            if (vt::platform::openSystem(o) != ERROR_SUCCESS)
                ::_exit(2);
            HKEY tree;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tree,
                                nullptr) != ERROR_SUCCESS)
                ::_exit(3);
            char name[64];
            DWORD n = sizeof name;
            if (RegEnumKeyExA(tree, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                ::_exit(4);
            auto gen = static_cast<uint32_t>(std::stoul(name + 3));
            for (;;) {
                if (::write(pipefd[1], &gen, sizeof gen) != sizeof gen)
                    ::_exit(5);
                vt::platform::Transaction t;
                if (!buildTree(tree, "Building", gen + 1) || !deleteTree(tree, "Gen" + std::to_string(gen)) ||
                    RegRenameKey(tree, "Building", ("Gen" + std::to_string(gen + 1)).c_str()) != ERROR_SUCCESS)
                    ::_exit(6);
                if (checkpointing && gen % 4 == 3 && RegFlushKey(tree) != ERROR_SUCCESS)
                    ::_exit(7);
                if (t.commit() != ERROR_SUCCESS)
                    ::_exit(8);
                ++gen;
            }
        }
        ::close(pipefd[1]);
        bool signaled = false;
        const int64_t acked = killAfter(
            child, pipefd[0], std::chrono::milliseconds(std::uniform_int_distribution(10, 150)(rng)), &signaled);
        ::close(pipefd[0]);
        ASSERT_TRUE(signaled) << "the writer ended by itself";
        ASSERT_GE(acked, mustHave);
        for (const auto &hive : hiveFilesOf(sys.root()))
            expectReglookupReads(hive, "after kill");

        // The power cut: a copy whose journal lost a random tail. (Past a
        // checkpoint the journal was flushed before the hives were written:
        // no power cut can take its tail then. That holds too when the kill
        // fell inside an automatic checkpoint, after a hive was written and
        // before the next journal began: the hive is then newer than the
        // journal's last record; equal times, within the clock's step, count
        // as newer.)
        bool hivesNewer = false;
        for (const auto &hive : hiveFilesOf(sys.root()))
            hivesNewer = hivesNewer || fs::last_write_time(hive) >= fs::last_write_time(journalOf(sys.root()));
        for (int once = checkpointing || hivesNewer ? 0 : 1; once; --once) {
            const std::string cut = vt::test::makeTempDir("vt-cut");
            for (const auto &e : fs::directory_iterator(sys.root())) {
                const auto name = e.path().filename().string();
                if (name != "registry.shm" && name != "system.lock")
                    fs::copy(e.path(), cut + "/" + name, fs::copy_options::recursive);
            }
            const std::string journal = journalOf(cut);
            fs::resize_file(journal, std::uniform_int_distribution<uint64_t>(16, fs::file_size(journal))(rng));
            vt::platform::SystemOptions o;
            o.root = cut;
            ASSERT_EQ(vt::platform::openSystem(o), ERROR_SUCCESS);
            uint32_t cutGen = 0;
            EXPECT_EQ(checkTree(&cutGen), "") << "after the cut";
            vt::platform::closeSystem();
            vt::test::removeTree(cut);
        }

        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        uint32_t gen = 0;
        ASSERT_EQ(checkTree(&gen), "") << "after the kill";
        EXPECT_GE(gen, acked) << "an acknowledged generation was lost";
        mustHave = gen;
        sys.close();
    }
}

// ---------------------------------------------------------------------------

std::vector<fs::path> testHives()
{
    std::vector<fs::path> out;
    const fs::path base = vt::hive::test::testdata() / "hives";
    if (!vt::test::haveTestdata())
        return {fs::path()}; // one case that skips
    for (const char *dir : {"real", "odd"})
        for (const auto &e : fs::recursive_directory_iterator(base / dir)) {
            if (!e.is_regular_file())
                continue;
            std::ifstream in(e.path(), std::ios::binary);
            char magic[4] = {};
            if (in.read(magic, 4) && std::memcmp(magic, "regf", 4) == 0)
                out.push_back(e.path());
        }
    std::sort(out.begin(), out.end());
    return out;
}

struct Walk {
    std::map<std::string, std::string> keys; // reglookup path -> "mtime|class", ASCII paths only
    size_t count = 0;
    int mismatches = 0;
    std::string first;
    void fail(const std::string &what)
    {
        if (mismatches++ == 0)
            first = what;
    }
};

bool isAscii(const std::string &s)
{
    for (char c : s)
        if (c <= 0)
            return false;
    return true;
}

// Compares what the A functions show of `h` with the key as the hive module
// read it from the file: class, time, security, values, subkeys.
void compareKey(HKEY h, const vt::hive::Key &ref, const std::string &path, bool asciiPath, Walk &w)
{
    ++w.count;
    char cls[1024];
    DWORD clsLen = sizeof cls, nSub = 0, nVal = 0;
    FILETIME ft{};
    if (RegQueryInfoKeyA(h, cls, &clsLen, nullptr, &nSub, nullptr, nullptr, &nVal, nullptr, nullptr, nullptr, &ft) !=
        ERROR_SUCCESS)
        return w.fail(path + ": RegQueryInfoKeyA");
    const std::string className(cls, clsLen);
    const uint64_t time = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (className != ref.className)
        w.fail(path + ": class");
    if (time != ref.lastWriteTime)
        w.fail(path + ": last-write time");
    if (nSub != ref.subkeys.size() || nVal != ref.values.size())
        w.fail(path + ": counts");
    if (asciiPath && isAscii(className))
        w.keys[path] = vt::hive::test::filetimeText(time) + "|" + className;

    if (ref.security) {
        DWORD size = 0;
        const SECURITY_INFORMATION all =
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
            SACL_SECURITY_INFORMATION;
        RegGetKeySecurity(h, all, nullptr, &size);
        std::vector<uint8_t> sd(size);
        if (RegGetKeySecurity(h, all, sd.data(), &size) != ERROR_SUCCESS || sd != *ref.security)
            w.fail(path + ": security descriptor");
    }

    std::vector<char> name(16384 * 4 + 1);
    std::vector<uint8_t> data;
    for (DWORD i = 0; i < nVal; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size()), type = 0, dataLen = 0;
        if (RegEnumValueA(h, i, name.data(), &nameLen, nullptr, &type, nullptr, &dataLen) != ERROR_SUCCESS) {
            w.fail(path + ": value " + std::to_string(i));
            continue;
        }
        const std::string vname(name.data(), nameLen);
        data.assign(dataLen + 2, 0);
        nameLen = static_cast<DWORD>(name.size());
        if (RegEnumValueA(h, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen) != ERROR_SUCCESS) {
            w.fail(path + ": value data " + vname);
            continue;
        }
        data.resize(dataLen);
        const vt::hive::Value *rv = nullptr;
        for (const auto &v : ref.values)
            if (v.name == vname)
                rv = &v;
        if (!rv) {
            w.fail(path + ": unknown value " + vname);
            continue;
        }
        std::vector<uint8_t> want = rv->data;
        if (vt::platform::isStringType(rv->type)) {
            const std::string u8 = vt::platform::utf16leToUtf8(rv->data.data(), rv->data.size());
            want.assign(u8.begin(), u8.end());
        }
        if (type != rv->type || data != want)
            w.fail(path + ": value " + vname);
    }

    for (DWORD i = 0; i < nSub; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(h, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            w.fail(path + ": subkey " + std::to_string(i));
            continue;
        }
        const std::string sub(name.data(), nameLen);
        const vt::hive::Key *rc = nullptr;
        for (const auto &c : ref.subkeys)
            if (c->name == sub)
                rc = c.get();
        if (rc && sub.find('\0') != std::string::npos) {
            // A name with a NUL cannot be passed to the A functions (nor on Windows).
            w.count += vt::hive::test::countKeys(*rc);
            continue;
        }
        OpenKey k;
        if (!rc || RegOpenKeyExA(h, sub.c_str(), 0, KEY_READ | ACCESS_SYSTEM_SECURITY, &k) != ERROR_SUCCESS) {
            w.fail(path + ": subkey " + sub);
            continue;
        }
        const bool ascii = asciiPath && isAscii(sub) && sub.find_first_of("/,%") == std::string::npos;
        compareKey(k, *rc, (path == "/" ? path : path + "/") + sub, ascii, w);
    }
}

// reglookup's complaints without the cell offsets, which a rewrite moves.
std::string withoutOffsets(const std::string &text)
{
    return std::regex_replace(text, std::regex("offset: 0x[0-9A-Fa-f]+"), "offset");
}

std::set<std::string> lines(const std::string &text)
{
    std::set<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.insert(l);
    return out;
}

class RealHive : public ::testing::TestWithParam<fs::path>
{
protected:
    void SetUp() override
    {
        if (GetParam().empty())
            GTEST_SKIP() << vt::test::testdataAbsentMessage();
    }
};

// Every test hive mounts with what the peers read in it, an untouched unload
// leaves its bytes alone, and a change comes back as exactly that change.
TEST_P(RealHive, MountsAsThePeersReadIt)
{
    // SYSTEM passes every access check, so keys such as SAM\SAM open too.
    vt::platform::SystemOptions o;
    o.identity = vt::platform::Identity::LocalSystem;
    TempSystem sys(o);
    ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
    vt::hive::test::TempDir dir;
    const fs::path file = dir.path / GetParam().filename();
    fs::copy_file(GetParam(), file);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add); // the test data is read-only
    const std::string original = fileBytes(file);

    vt::hive::Hive ref;
    const LONG loaded = vt::hive::loadHiveFile(file.string(), ref);
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal", file.c_str()), loaded);
    if (loaded != ERROR_SUCCESS)
        return;
    ASSERT_EQ(fileBytes(file), original) << "mounting wrote to the file";

    Walk w;
    {
        OpenKey root;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "VtReal", 0, KEY_READ | ACCESS_SYSTEM_SECURITY, &root),
                  ERROR_SUCCESS);
        compareKey(root, *ref.root, "/", true, w);
    }
    EXPECT_EQ(w.mismatches, 0) << "first: " << w.first;

    auto [rlRc, rlOut] = run("reglookup -H -t KEY -s " + quote(file.string()) + " 2>/dev/null");
    ASSERT_NE(rlRc, 127) << "reglookup is missing: run scripts/setup";
    size_t listed = 0;
    const auto peer = vt::hive::test::reglookupKeys(rlOut, listed);
    EXPECT_EQ(w.count, listed);
    int shown = 0;
    for (const auto &[path, seen] : w.keys) {
        auto it = peer.find(path);
        const std::string theirs = it == peer.end() ? "<not listed>" : it->second;
        if (theirs != seen) {
            EXPECT_LT(++shown, 4) << path << ": here " << seen << ", reglookup " << theirs;
        }
    }

    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal"), ERROR_SUCCESS);
    EXPECT_TRUE(fileBytes(file) == original) << "an unchanged unload rewrote the file";

    // One change, then the peers compare the file with the original.
    const std::string cmdTail = " " + quote(file.string());
    auto before = run("reglookup -H -s" + cmdTail + " 2>/dev/null");
    auto beforeErr = run("reglookup -H -s" + cmdTail + " 2>&1 >/dev/null");
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal", file.c_str()), ERROR_SUCCESS);
    {
        OpenKey root;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "VtReal", 0, KEY_SET_VALUE, &root), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(root, "VtProbe", 0, REG_SZ, reinterpret_cast<const BYTE *>("probe"), 6),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal"), ERROR_SUCCESS);
    auto after = run("reglookup -H -s" + cmdTail + " 2>/dev/null");
    auto afterErr = run("reglookup -H -s" + cmdTail + " 2>&1 >/dev/null");
    EXPECT_EQ(after.first, before.first);
    EXPECT_TRUE(withoutOffsets(afterErr.second) == withoutOffsets(beforeErr.second))
        << "reglookup complains about the written hive:\n"
        << afterErr.second.substr(0, 600);
    const auto was = lines(before.second), now = lines(after.second);
    std::vector<std::string> gone, added;
    std::set_difference(was.begin(), was.end(), now.begin(), now.end(), std::back_inserter(gone));
    std::set_difference(now.begin(), now.end(), was.begin(), was.end(), std::back_inserter(added));
    // The root key's line (its time) and the new value; nothing else.
    ASSERT_EQ(gone.size(), 1u) << (gone.empty() ? "" : gone[0]);
    EXPECT_EQ(gone[0].rfind("/,KEY,", 0), 0u) << gone[0];
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].rfind("/,KEY,", 0), 0u) << added[0];
    EXPECT_NE(added[1].find("/VtProbe,SZ,probe,"), std::string::npos) << added[1];

    auto [hxRc, hxOut] = run("hivexregedit --export" + cmdTail + " '\\' 2>&1 >/dev/null");
    auto [hxOrigRc, hxOrigOut] = [&] {
        const fs::path orig = dir.path / "original";
        std::ofstream(orig, std::ios::binary) << original;
        return run("hivexregedit --export " + quote(orig.string()) + " '\\' 2>&1 >/dev/null");
    }();
    EXPECT_EQ(hxRc, hxOrigRc) << hxOut;
    auto [riRc, riErr] = run("regfinfo" + cmdTail + " 2>&1 >/dev/null");
    EXPECT_EQ(riRc, 0) << riErr;
    EXPECT_EQ(riErr, "");
}

INSTANTIATE_TEST_SUITE_P(TestData, RealHive, ::testing::ValuesIn(testHives()),
                         [](const ::testing::TestParamInfo<fs::path> &info) {
                             if (info.param.empty())
                                 return std::string("CorpusAbsent");
                             std::string n = info.param.parent_path().filename().string() + "_" +
                                             info.param.filename().string();
                             for (char &c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

// ---------------------------------------------------------------------------

#ifdef VT_CLI_PATH

// The tool's exit code; its output goes to the log.
int cli(const std::string &root, std::initializer_list<std::string> args)
{
    std::string cmd = quote(VT_CLI_PATH) + " --system " + quote(root);
    for (const auto &a : args)
        cmd += " " + quote(a);
    auto [rc, out] = run(cmd + " 2>&1");
    if (rc != 0)
        std::fprintf(stderr, "%s: %s", cmd.c_str(), out.c_str());
    return rc;
}

// An ending process rewrites a large hive only when its changes are worth
// it: a few wait in the journal (durable, and replayed by the next process)
// and leave the file as it was; a MiB of them gets the hive written. A small
// hive, and a hive loaded with RegLoadKeyA, are written at once.
TEST(Durability, EndingProcessRewritesLargeHivesOnlyForEnoughChanges)
{
    TempSystem sys;
    const std::string user = sys.root() + "/drive_c/Users/" + vt::platform::currentUserName() + "/NTUSER.DAT";
    auto set = [](HKEY root, const char *name, size_t size) {
        OpenKey k;
        const std::vector<uint8_t> data(size, static_cast<uint8_t>(size));
        return RegCreateKeyExA(root, "Software\\Exit", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
                   ERROR_SUCCESS &&
               RegSetValueExA(k, name, 0, REG_BINARY, data.data(), static_cast<DWORD>(size)) == ERROR_SUCCESS;
    };
    auto hasValue = [](HKEY root, const char *name) {
        OpenKey k;
        return RegOpenKeyExA(root, "Software\\Exit", 0, KEY_READ, &k) == ERROR_SUCCESS &&
               RegQueryValueExA(k, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    };
    struct Case {
        const char *what;
        const char *name;
        size_t size;
        bool written;
    };
    // The user's hive is small, then made large by the first case's value.
    for (const Case &c : {Case{"small hive", "big", size_t{2} << 20, true},
                          Case{"a small change", "small", 100, false},
                          Case{"another small change", "small2", 100, false},
                          Case{"a MiB of changes", "mib", size_t{1} << 20, true}}) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> before = vt::hive::test::readBytes(user);
        ASSERT_TRUE(set(HKEY_CURRENT_USER, c.name, c.size));
        ASSERT_EQ(vt::platform::closeSystemForExit(), ERROR_SUCCESS);
        EXPECT_EQ(vt::hive::test::readBytes(user) != before, c.written);
        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        EXPECT_TRUE(hasValue(HKEY_CURRENT_USER, c.name)) << "lost with the process";
    }
    EXPECT_TRUE(hasValue(HKEY_CURRENT_USER, "small") && hasValue(HKEY_CURRENT_USER, "small2"));

    // A large loaded hive changed a little is written all the same.
    const std::string dir = vt::test::makeTempDir("vt-exit");
    const std::string file = dir + "/loaded.dat";
    {
        vt::hive::Hive h;
        h.root = std::make_unique<vt::hive::Key>();
        h.root->name = "ROOT";
        h.root->values.push_back({"big", REG_BINARY, std::vector<uint8_t>(size_t{2} << 20, 7)});
        ASSERT_EQ(vt::hive::saveHiveFile(file, h), ERROR_SUCCESS);
    }
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtExit", file.c_str()), ERROR_SUCCESS);
    const std::vector<uint8_t> before = vt::hive::test::readBytes(file);
    {
        OpenKey loaded;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "VtExit", 0, KEY_ALL_ACCESS, &loaded), ERROR_SUCCESS);
        ASSERT_TRUE(set(loaded, "small", 100));
    }
    ASSERT_EQ(vt::platform::closeSystemForExit(), ERROR_SUCCESS);
    EXPECT_NE(vt::hive::test::readBytes(file), before);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtExit"), ERROR_SUCCESS);
    vt::test::removeTree(dir);
}

// The command-line tool, a separate process, changes a key this process waits
// on: the wait ends within a second and the change is visible here.
TEST(Durability, ChangeByTheToolWakesAWaiterHere)
{
    TempSystem sys;
    OpenKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtShared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(k, TRUE, REG_NOTIFY_CHANGE_LAST_SET, ev, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(cli(sys.root(), {"add", "HKCU\\Software\\VtShared", "/v", "greeting", "/d", "hello", "/f"}), 0);
    // The tool has ended, so its change is at most its run time old.
    EXPECT_EQ(WaitForSingleObject(ev, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\VtShared", "greeting"), "hello");
    CloseHandle(ev);
}

// Hives loaded and unloaded by the tool are mounted and dropped here too, and
// the tool sees a hive this process loaded.
TEST(Durability, HivesLoadedByTheToolAreSharedHere)
{
    VT_SKIP_WITHOUT_TESTDATA();
    TempSystem sys;
    vt::hive::test::TempDir dir;
    const fs::path sam = dir.path / "SAM", mine = dir.path / "MINE";
    fs::copy_file(vt::hive::test::testdata() / "hives/real/regipy/SAM", sam);
    fs::copy_file(vt::hive::test::testdata() / "hives/real/regipy/SAM", mine);
    // Opens the hive's root and finds the SAM key in it.
    auto opens = [](const char *path) {
        OpenKey k;
        char name[256];
        DWORD n = sizeof name;
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &k) == ERROR_SUCCESS &&
               RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               std::string(name, n) == "SAM";
    };
    ASSERT_EQ(cli(sys.root(), {"load", "HKLM\\VtTool", sam.string()}), 0);
    EXPECT_TRUE(opens("VtTool"));
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtMine", mine.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(cli(sys.root(), {"query", "HKLM\\VtMine"}), 0);
    EXPECT_EQ(cli(sys.root(), {"load", "HKLM\\VtAgain", sam.string()}), 1) << "already mounted, by the tool";
    ASSERT_EQ(cli(sys.root(), {"unload", "HKLM\\VtTool"}), 0);
    EXPECT_FALSE(opens("VtTool"));
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtTool", sam.c_str()), ERROR_SUCCESS) << "the file is free again";
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtTool"), ERROR_SUCCESS);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtMine"), ERROR_SUCCESS);
}

// The tool runs three times while this process is idle: each run ends with a
// checkpoint, so this process falls generations behind and must take the
// changes from the hive files. Its handles stay valid, a handle into a key
// the tool deleted answers ERROR_KEY_DELETED, and a waiter is woken.
TEST(Durability, ProcessFarBehindKeepsItsHandles)
{
    TempSystem sys;
    OpenKey kept, gone;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Behind\\Kept", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &kept, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Behind\\Gone", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &gone, nullptr),
              ERROR_SUCCESS);
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(kept, FALSE, REG_NOTIFY_CHANGE_LAST_SET, ev, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(cli(sys.root(), {"add", "HKCU\\Software\\Behind\\Kept", "/v", "a", "/d", "one", "/f"}), 0);
    ASSERT_EQ(cli(sys.root(), {"add", "HKCU\\Software\\Behind\\Kept", "/v", "b", "/d", "two", "/f"}), 0);
    ASSERT_EQ(cli(sys.root(), {"delete", "HKCU\\Software\\Behind\\Gone", "/f"}), 0);

    const BYTE here[] = "here";
    EXPECT_EQ(RegSetValueExA(kept, "c", 0, REG_SZ, here, sizeof here), ERROR_SUCCESS);
    for (const char *name : {"a", "b", "c"}) {
        char buf[16];
        DWORD size = sizeof buf;
        EXPECT_EQ(RegQueryValueExA(kept, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size), ERROR_SUCCESS)
            << name;
    }
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(gone, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(WaitForSingleObject(ev, 1000), WAIT_OBJECT_0);
    CloseHandle(ev);
    RegCloseKey(kept.h);
    kept.h = nullptr;
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Behind\\Kept", "a"), "one");
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Behind\\Kept", "c"), "here");
}

#endif

} // namespace
