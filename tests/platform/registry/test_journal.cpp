// The journal's correctness with real processes: names no path can spell,
// a writer whose append failed beside one that goes on, records that cannot be
// read, and changes waiting for a hive that cannot take them.
#include "platform/hive/Regf.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using vt::test::OpenKey;
using vt::test::readSz;
using vt::test::setSz;
using vt::test::TempSystem;
namespace fs = std::filesystem;

namespace
{



// Runs `body` in a child process on the system at `root` and returns its exit
// code (-1: it died). The child ends without closing the system, so what it
// changed is in the journal only, as after a crash.
template <typename F> int inChild(const std::string &root, F body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = root;
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string currentJournal(const std::string &root)
{
    std::ifstream in(root + "/journal.current");
    uint64_t gen = 1;
    in >> gen;
    return root + "/registry.journal." + std::to_string(gen ? gen : 1);
}

// Names a hive may hold that no path can spell, each with children and values.
const std::vector<std::string> &oddNames()
{
    static const std::vector<std::string> names = {"back\\slash", "", std::string("nul\0inside", 10), "a\\b\\c"};
    return names;
}

std::unique_ptr<vt::hive::Key> oddKey(const std::string &name, vt::hive::Key *parent, int depth)
{
    auto k = std::make_unique<vt::hive::Key>();
    k->name = name;
    k->upperName = vt::hive::upperName(name);
    k->parent = parent;
    k->lastWriteTime = 132000000000000000ULL;
    k->values.push_back({"v\\" + name, REG_BINARY, std::vector<uint8_t>(name.begin(), name.end())});
    k->values.push_back({"", REG_DWORD, {uint8_t(depth), 0, 0, 0}});
    if (depth < 2) {
        std::vector<std::unique_ptr<vt::hive::Key>> children;
        for (const auto &n : oddNames())
            children.push_back(oddKey(n, k.get(), depth + 1));
        children.push_back(oddKey("plain", k.get(), depth + 1));
        std::sort(children.begin(), children.end(),
                  [](const auto &a, const auto &b) { return a->upperName < b->upperName; });
        for (auto &c : children)
            k->subkeys.push_back(std::move(c));
    }
    return k;
}

void writeOddHive(const fs::path &file)
{
    vt::hive::Hive h;
    h.root = oddKey("ROOT", nullptr, 0);
    ASSERT_EQ(vt::hive::saveHiveFile(file.string(), h), ERROR_SUCCESS);
}

// Compares a key's subtree, walked through handles one name at a time, with
// the tree it was restored from: names, values, data, exactly.
std::string compareWithTree(HKEY h, const vt::hive::Key &ref, const std::string &where)
{
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return where + ": no information";
    if (subkeys != ref.subkeys.size() || values != ref.values.size())
        return where + ": " + std::to_string(subkeys) + " subkeys and " + std::to_string(values) + " values, not " +
               std::to_string(ref.subkeys.size()) + " and " + std::to_string(ref.values.size());
    for (const auto &v : ref.values) {
        std::vector<uint8_t> data(v.data.size() + 8);
        DWORD size = static_cast<DWORD>(data.size()), type = 0;
        if (RegQueryValueExA(h, v.name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS ||
            type != v.type || std::vector<uint8_t>(data.begin(), data.begin() + size) != v.data)
            return where + ": value '" + v.name + "' differs";
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        char name[300];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return where + ": subkey " + std::to_string(i) + " not listed";
        const std::string got(name, len);
        const vt::hive::Key *match = nullptr;
        for (const auto &c : ref.subkeys)
            if (c->name == got)
                match = c.get();
        if (!match)
            return where + ": unexpected subkey '" + got + "'";
        // A name with a backslash or a NUL cannot be opened by name; the
        // listing and the counts above are what can be checked below it.
        if (got.find('\\') != std::string::npos || got.find('\0') != std::string::npos || got.empty())
            continue;
        OpenKey c;
        if (RegOpenKeyExA(h, got.c_str(), 0, KEY_READ, &c) != ERROR_SUCCESS)
            return where + ": '" + got + "' does not open";
        if (auto d = compareWithTree(c, *match, where + "\\" + got); !d.empty())
            return d;
    }
    return "";
}

} // namespace

// Keys restored from a hive with names holding a backslash, empty names and
// NULs, with values and children, come back exactly from the journal after
// the writer is killed at random moments (no checkpoint ever wrote them).
TEST(Journal, NamesNoPathCanSpellComeBackAfterKills)
{
    TempSystem sys;
    const std::string dir = vt::test::makeTempDir("vt-odd");
    const fs::path file = fs::path(dir) / "odd.hiv";
    writeOddHive(file);
    vt::hive::Hive ref;
    ASSERT_EQ(vt::hive::loadHiveFile(file.string(), ref), ERROR_SUCCESS);
    sys.close();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int pipefd[2];
        ASSERT_EQ(::pipe(pipefd), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipefd[0]);
            vt::platform::SystemOptions o;
            o.root = sys.root();
            if (vt::platform::openSystem(o) != ERROR_SUCCESS || !vt::test::enablePrivilege(SE_RESTORE_NAME))
                ::_exit(2);
            for (uint32_t i = 0;; ++i) {
                const std::string path = "Software\\Odd\\R" + std::to_string(round) + "_" + std::to_string(i);
                HKEY k;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                    nullptr) != ERROR_SUCCESS ||
                    RegRestoreKeyA(k, file.c_str(), 0) != ERROR_SUCCESS)
                    ::_exit(3);
                RegCloseKey(k);
                if (::write(pipefd[1], &i, sizeof i) != sizeof i)
                    ::_exit(4);
            }
        }
        ::close(pipefd[1]);
        uint32_t v = 0;
        int64_t acked = -1;
        ASSERT_EQ(::read(pipefd[0], &v, sizeof v), static_cast<ssize_t>(sizeof v));
        acked = v;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(0, 40)(rng)));
        ::kill(child, SIGKILL);
        while (::read(pipefd[0], &v, sizeof v) == static_cast<ssize_t>(sizeof v))
            acked = v;
        ::close(pipefd[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;

        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        for (int64_t i = 0; i <= acked; ++i) {
            const std::string path = "Software\\Odd\\R" + std::to_string(round) + "_" + std::to_string(i);
            OpenKey k;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS) << path;
            EXPECT_EQ(compareWithTree(k, *ref.root, path), "");
        }
        sys.close();
    }
    vt::test::removeTree(dir);
}

