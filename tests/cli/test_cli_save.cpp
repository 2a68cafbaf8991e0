// vantrel-cli save: the privilege and the target are checked before anything
// is touched, and the new hive replaces a regular file only once it is whole.
#include "cli/CliApp.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "platform/hive/Regf.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

// The test starts the built program and kills it midway.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out, err;
};

Result runVerb(const std::vector<std::string> &words, const std::string &input = "")
{
    auto command = vt::cli::createCommand(words.at(0));
    if (!command)
        return {-1, "", "no such verb"};
    std::istringstream in(input);
    std::ostringstream out, err;
    command->setInput(&in);
    const int code = command->execute({words.begin() + 1, words.end()}, out, err);
    return {code, out.str(), err.str()};
}

const std::string kKey = "HKCU\\Software\\VtSave";
const std::string kDone = "The operation completed successfully.\n";
const std::string kDenied = "ERROR: Access is denied.\n";

class Save : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = vt::test::makeTempDir("vt-cli-save");
        open(vt::platform::Identity::Administrator);
    }
    void TearDown() override
    {
        m_system.reset();
        vt::test::removeTree(m_dir.string());
    }
    void open(vt::platform::Identity who)
    {
        vt::platform::SystemOptions options;
        options.root = m_dir / "system";
        options.identity = who;
        m_system.reset();
        m_system = std::make_unique<vt::test::TempSystem>(options);
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave", "v", 64, "saved"));
    }
    size_t entries() const
    {
        size_t n = 0;
        for ([[maybe_unused]] const auto &e : fs::directory_iterator(m_dir / "out"))
            ++n;
        return n;
    }

    fs::path m_dir;
    std::unique_ptr<vt::test::TempSystem> m_system;
};

