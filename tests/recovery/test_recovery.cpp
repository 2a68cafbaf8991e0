// The recovery pass on hives written by our own writer and then deleted
// from by hand, as Windows deletes (cells marked free, a value list's count
// lowered), on crafted cells, and the recover verb end to end.
#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"
#include "recovery/HiveRecovery.h"
#include "recovery/RecoveryExport.h"
#include "tests/support/TestData.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

using namespace vt::recovery;
using vt::hive::regf::rd32;
using vt::hive::regf::wr16;
using vt::hive::regf::wr32;

namespace
{

std::vector<uint8_t> utf16z(const std::string &ascii)
{
    std::vector<uint8_t> d;
    for (char c : ascii) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    d.push_back(0);
    d.push_back(0);
    return d;
}

std::unique_ptr<vt::hive::Key> makeKey(const std::string &name, vt::hive::Key *parent)
{
    auto k = std::make_unique<vt::hive::Key>();
    k->name = name;
    k->upperName = vt::hive::upperName(name);
    k->parent = parent;
    k->lastWriteTime = 132000000000000000ull; // 2019-04-17 18:40:00
    return k;
}

// ROOT\Run with "keep" and "gone", ROOT\Run\Child with "v1" (a DWORD) and
// "big" (20000 bytes: big data).
struct Fixture {
    std::vector<uint8_t> image;
    RecoveryResult clean;
    uint32_t run = 0, child = 0; // file offsets of the nk cells
    std::vector<RecoveredValue> runValues, childValues;
    std::vector<uint8_t> big;

    Fixture()
    {
        vt::hive::Hive hive;
        hive.root = makeKey("ROOT", nullptr);
        auto run = makeKey("Run", hive.root.get());
        run->values.push_back({"keep", REG_SZ, utf16z("kept")});
        run->values.push_back({"gone", REG_SZ, utf16z("C:\\evil.exe")});
        auto child = makeKey("Child", run.get());
        child->values.push_back({"v1", REG_DWORD, {7, 0, 0, 0}});
        for (int i = 0; i < 20000; ++i)
            big.push_back(static_cast<uint8_t>(i * 7));
        child->values.push_back({"big", REG_BINARY, big});
        run->subkeys.push_back(std::move(child));
        hive.root->subkeys.push_back(std::move(run));
        image = vt::hive::writeHive(hive);
        std::string error;
        EXPECT_TRUE(recoverHive(image, clean, error)) << error;
        for (const RecoveredKey &k : clean.keys) {
            if (k.name == "Run")
                this->run = k.offset;
            if (k.name == "Child")
                this->child = k.offset;
        }
        runValues = liveValues(clean, clean.keys[clean.keyAt(this->run)]);
        childValues = liveValues(clean, clean.keys[clean.keyAt(this->child)]);
    }

    void freeCell(uint32_t fo)
    {
        const auto size = static_cast<int32_t>(rd32(image.data() + fo));
        if (size < 0)
            wr32(image.data() + fo, static_cast<uint32_t>(-size));
    }
    void freeData(const RecoveredValue &v)
    {
        if (v.resident || v.dataSize == 0)
            return;
        const uint32_t fo = v.dataCell + 4096;
        const uint8_t *c = image.data() + fo + 4;
        if (c[0] == 'd' && c[1] == 'b') {
            const uint32_t list = rd32(c + 4) + 4096;
            const uint16_t n = vt::hive::regf::rd16(c + 2);
            for (uint16_t i = 0; i < n; ++i)
                freeCell(rd32(image.data() + list + 4 + 4 * i) + 4096);
            freeCell(list);
        }
        freeCell(fo);
    }
    // Deletes Child with its values and "gone" from Run, as Windows would,
    // except that Run's subkey list keeps its entry (the pass never reads it).
    void deleteItems()
    {
        const RecoveredKey &c = clean.keys[clean.keyAt(child)];
        for (const RecoveredValue &v : childValues) {
            freeData(v);
            freeCell(v.offset);
        }
        freeCell(c.valueListCell + 4096);
        freeCell(child);
        ASSERT_EQ(runValues.size(), 2u);
        ASSERT_EQ(runValues[1].name, "gone");
        freeData(runValues[1]);
        freeCell(runValues[1].offset);
        wr32(image.data() + run + 4 + 0x24, 1); // the list keeps "gone" in its slack
    }
    RecoveryResult recover() const
    {
        RecoveryResult r;
        std::string error;
        EXPECT_TRUE(recoverHive(image, r, error)) << error;
        return r;
    }
};

const RecoveredValue *valueNamed(const RecoveryResult &r, const std::string &name)
{
    for (const RecoveredValue &v : r.values)
        if (v.name == name)
            return &v;
    return nullptr;
}

} // namespace

