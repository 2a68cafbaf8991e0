// The engine under attack: values too large for the journal's old limit, hive
// files that cannot be written, checkpoints that fail, FIFOs and hard links
// offered as hives, hostile names in the list of loaded hives, and the
// permissions of the system root.
#include "platform/hive/Regf.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using vt::test::TempSystem;
namespace fs = std::filesystem;

namespace
{

struct OpenKey {
    HKEY h = nullptr;
    ~OpenKey()
    {
        if (h)
            RegCloseKey(h);
    }
    operator HKEY() const { return h; }
    HKEY *operator&() { return &h; }
};

std::string fileBytes(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

LONG setSz(HKEY root, const char *path, const char *name, const std::string &text)
{
    OpenKey k;
    LONG rc = RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

std::string readSz(HKEY root, const char *path, const char *name)
{
    OpenKey k;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return "<no key>";
    char buf[256];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return "<no value>";
    return std::string(buf, size ? size - 1 : 0);
}

// A small hive made with the project's own writer: a root with one key and value.
void writeSmallHive(const fs::path &file)
{
    vt::hive::Hive h;
    h.root = std::make_unique<vt::hive::Key>();
    h.root->name = "ROOT";
    h.root->upperName = "ROOT";
    auto child = std::make_unique<vt::hive::Key>();
    child->name = "Inside";
    child->upperName = "INSIDE";
    child->parent = h.root.get();
    child->values.push_back({"v", REG_DWORD, {7, 0, 0, 0}});
    h.root->subkeys.push_back(std::move(child));
    ASSERT_EQ(vt::hive::saveHiveFile(file.string(), h), ERROR_SUCCESS);
}

fs::path userHive(const TempSystem &sys)
{
    for (const auto &e : fs::directory_iterator(fs::path(sys.root()) / "drive_c/Users"))
        if (fs::exists(e.path() / "NTUSER.DAT"))
            return e.path() / "NTUSER.DAT";
    return {};
}

// A tmpfs of its own (root only), so a test can make a filesystem read-only
// or full without touching anything else.
struct Tmpfs {
    fs::path dir;
    bool mounted = false;
    explicit Tmpfs(const fs::path &where, const char *options = "size=4m") : dir(where)
    {
        fs::create_directories(dir);
        mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options) == 0;
    }
    bool makeReadOnly() const { return ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    ~Tmpfs()
    {
        if (mounted)
            ::umount2(dir.c_str(), MNT_DETACH);
    }
};

// A value larger than the journal once allowed a record to be is kept: it
// survives a process that ends without a checkpoint and the next one's
// replay. Data no hive can hold is refused before anything changes.
TEST(Hardening, ValueOverTheOldRecordLimitSurvivesReplay)
{
    TempSystem sys;
    sys.close();
    constexpr size_t kBig = (size_t{256} << 20) + 4096; // just over 256 MiB
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        std::vector<BYTE> data(kBig);
        for (size_t i = 0; i < kBig; i += 4096)
            data[i] = static_cast<BYTE>(i >> 12);
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Big", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
                ERROR_SUCCESS ||
            RegSetValueExA(k, "blob", 0, REG_BINARY, data.data(), static_cast<DWORD>(kBig)) != ERROR_SUCCESS ||
            setSz(HKEY_CURRENT_USER, "Software\\Big", "after", "kept too") != ERROR_SUCCESS)
            ::_exit(3);
        ::_exit(0); // no checkpoint: only the journal holds the value
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    {
        OpenKey k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Big", 0, KEY_READ, &k), ERROR_SUCCESS);
        DWORD size = 0, type = 0;
        ASSERT_EQ(RegQueryValueExA(k, "blob", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, kBig);
        std::vector<BYTE> back(size);
        ASSERT_EQ(RegQueryValueExA(k, "blob", nullptr, nullptr, back.data(), &size), ERROR_SUCCESS);
        for (size_t i = 0; i < kBig; i += 4096)
            ASSERT_EQ(back[i], static_cast<BYTE>(i >> 12)) << i;
    }
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Big", "after"), "kept too");

    // Beyond what a big-data cell holds: refused, nothing read or changed. The
    // pages are never touched, so the size costs no memory.
    const size_t tooBig = size_t{0xFFFF} * 16344 + 1;
    void *p = ::mmap(nullptr, tooBig, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    OpenKey k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Big", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(k, "huge", 0, REG_BINARY, static_cast<const BYTE *>(p), static_cast<DWORD>(tooBig)),
              ERROR_NOT_ENOUGH_MEMORY);
    ::munmap(p, tooBig);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "huge", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

// A hive file that cannot be written back fails the checkpoint: close says
// so, the change stays in the journal and reaches the hive at the next start,
// and the failing hive does not make every later change rewrite the others.
TEST(Hardening, FailedCheckpointIsReportedAndTheChangeKept)
{
    TempSystem sys;
    const fs::path user = userHive(sys);
    ASSERT_FALSE(user.empty());
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Kept", "v", "survives"), ERROR_SUCCESS);
    // The file's place taken by a folder: the rename of every checkpoint fails.
    fs::rename(user, fs::path(user.string() + ".aside"));
    fs::create_directory(user);

    // Past the journal's checkpoint size: one checkpoint is tried and fails;
    // the next changes must not rewrite SOFTWARE again each time.
    const fs::path software = fs::path(sys.root()) / "drive_c/Windows/System32/config/SOFTWARE";
    const std::string chunk(60000, 'x');
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Filler", ("v" + std::to_string(i)).c_str(), chunk),
                  ERROR_SUCCESS);
        ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Kept", "n", std::to_string(i)), ERROR_SUCCESS);
    }
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(software.c_str(), &before), 0);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Filler", "late", std::to_string(i)), ERROR_SUCCESS);
        ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Kept", "late", std::to_string(i)), ERROR_SUCCESS);
    }
    ASSERT_EQ(::stat(software.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "SOFTWARE rewritten after a failed checkpoint";

    OpenKey k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_NE(RegFlushKey(k), ERROR_SUCCESS);
    RegCloseKey(k.h);
    k.h = nullptr;
    EXPECT_NE(vt::platform::closeSystem(), ERROR_SUCCESS);

    fs::remove(user);
    fs::rename(fs::path(user.string() + ".aside"), user);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Kept", "v"), "survives");
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Kept", "late"), "4");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Filler", "late"), "4");
}