// Two writers, one whose append fails (its file-size limit stands in for a
// full disk): the other's acknowledged change, written after the failure
// relative to the record before it, is neither cut off by the failed writer
// when it next reads the journal nor missing for the next process.
TEST(Journal, WriterWhoseAppendFailedCutsNothingOfOthers)
{
    TempSystem sys;
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Full", "start", "0"), ERROR_SUCCESS);
    sys.close();
    int toParent[2], toChild[2];
    ASSERT_EQ(::pipe(toParent), 0);
    ASSERT_EQ(::pipe(toChild), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        if (setSz(HKEY_CURRENT_USER, "Software\\Full", "x", "1") != ERROR_SUCCESS)
            ::_exit(3);
        struct stat st {
        };
        if (::stat(currentJournal(sys.root()).c_str(), &st) != 0)
            ::_exit(4);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(st.st_size), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(5);
        if (setSz(HKEY_CURRENT_USER, "Software\\Full", "x", "2") == ERROR_SUCCESS)
            ::_exit(6); // the append was meant to fail
        char c = 'f';
        if (::write(toParent[1], &c, 1) != 1 || ::read(toChild[0], &c, 1) != 1)
            ::_exit(7);
        // Reads what the other writer appended meanwhile.
        const std::string seen = readSz(HKEY_CURRENT_USER, "Software\\Full", "y");
        ::_exit(seen == "from the other" ? 0 : 8);
    }
    char c;
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    // The same key as the last record in the file: written relative to it.
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Full", "y", "from the other"), ERROR_SUCCESS);
    ASSERT_EQ(::write(toChild[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // A third process replays the journal as the file holds it now.
    EXPECT_EQ(inChild(sys.root(),
                      [] { return readSz(HKEY_CURRENT_USER, "Software\\Full", "y") == "from the other" ? 0 : 1; }),
              0);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Full", "x"), "1");
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
        ::close(fd);
}

// A whole record that cannot be read (an operation this version does not
// know) is not a torn tail: the records after it are applied and kept.
TEST(Journal, UnreadableWholeRecordIsNotATornTail)
{
    TempSystem sys;
    sys.close();
    ASSERT_EQ(inChild(sys.root(),
                      [] {
                          return setSz(HKEY_CURRENT_USER, "Software\\J", "a", "first") == ERROR_SUCCESS &&
                                         setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\J", "b", "second") == ERROR_SUCCESS
                                     ? 0
                                     : 1;
                      }),
              0);
    // Records: create USER..J, set a, create MACHINE..J, set b. An unknown
    // but whole record goes in after the second.
    const std::string journal = currentJournal(sys.root());
    std::string bytes = vt::test::fileBytes(journal);
    ASSERT_GT(bytes.size(), 16u);
    size_t pos = 16;
    for (int i = 0; i < 2; ++i) {
        ASSERT_LE(pos + 8, bytes.size());
        uint32_t len;
        std::memcpy(&len, bytes.data() + pos, 4);
        pos += 8 + len;
    }
    const std::string payload = "\x7Fnot a change this version knows";
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : payload) {
        crc ^= ch;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    std::string record(8, '\0');
    const auto len = static_cast<uint32_t>(payload.size());
    std::memcpy(record.data(), &len, 4);
    std::memcpy(record.data() + 4, &crc, 4);
    record += payload;
    bytes.insert(pos, record);
    {
        std::ofstream out(journal, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\J", "a"), "first");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\J", "b"), "second");
}

// Changes waiting in the journal for a hive whose file cannot be written for
// a while (no write bits) survive any number of other processes' checkpoints
// and reach the hive once it can be written; every start says they wait.
TEST(Journal, ChangesWaitForAHiveThatCannotBeWritten)
{
    TempSystem sys;
    fs::path user;
    for (const auto &e : fs::directory_iterator(fs::path(sys.root()) / "drive_c/Users"))
        if (fs::exists(e.path() / "NTUSER.DAT"))
            user = e.path() / "NTUSER.DAT";
    ASSERT_FALSE(user.empty());
    sys.close();
    ASSERT_EQ(inChild(sys.root(),
                      [] { return setSz(HKEY_CURRENT_USER, "Software\\Wait", "v", "kept") == ERROR_SUCCESS ? 0 : 1; }),
              0);
    fs::permissions(user, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("process " + std::to_string(i));
        vt::platform::SystemOptions o;
        o.root = sys.root();
        vt::platform::SystemReport report;
        ASSERT_EQ(vt::platform::openSystem(o, &report), ERROR_SUCCESS);
        bool told = false;
        for (const auto &p : report.problems)
            told = told || p.find("kept in the system's journal") != std::string::npos;
        EXPECT_TRUE(told);
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Wait", "v"), "kept");
        ASSERT_EQ(setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "n", std::to_string(i)), ERROR_SUCCESS);
        EXPECT_EQ(vt::platform::closeSystem(), ERROR_SUCCESS); // writes SOFTWARE
    }
    fs::permissions(user, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Wait", "v"), "kept");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "n"), "2");
    sys.close(); // now into the file
    vt::hive::Hive h;
    ASSERT_EQ(vt::hive::loadHiveFile(user.string(), h), ERROR_SUCCESS);
    const vt::hive::Key *k = h.root.get();
    for (const char *n : {"Software", "Wait"})
        k = k ? k->findSubkey(vt::hive::upperName(n)) : nullptr;
    ASSERT_NE(k, nullptr);
    EXPECT_NE(k->findValue("v"), nullptr);
}

// The same for a loaded hive whose file is away for a while (a medium
// unplugged): its journaled change is there when the file is back.
TEST(Journal, ChangesWaitForALoadedHiveThatIsAway)
{
    TempSystem sys;
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    const std::string dir = vt::test::makeTempDir("vt-away");
    const fs::path file = fs::path(dir) / "media.hiv";
    {
        vt::hive::Hive h;
        h.root = std::make_unique<vt::hive::Key>();
        h.root->name = "ROOT";
        h.root->upperName = "ROOT";
        ASSERT_EQ(vt::hive::saveHiveFile(file.string(), h), ERROR_SUCCESS);
    }
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Media", file.c_str()), ERROR_SUCCESS);
    sys.close();
    ASSERT_EQ(inChild(sys.root(),
                      [] { return setSz(HKEY_LOCAL_MACHINE, "Media\\Inside", "v", "kept") == ERROR_SUCCESS ? 0 : 1; }),
              0);
    fs::rename(file, file.string() + ".away");
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("process " + std::to_string(i));
        ASSERT_EQ(inChild(sys.root(),
                          [i] {
                              return setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "n", std::to_string(i)) ==
                                                 ERROR_SUCCESS &&
                                             vt::platform::closeSystem() == ERROR_SUCCESS
                                         ? 0
                                         : 1;
                          }),
                  0);
    }
    fs::rename(file.string() + ".away", file);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "Media\\Inside", "v"), "kept");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "n"), "2");
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Media"), ERROR_SUCCESS);
    sys.close();
    vt::test::removeTree(dir);
}