TEST(Recovery, CleanHiveHasNothingDeletedAndReadsLiveValues)
{
    Fixture f;
    EXPECT_EQ(f.clean.deletedKeys, 0u);
    EXPECT_TRUE(f.clean.values.empty());
    ASSERT_GE(f.clean.root, 0);
    EXPECT_EQ(f.clean.keys[f.clean.keyAt(f.child)].path, "Run\\Child");
    ASSERT_EQ(f.childValues.size(), 2u);
    EXPECT_EQ(f.childValues[1].data, f.big);
    EXPECT_EQ(f.childValues[1].dataState, DataState::Whole);
}

TEST(Recovery, DeletedKeyAndValuesArePlacedWithTheirData)
{
    Fixture f;
    f.deleteItems();
    const RecoveryResult r = f.recover();
    const int32_t ci = r.keyAt(f.child);
    ASSERT_GE(ci, 0);
    const RecoveredKey &child = r.keys[ci];
    EXPECT_TRUE(child.deleted());
    EXPECT_EQ(child.origin, Origin::FreeCell);
    EXPECT_EQ(child.path, "Run\\Child");
    EXPECT_TRUE(child.pathComplete);
    EXPECT_EQ(child.lastWrite, 132000000000000000ull);
    EXPECT_FALSE(child.security.empty()); // the shared descriptor is still there
    ASSERT_EQ(child.values.size(), 2u);
    const RecoveredValue *v1 = valueNamed(r, "v1");
    const RecoveredValue *big = valueNamed(r, "big");
    ASSERT_TRUE(v1 && big);
    EXPECT_EQ(v1->key, ci);
    EXPECT_EQ(v1->data, (std::vector<uint8_t>{7, 0, 0, 0}));
    EXPECT_EQ(big->data, f.big);
    EXPECT_EQ(big->dataState, DataState::Whole);
    // Deleted from a live key: placed there through the slack of its list.
    const RecoveredValue *gone = valueNamed(r, "gone");
    ASSERT_TRUE(gone);
    ASSERT_GE(gone->key, 0);
    EXPECT_EQ(r.keys[gone->key].offset, f.run);
    EXPECT_FALSE(r.keys[gone->key].deleted());
    EXPECT_EQ(gone->data, utf16z("C:\\evil.exe"));
    EXPECT_EQ(valueNamed(r, "keep"), nullptr); // live values are not recovered items
    EXPECT_EQ(regValueLine(*gone), "\"gone\"=\"C:\\\\evil.exe\"");
}

TEST(Recovery, DataStateTellsWhatSurvived)
{
    Fixture f;
    f.deleteItems();
    // The data cell of "gone" allocated again for something else.
    const RecoveredValue &gone = f.runValues[1];
    uint8_t *cell = f.image.data() + gone.dataCell + 4096;
    wr32(cell, static_cast<uint32_t>(-static_cast<int32_t>(rd32(cell))));
    // "big" states more than its segments hold.
    const RecoveredValue &big = f.childValues[1];
    wr32(f.image.data() + big.offset + 4 + 4, 40000);
    const RecoveryResult r = f.recover();
    EXPECT_EQ(valueNamed(r, "gone")->dataState, DataState::Reused);
    EXPECT_EQ(valueNamed(r, "big")->dataState, DataState::Partial);
    const std::vector<uint8_t> &got = valueNamed(r, "big")->data;
    ASSERT_LT(got.size(), 40000u);
    ASSERT_GE(got.size(), 20000u);
    EXPECT_TRUE(std::equal(f.big.begin(), f.big.end(), got.begin()));
    EXPECT_EQ(valueNamed(r, "v1")->dataState, DataState::Whole);
}