// A hive whose file cannot be written (no write bits, a read-only
// filesystem) mounts read-only: it reads, every change inside is refused,
// the file stays as it was, and the other hives checkpoint as usual.
TEST(Hardening, HiveThatCannotBeWrittenMountsReadOnly)
{
    TempSystem sys;
    const fs::path dir = vt::test::makeTempDir("vt-ro");
    struct Case {
        const char *what;
        fs::path file;
        bool usable;
    };
    std::vector<Case> cases;
    {
        const fs::path f = dir / "mode0444";
        writeSmallHive(f);
        fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        cases.push_back({"a file without write bits", f, true});
    }
    Tmpfs media(dir / "media");
    if (media.mounted) {
        writeSmallHive(media.dir / "hive");
        cases.push_back({"a file on a read-only filesystem", media.dir / "hive", media.makeReadOnly()});
    } else {
        std::fprintf(stderr, "note: no tmpfs (needs root): the read-only filesystem case is skipped\n");
    }
    for (const Case &c : cases) {
        if (!c.usable)
            continue;
        SCOPED_TRACE(c.what);
        const std::string original = fileBytes(c.file);
        ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Evidence", c.file.c_str()), ERROR_SUCCESS);
        {
            OpenKey k;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Evidence\\Inside", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
            DWORD v = 0, size = sizeof v;
            EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size), ERROR_SUCCESS);
            EXPECT_EQ(v, 7u);
            const DWORD eight = 8;
            EXPECT_EQ(RegSetValueExA(k, "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&eight), 4),
                      ERROR_ACCESS_DENIED);
            EXPECT_EQ(RegDeleteValueA(k, "v"), ERROR_ACCESS_DENIED);
            OpenKey sub;
            EXPECT_EQ(RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                      ERROR_ACCESS_DENIED);
            EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Evidence\\Inside"), ERROR_ACCESS_DENIED);
            size = sizeof v;
            EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size), ERROR_SUCCESS);
            EXPECT_EQ(v, 7u);
        }
        // The rest of the registry goes on: a change, a flush, the unload.
        ASSERT_EQ(setSz(HKEY_CURRENT_USER, "Software\\Beside", "v", "fine"), ERROR_SUCCESS);
        OpenKey cu;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &cu), ERROR_SUCCESS);
        EXPECT_EQ(RegFlushKey(cu), ERROR_SUCCESS);
        EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Evidence"), ERROR_SUCCESS);
        EXPECT_EQ(fileBytes(c.file), original);
    }
    vt::test::removeTree(dir.string());
}

// Opening a FIFO for reading waits for a writer: a load must refuse it
// without opening it that way, and without hanging every other caller.
TEST(Hardening, LoadRefusesWhatIsNotARegularFile)
{
    TempSystem sys;
    const fs::path dir = vt::test::makeTempDir("vt-fifo");
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&] { return RegLoadKeyA(HKEY_LOCAL_MACHINE, "Pipe", fifo.c_str()); });
    if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Release the blocked open so the program can end, then fail.
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0)
            ::close(fd);
        load.wait();
        FAIL() << "loading a FIFO blocked";
    }
    EXPECT_NE(load.get(), ERROR_SUCCESS);
    EXPECT_NE(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Zero", "/dev/zero"), ERROR_SUCCESS);
    EXPECT_NE(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Dir", dir.c_str()), ERROR_SUCCESS);
    vt::test::removeTree(dir.string());
}

// A hard link is the same file under another name: loading it beside the
// first mount would split the file between two hives.
TEST(Hardening, HardLinkToALoadedHiveIsInUse)
{
    TempSystem sys;
    const fs::path dir = vt::test::makeTempDir("vt-link");
    writeSmallHive(dir / "hive");
    fs::create_hard_link(dir / "hive", dir / "alias");
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "First", (dir / "hive").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Second", (dir / "alias").c_str()), ERROR_SHARING_VIOLATION);
    // The checkpoint replaces the file (a new inode); the link still names the old one, which is free.
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "First"), ERROR_SUCCESS);
    vt::test::removeTree(dir.string());
}

} // namespace