// Only a regular file is replaced; a folder, a FIFO or a device (also behind a
// link) is refused with Windows' code and left as it was.
TEST_F(Save, RefusesWhatIsNotARegularFile)
{
    const fs::path dir = m_dir / "out";
    fs::create_directories(dir / "folder");
    ASSERT_EQ(std::system(("mkfifo '" + (dir / "fifo").string() + "'").c_str()), 0);
    fs::create_symlink("/dev/null", dir / "null");
    struct Row {
        const char *name;
        fs::file_type type;
    } rows[] = {
        {"folder", fs::file_type::directory}, {"fifo", fs::file_type::fifo}, {"null", fs::file_type::character}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Result r = runVerb({"save", kKey, (dir / row.name).string(), "/y"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, kDenied);
        EXPECT_EQ(fs::status(dir / row.name).type(), row.type);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(entries(), 3u) << "no temporary file left behind";

    // A regular file, directly or through a link, gets the hive; the link stays a link.
    vt::test::OpenKey k;
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    for (const char *name : {"plain", "link"}) {
        SCOPED_TRACE(name);
        std::ofstream(dir / "plain") << "old";
        if (std::string(name) == "link")
            fs::create_symlink(dir / "plain", dir / "link");
        const Result r = runVerb({"save", kKey, (dir / name).string(), "/y"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, kDone);
        EXPECT_EQ(vt::test::fileBytes((dir / "plain").string()).rfind("regf", 0), 0u);
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBack"));
        ASSERT_EQ(runVerb({"restore", "HKCU\\Software\\VtBack", (dir / name).string()}).code, 0);
        std::string text;
        EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtBack", "v", 64, text));
        EXPECT_EQ(text, "saved");
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(entries(), 5u);
}

// Without the backup privilege nothing is touched: the old file stays.
TEST_F(Save, WithoutThePrivilegeTheFileStays)
{
    open(vt::platform::Identity::StandardUser);
    fs::create_directories(m_dir / "out");
    const fs::path file = m_dir / "out" / "old.hiv";
    std::ofstream(file) << "old content";
    const Result r = runVerb({"save", kKey, file.string(), "/y"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "ERROR: A required privilege is not held by the client.\n");
    EXPECT_EQ(vt::test::fileBytes(file.string()), "old content");
    EXPECT_EQ(entries(), 1u);
}

// A mounted hive (the system's own and a loaded one), a log of one and the
// journal are refused as targets of save and export, whichever way the path
// names them, and stay as they were.
TEST_F(Save, NeverOverAFileTheSystemHolds)
{
    const fs::path out = m_dir / "out";
    fs::create_directories(out);
    const fs::path loaded = out / "loaded.hiv";
    ASSERT_EQ(runVerb({"save", kKey, loaded.string()}).code, 0);
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtLoaded", loaded.c_str()), ERROR_SUCCESS);

    const fs::path root = m_system->root();
    const fs::path config = root / "drive_c" / "Windows" / "System32" / "config";
    fs::path journal;
    for (const auto &e : fs::directory_iterator(root))
        if (e.path().filename().string().rfind("registry.journal.", 0) == 0)
            journal = e.path();
    ASSERT_FALSE(journal.empty());
    const fs::path held[] = {config / "SOFTWARE", config / "SOFTWARE.LOG1", journal, loaded, loaded.string() + ".LOG2"};

    int n = 0;
    for (const fs::path &file : held) {
        const bool exists = fs::exists(file);
        const std::string before = exists ? vt::test::fileBytes(file.string()) : "";
        std::vector<std::string> spellings = {
            file.string(),
            (file.parent_path() / ".." / file.parent_path().filename() / file.filename()).string(),
        };
        const fs::path link = out / ("link" + std::to_string(n));
        fs::create_symlink(file, link);
        spellings.push_back(link.string());
        if (exists) {
            const fs::path hard = out / ("hard" + std::to_string(n));
            fs::create_hard_link(file, hard);
            spellings.push_back(hard.string());
        }
        const std::string underC = fs::relative(file, root / "drive_c").string();
        if (underC.rfind("..", 0) != 0) {
            std::string windows = "C:\\" + underC;
            std::replace(windows.begin(), windows.end(), '/', '\\');
            spellings.push_back(windows);
        }
        ++n;
        for (const std::string &target : spellings) {
            for (const char *verb : {"save", "export"}) {
                SCOPED_TRACE(std::string(verb) + " " + target);
                const Result r = runVerb({verb, kKey, target, "/y"});
                EXPECT_EQ(r.code, 1);
                EXPECT_NE(r.err.find("The process cannot access the file because it is being used by another process."),
                          std::string::npos)
                    << r.err;
            }
        }
        EXPECT_EQ(fs::exists(file), exists) << file;
        if (exists)
            EXPECT_EQ(vt::test::fileBytes(file.string()), before) << file;
    }
    // The registry is whole: the system reopens with both hives.
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtLoaded"), ERROR_SUCCESS);
    ASSERT_EQ(m_system->reopen(), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft"));
    std::string text;
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave", "v", 64, text));
}

// A file the loader could read only in part (two keys whose names compare
// equal: one cannot be reached) is restored with what it holds, and said so.
TEST_F(Save, RestoreSaysWhatTheFileCouldNotGive)
{
    vt::hive::Hive h;
    h.root = std::make_unique<vt::hive::Key>();
    h.root->name = "ROOT";
    h.root->upperName = "ROOT";
    for (const char *name : {"Dup", "DUP", "Other"}) {
        auto k = std::make_unique<vt::hive::Key>();
        k->name = name;
        k->upperName = vt::hive::upperName(name);
        k->parent = h.root.get();
        h.root->subkeys.push_back(std::move(k));
    }
    fs::create_directories(m_dir / "out");
    const fs::path file = m_dir / "out" / "dup.hiv";
    ASSERT_EQ(vt::hive::saveHiveFile(file.string(), h), ERROR_SUCCESS);
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    const Result r = runVerb({"restore", kKey, file.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR: The file is damaged and was restored in part: 1 keys (with what lay below them) and 0 "
                     "values could not be read.\n");
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtSave\\Other"));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtSave\\Dup"));
}

// A restore is one transaction: killed at any moment, the key holds its old
// content or the file's, whole, when the system is next opened.
TEST_F(Save, RestoreKilledMidwayLeavesOldOrNew)
{
    constexpr int kKeys = 20000;
    fs::create_directories(m_dir / "out");
    const fs::path file = m_dir / "out" / "big.hiv";
    {
        vt::platform::Transaction tx;
        for (int i = 0; i < kKeys; ++i) {
            const std::string path = "Software\\VtBig\\K" + std::to_string(100000 + i);
            HKEY k = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
                      ERROR_SUCCESS);
            const DWORD v = static_cast<DWORD>(i);
            RegSetValueExA(k, "n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), sizeof v);
            RegCloseKey(k);
        }
    }
    ASSERT_EQ(runVerb({"save", "HKCU\\Software\\VtBig", file.string()}).code, 0);
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBig"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave\\Old", "o", 64, "old"));
    const std::string root = m_system->root();
    m_system->close();

    auto state = [&] {
        // "old", "new" or what else was found.
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VtSave", 0, KEY_READ, &k) != ERROR_SUCCESS)
            return std::string("key missing");
        DWORD subkeys = 0, values = 0;
        RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(k);
        std::string text;
        if (subkeys == 1 && values == 1 &&
            ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave\\Old", "o", 64, text))
            return std::string("old");
        const std::string last = "\\Software\\VtSave\\K" + std::to_string(100000 + kKeys - 1);
        if (subkeys == kKeys && values == 0 && KeyExistsAt(HKEY_CURRENT_USER, last))
            return std::string("new");
        return "torn: " + std::to_string(subkeys) + " keys, " + std::to_string(values) + " values";
    };
    std::mt19937 rng(24);
    int olds = 0, news = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(VT_CLI_PATH, VT_CLI_PATH, "--system", root.c_str(), "restore", kKey.c_str(), file.c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 600000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_EQ(m_system->reopen(), ERROR_SUCCESS);
        const std::string now = state();
        EXPECT_TRUE(now == "old" || now == "new") << now;
        if (now == "new") {
            ++news;
            // Back to the old content for the next round.
            ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtSave"));
            ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave\\Old", "o", 64, "old"));
            ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtSave", "v", 64, "saved"));
        } else {
            ++olds;
        }
        m_system->close();
    }
    RecordProperty("old", olds);
    RecordProperty("new", news);
    ASSERT_EQ(m_system->reopen(), ERROR_SUCCESS);
}

TEST(SaveRestoreUsage, NameTheProgramAndTheDefaultView)
{
    for (const char *verb : {"save", "restore"}) {
        SCOPED_TRACE(verb);
        const Result r = runVerb({verb, "/?"});
        EXPECT_EQ(r.code, 0);
        std::string upper = verb;
        for (char &c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(r.out.rfind("vantrel-cli " + upper + " KeyName FileName", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find("REG "), std::string::npos);
        EXPECT_NE(r.out.find("/reg:64   the 64-bit view of the registry (the default)\n"), std::string::npos);
        EXPECT_EQ(r.out.find("32-bit view of the registry (the default)"), std::string::npos);
    }
}

} // namespace