TEST(Recovery, SlackAndRemnantBinsAreCarved)
{
    Fixture f;
    f.deleteItems();
    // A bin beyond the declared end: the first bin copied after the image, the
    // file grown without the base block knowing.
    const uint32_t declared = rd32(f.image.data() + 0x28);
    std::vector<uint8_t> bin(f.image.begin() + 4096, f.image.begin() + 4096 + rd32(f.image.data() + 4096 + 8));
    f.image.insert(f.image.end(), bin.begin(), bin.end());
    const RecoveryResult r = f.recover();
    EXPECT_EQ(r.remnantBins, 1u);
    bool remnantChild = false;
    for (const RecoveredKey &k : r.keys)
        if (k.origin == Origin::RemnantBin && k.name == "Child")
            remnantChild = k.offset >= 4096 + declared;
    EXPECT_TRUE(remnantChild);
}

// Cells made to mislead: each case changes the deleted fixture and the pass
// must end, bounded, with the deleted key still reported where it can be.
TEST(Recovery, CraftedCellsNeitherCrashNorHang)
{
    struct Case {
        const char *what;
        void (*craft)(Fixture &);
        bool childFound;
    };
    const Case cases[] = {
        {"parent chain loops on itself", [](Fixture &f) { wr32(f.image.data() + f.child + 4 + 0x10, f.child - 4096); },
         true},
        {"two keys each other's parent",
         [](Fixture &f) {
             wr32(f.image.data() + f.child + 4 + 0x10, f.run - 4096);
             wr32(f.image.data() + f.run + 4 + 0x10, f.child - 4096);
         },
         true},
        {"value list longer than its cell", [](Fixture &f) { wr32(f.image.data() + f.child + 4 + 0x24, 0xFFFFFFFF); },
         true},
        {"name longer than the cell", [](Fixture &f) { wr16(f.image.data() + f.child + 4 + 0x48, 0xFFFF); }, true},
        {"cell size pointing outside the bin", [](Fixture &f) { wr32(f.image.data() + f.child, 0x7FFFFFF8); }, true},
        {"value data far outside the file",
         [](Fixture &f) {
             for (const RecoveredValue &v : f.childValues) {
                 wr32(f.image.data() + v.offset + 4 + 4, 0x7FFFFFFF);
                 wr32(f.image.data() + v.offset + 4 + 8, 0x7FFFFFF0);
             }
         },
         true},
        {"bins declared beyond the file", [](Fixture &f) { wr32(f.image.data() + 0x28, 0xFFFFF000); }, true},
        {"bin size zero", [](Fixture &f) { wr32(f.image.data() + 4096 + 8, 0); }, true},
        {"file cut inside the first bin", [](Fixture &f) { f.image.resize(4096 + 100); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.deleteItems();
        c.craft(f);
        const RecoveryResult r = f.recover();
        for (const RecoveredKey &k : r.keys)
            EXPECT_LE(k.path.size(), 512u * (255 + 1));
        for (const RecoveredValue &v : r.values)
            EXPECT_LE(v.data.size(), f.image.size());
        const int32_t ci = r.keyAt(f.child);
        EXPECT_EQ(ci >= 0 && r.keys[ci].deleted(), c.childFound);
    }
}

TEST(Recovery, RandomDamageIsBounded)
{
    Fixture f;
    f.deleteItems();
    std::mt19937 rng(31);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> img = f.image;
        for (int i = 0; i < 40; ++i)
            img[4096 + rng() % (img.size() - 4096)] = static_cast<uint8_t>(rng());
        RecoveryResult r;
        std::string error;
        ASSERT_TRUE(recoverHive(img, r, error));
        size_t data = 0;
        for (const RecoveredValue &v : r.values)
            data += v.data.size();
        EXPECT_LE(data, 2 * img.size() + (1u << 20));
    }
}

TEST(Recovery, NotAHiveIsAnError)
{
    RecoveryResult r;
    std::string error;
    const std::vector<uint8_t> junk(8192, 'x');
    EXPECT_FALSE(recoverHive(junk, r, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(recoverHiveFile("/nonexistent/hive", r, error));
    EXPECT_FALSE(recoverHiveFile(std::filesystem::temp_directory_path().string(), r, error));
}

// ---- the recover verb ---------------------------------------------------------

namespace
{

std::string sha256(const std::filesystem::path &p)
{
    QFile file(QString::fromStdString(p.string()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&file);
    return h.result().toHex().toStdString();
}

int runCli(const std::string &args, std::string &out)
{
    const std::string command = std::string(VT_CLI_PATH) + " recover " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buf[4096];
    out.clear();
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("vt-recover-" + std::to_string(std::random_device{}()) + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace

#ifdef VT_CLI_PATH
TEST(RecoverVerb, ListsExportsAndNeverChangesTheHive)
{
    TempDir dir;
    Fixture f;
    f.deleteItems();
    const auto hive = dir.path / "USERHIVE";
    {
        std::ofstream out(hive, std::ios::binary);
        out.write(reinterpret_cast<const char *>(f.image.data()), static_cast<std::streamsize>(f.image.size()));
    }
    const std::string before = sha256(hive);
    ASSERT_FALSE(before.empty());
    struct Case {
        std::string args;
        int exitCode;
        std::vector<std::string> expected;
    };
    const std::string reg = (dir.path / "out.reg").string();
    const Case cases[] = {
        {"",
         0,
         {"USERHIVE\\Run\\Child    [deleted key at 0x", "    v1    REG_DWORD    0x7",
          "gone    REG_SZ    C:\\evil.exe"}},
        {"/k", 0, {"USERHIVE\\Run\\Child", "1 deleted item(s) found."}},
        {"/v", 0, {"3 deleted item(s) found."}},
        {"/csv", 0, {"kind,offset,cell_size,origin,path,name,last_write,type", "key,0x", ",Child,2019-04-17 18:40:00"}},
        {"/reg " + reg, 0, {"4 deleted item(s) found."}},
        {"/reg " + hive.string(), 1, {"would replace the hive file itself"}},
        {"/x", 1, {"Invalid syntax"}},
        {"", 1, {}}, // the hive named twice below
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        std::string out;
        const std::string args =
            c.args == "" && c.exitCode == 1 ? hive.string() + " " + hive.string() : hive.string() + " " + c.args;
        EXPECT_EQ(runCli(args, out), c.exitCode) << out.substr(0, 1500);
        for (const std::string &e : c.expected)
            EXPECT_NE(out.find(e), std::string::npos) << e << "\n" << out.substr(0, 1500);
        EXPECT_EQ(sha256(hive), before);
    }
    // The registry file: version 5, UTF-16LE with its byte order mark.
    std::ifstream in(reg, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0xFE);
    std::string narrow;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        narrow += bytes[i];
    EXPECT_NE(narrow.find("[HKEY_CURRENT_USER\\USERHIVE\\Run\\Child]\r\n\"v1\"=dword:00000007"), std::string::npos)
        << narrow;
    EXPECT_NE(narrow.find("\"gone\"=\"C:\\\\evil.exe\""), std::string::npos);
}

TEST(RecoverVerb, ExitCodesForNothingFoundAndErrors)
{
    TempDir dir;
    Fixture f; // nothing deleted
    const auto clean = dir.path / "clean";
    {
        std::ofstream out(clean, std::ios::binary);
        out.write(reinterpret_cast<const char *>(f.image.data()), static_cast<std::streamsize>(f.image.size()));
    }
    const auto text = dir.path / "text";
    std::ofstream(text) << "not a hive\n";
    std::string out;
    EXPECT_EQ(runCli(clean.string(), out), 2) << out;
    EXPECT_EQ(runCli(text.string(), out), 1) << out;
    EXPECT_NE(out.find("not a registry hive"), std::string::npos) << out;
    EXPECT_EQ(runCli(dir.path.string(), out), 1) << out;
    EXPECT_EQ(runCli((dir.path / "missing").string(), out), 1) << out;
}

TEST(RecoverVerb, TestDataHivesStayByteIdentical)
{
    VT_SKIP_WITHOUT_TESTDATA();
    TempDir dir;
    const auto hive = vt::test::testdataDir() / "hives" / "damaged" / "yarp" / "DeletedDataHive";
    const std::string before = sha256(hive);
    std::string out;
    for (const std::string &args :
         std::vector<std::string>{"", " /csv", " /k /v /reg " + (dir.path / "d.reg").string()}) {
        EXPECT_EQ(runCli(hive.string() + args, out), 0) << out;
        EXPECT_EQ(sha256(hive), before);
    }
    EXPECT_EQ(before, "656b0ede6e59b75470d6c2b461a1b747aa6b7d6bf8146392c70dde68c704c3a4");
}
#endif