// An import (changes inside one group commit, which holds the journal's lock
// a slice at a time) and another process's single changes: each of those is
// acknowledged while the import still runs, having waited at most about a
// slice, not for the import's end, and afterwards nothing of either is lost.
TEST(Journal, OtherWritersGetInBetweenSlicesOfAnImport)
{
    TempSystem sys;
    sys.close();
    int progress[2], stop[2];
    ASSERT_EQ(::pipe(progress), 0);
    ASSERT_EQ(::pipe(stop), 0);
    constexpr uint32_t kCap = 3'000'000; // reached only when the other writer never got in
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(progress[0]);
        ::close(stop[1]);
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        uint32_t done = 0;
        {
            vt::platform::DeferredSync batch;
            HKEY k = nullptr;
            for (; done < kCap; ++done) {
                if (done % 500 == 0) {
                    if (k)
                        RegCloseKey(k);
                    const std::string path = "Software\\Import\\K" + std::to_string(done / 500);
                    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                        nullptr) != ERROR_SUCCESS)
                        ::_exit(3);
                    if (::write(progress[1], &done, sizeof done) != sizeof done)
                        ::_exit(4);
                }
                const std::string name = "v" + std::to_string(done % 500);
                const DWORD data = done;
                if (RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4) !=
                    ERROR_SUCCESS)
                    ::_exit(5);
                if (done % 500 == 499) {
                    pollfd p{stop[0], POLLIN, 0};
                    if (::poll(&p, 1, 0) > 0) {
                        ++done;
                        break;
                    }
                }
            }
            RegCloseKey(k);
        }
        const uint32_t end = 0xFFFFFFFFu;
        if (::write(progress[1], &done, sizeof done) != sizeof done || ::write(progress[1], &end, sizeof end) != 4)
            ::_exit(6);
        ::_exit(done >= kCap ? 7 : 0);
    }
    ::close(progress[1]);
    ::close(stop[0]);
    uint32_t v = 0;
    // The import is under way.
    while (::read(progress[0], &v, sizeof v) == static_cast<ssize_t>(sizeof v) && v < 5000) {
    }
    ASSERT_NE(v, 0xFFFFFFFFu);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    std::vector<double> waits;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Between", ("n" + std::to_string(i)).c_str(), "acknowledged"),
                  ERROR_SUCCESS);
        waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    ASSERT_EQ(::write(stop[1], "s", 1), 1);
    uint32_t total = 0;
    while (::read(progress[0], &v, sizeof v) == static_cast<ssize_t>(sizeof v) && v != 0xFFFFFFFFu)
        total = v;
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_NE(WEXITSTATUS(status), 7) << "the other writer's changes waited for the import's end";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    std::string times;
    for (double w : waits)
        times += std::to_string(w) + " ms ";
    RecordProperty("waits", times);
    ::close(progress[0]);
    ::close(stop[1]);
    // A third process replays the journal: all of both.
    const int rc = inChild(sys.root(), [total] {
        for (int i = 0; i < 5; ++i)
            if (readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Between", ("n" + std::to_string(i)).c_str()) != "acknowledged")
                return 1;
        for (uint32_t i = 0; i < total; i += 997) {
            OpenKey k;
            const std::string path = "Software\\Import\\K" + std::to_string(i / 500);
            DWORD data = 0, size = 4;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS ||
                RegQueryValueExA(k, ("v" + std::to_string(i % 500)).c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS ||
                data != i)
                return 2;
        }
        return 0;
    });
    EXPECT_EQ(rc, 0);
}
