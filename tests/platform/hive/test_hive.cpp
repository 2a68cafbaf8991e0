#include "HiveTestSupport.h"

#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace vt::hive;
using namespace vt::hive::test;
namespace fs = std::filesystem;

namespace
{

uint32_t rd32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint16_t rd16(const std::vector<uint8_t> &b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

std::vector<fs::path> hivesUnder(std::initializer_list<const char *> dirs)
{
    std::vector<fs::path> out;
    for (const char *d : dirs) {
        const fs::path root = testdata() / "hives" / d;
        if (!fs::exists(root))
            continue;
        for (const auto &e : fs::recursive_directory_iterator(root)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name.find(".LOG") == std::string::npos)
                out.push_back(e.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string caseName(const fs::path &p)
{
    std::string s = p.parent_path().filename().string() + "_" + p.filename().string();
    for (char &c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return s;
}

Key *addKey(Key &parent, const std::string &name)
{
    auto k = std::make_unique<Key>();
    k->name = name;
    k->upperName = upperName(name);
    k->nameCompressed = regf::fitsLatin1(regf::toUtf16(name)); // what the writer will store
    k->parent = &parent;
    k->lastWriteTime = 0x01D2950581234567ull + parent.subkeys.size();
    k->security = parent.security;
    parent.subkeys.push_back(std::move(k));
    return parent.subkeys.back().get();
}

void sortTree(Key &k)
{
    std::sort(k.subkeys.begin(), k.subkeys.end(), [](auto &a, auto &b) { return a->upperName < b->upperName; });
    for (auto &c : k.subkeys)
        sortTree(*c);
}

Hive newHive()
{
    Hive h;
    h.root = std::make_unique<Key>();
    h.root->name = "ROOT";
    h.root->upperName = "ROOT";
    h.root->flags = 0x0C;
    h.root->lastWriteTime = 0x01D2950500000000ull;
    h.root->security = std::make_shared<const SecurityDescriptor>(
        SecurityDescriptor{1, 0, 4, 0x80, 0x14, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // header, owner, group
                           1, 1, 0, 0,    0,    0, 0, 5, 0x12, 0, 0, 0,                         // owner S-1-5-18
                           1, 1, 0, 0,    0,    0, 0, 5, 0x12, 0, 0, 0});                       // group S-1-5-18
    return h;
}

// Structural checks a strict reader makes: checksum, bins, cell tiling and
// alignment, sk reference counts and the sk ring.
std::string checkImage(const std::vector<uint8_t> &b)
{
    if (b.size() < 8192 || std::memcmp(b.data(), "regf", 4) != 0)
        return "no base block";
    uint32_t sum = 0;
    for (size_t i = 0; i < 508; i += 4)
        sum ^= rd32(b, i);
    if (sum != rd32(b, 508))
        return "checksum";
    if (rd32(b, 4) != rd32(b, 8))
        return "written hive is dirty";
    const uint32_t binsSize = rd32(b, 40);
    if (binsSize % 4096 || binsSize + 4096 != b.size())
        return "bins size";
    std::set<uint32_t> cellStarts;
    for (size_t bin = 0; bin < binsSize;) {
        const size_t at = 4096 + bin;
        if (std::memcmp(&b[at], "hbin", 4) != 0 || rd32(b, at + 4) != bin)
            return "hbin header at " + std::to_string(bin);
        const uint32_t size = rd32(b, at + 8);
        if (size % 4096 || size == 0 || bin + size > binsSize)
            return "hbin size";
        for (size_t c = bin + 32; c < bin + size;) {
            const auto raw = static_cast<int32_t>(rd32(b, 4096 + c));
            const uint32_t len = raw < 0 ? static_cast<uint32_t>(-raw) : static_cast<uint32_t>(raw);
            if (len < 8 || len % 8 || c + len > bin + size)
                return "cell at " + std::to_string(c);
            if (raw < 0)
                cellStarts.insert(static_cast<uint32_t>(c));
            c += len;
        }
        bin += size;
    }
    auto cell = [&](uint32_t off, const char *sig) -> size_t {
        if (!cellStarts.count(off) || std::memcmp(&b[4096 + off + 4], sig, 2) != 0)
            return 0;
        return 4096 + off + 4;
    };
    // Walk the key tree, counting references to each sk cell.
    std::map<uint32_t, uint32_t> skRefs;
    std::vector<std::pair<uint32_t, uint32_t>> todo{{rd32(b, 36), 0xFFFFFFFF}};
    while (!todo.empty()) {
        const auto [off, parent] = todo.back();
        todo.pop_back();
        const size_t nk = cell(off, "nk");
        if (!nk)
            return "nk expected at " + std::to_string(off);
        if (parent != 0xFFFFFFFF && rd32(b, nk + 16) != parent)
            return "parent link of " + std::to_string(off);
        ++skRefs[rd32(b, nk + 44)];
        const uint32_t count = rd32(b, nk + 20);
        if (count == 0)
            continue;
        std::vector<uint32_t> leaves{rd32(b, nk + 28)};
        if (size_t ri = cell(leaves[0], "ri")) {
            leaves.clear();
            for (uint32_t i = 0; i < rd16(b, ri + 2); ++i)
                leaves.push_back(rd32(b, ri + 4 + 4 * i));
        }
        uint32_t seen = 0;
        for (uint32_t leafOff : leaves) {
            const size_t lh = cell(leafOff, "lh") ? cell(leafOff, "lh") : cell(leafOff, "lf");
            if (!lh)
                return "lh or lf expected at " + std::to_string(leafOff);
            for (uint32_t i = 0; i < rd16(b, lh + 2); ++i, ++seen)
                todo.push_back({rd32(b, lh + 4 + 8 * i), off});
        }
        if (seen != count)
            return "subkey count of " + std::to_string(off);
    }
    // The sk cells form one ring whose reference counts match the keys.
    size_t ring = 0;
    for (uint32_t sk = skRefs.begin()->first;;) {
        const size_t p = cell(sk, "sk");
        if (!p || !skRefs.count(sk))
            return "sk ring reaches " + std::to_string(sk);
        if (rd32(b, p + 12) != skRefs[sk])
            return "sk reference count";
        const uint32_t next = rd32(b, p + 4);
        const size_t q = cell(next, "sk");
        if (!q || rd32(b, q + 8) != sk)
            return "sk back link";
        ++ring;
        if ((sk = next) == skRefs.begin()->first)
            break;
        if (ring > skRefs.size())
            return "sk ring too long";
    }
    if (ring != skRefs.size())
        return "sk cells outside the ring";
    return "";
}

bool isAscii(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c > 0 && static_cast<unsigned char>(c) < 0x80; });
}

// The name as reglookup prints it: ASCII text up to a NUL, else the raw stored bytes.
std::string reglookupName(const Key &k)
{
    const std::string raw = storedName(k.name, k.nameCompressed);
    bool ascii = true;
    for (char32_t c : k.name)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return k.name.substr(0, k.name.find('\0'));
    return k.nameCompressed ? raw.substr(0, raw.find('\0')) : raw;
}

void expectKeysMatch(const Key &k, const std::string &path, const std::map<std::string, std::string> &peer,
                     int &mismatches)
{
    auto it = peer.find(path);
    const bool classComparable = isAscii(k.className) || k.className.empty();
    const std::string expected = filetimeText(k.lastWriteTime) + "|" + (classComparable ? k.className : "");
    if (it == peer.end()) {
        if (++mismatches < 5)
            ADD_FAILURE() << "reglookup does not list " << path;
    } else if (classComparable ? it->second != expected : it->second.substr(0, 19) != expected.substr(0, 19)) {
        if (++mismatches < 5)
            ADD_FAILURE() << path << ": ours " << expected << ", reglookup " << it->second;
    }
    for (const auto &c : k.subkeys)
        expectKeysMatch(*c, (path == "/" ? path : path + "/") + reglookupName(*c), peer, mismatches);
}

std::string sortedLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (auto &l : lines)
        out += l + "\n";
    return out;
}

// regfexport prints one block per key in stored order; compare as a set of blocks.
std::string sortedBlocks(const std::string &text)
{
    std::vector<std::string> blocks;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\n\n", start);
        if (end == std::string::npos)
            end = text.size();
        blocks.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    std::sort(blocks.begin(), blocks.end());
    std::string out;
    for (auto &b : blocks)
        out += b + "\n\n";
    return out;
}

// ---------------------------------------------------------------------------

// Without the corpus the suite holds one case that skips.
class PeerHive : public ::testing::TestWithParam<fs::path>
{
protected:
    void SetUp() override
    {
        if (GetParam().empty())
            GTEST_SKIP() << vt::test::testdataAbsentMessage();
    }
};

TEST_P(PeerHive, LoadsLikeThePeersReadIt)
{
    const fs::path file = GetParam();
    Hive hive;
    bool recovered = false;
    ASSERT_EQ(loadHiveFile(file.string(), hive, &recovered), ERROR_SUCCESS) << file;

    auto [rlRc, rlOut] = run("reglookup -H -t KEY -s " + quote(file.string()) + " 2>/dev/null");
    ASSERT_NE(rlRc, 127) << "reglookup is missing: run scripts/setup";
    size_t lines = 0;
    const auto peerKeys = reglookupKeys(rlOut, lines);
    EXPECT_EQ(lines, countKeys(*hive.root));
    int mismatches = 0;
    expectKeysMatch(*hive.root, "/", peerKeys, mismatches);
    EXPECT_EQ(mismatches, 0);

    auto [hxRc, hxOut] = run("hivexregedit --export " + quote(file.string()) + " '\\' 2>/dev/null");
    ASSERT_NE(hxRc, 127) << "hivexregedit is missing: run scripts/setup";
    if (hxRc == 0) { // hivex refuses some valid hives (differencing hives, for one)
        const PeerExport theirs = parseHivexExport(hxOut);
        const PeerExport ours = exportLikeHivex(*hive.root);
        EXPECT_EQ(ours.size(), theirs.size());
        int shown = 0;
        for (const auto &[path, values] : theirs) {
            auto it = ours.find(path);
            if (it == ours.end()) {
                EXPECT_LT(++shown, 5) << "missing key " << path;
            } else if (it->second != values) {
                EXPECT_LT(++shown, 5) << "values differ under " << path;
            }
        }
    }
}

TEST_P(PeerHive, RoundTripKeepsTheTree)
{
    const fs::path file = GetParam();
    Hive hive;
    ASSERT_EQ(loadHiveFile(file.string(), hive), ERROR_SUCCESS);
    const std::vector<uint8_t> image = writeHive(hive);
    EXPECT_EQ(checkImage(image), "");
    Hive again;
    bool recovered = true;
    ASSERT_EQ(readHive(image, again, &recovered), ERROR_SUCCESS);
    EXPECT_FALSE(recovered);
    EXPECT_EQ(treeDiff(*hive.root, *again.root), "");
    EXPECT_EQ(again.minorVersion, hive.minorVersion);
    EXPECT_EQ(again.headerTimestamp, hive.headerTimestamp);
}

TEST_P(PeerHive, PeersReadTheRewrittenHiveAsTheOriginal)
{
    const fs::path file = GetParam();
    TempDir tmp;
    Hive hive;
    ASSERT_EQ(loadHiveFile(file.string(), hive), ERROR_SUCCESS);
    const fs::path written = tmp.path / "written";
    ASSERT_EQ(saveHiveFile(written.string(), hive), ERROR_SUCCESS);
    // hivex and regfexport take seconds on the big hives; reglookup covers those.
    std::vector<std::string> tools{"reglookup -H -s"};
    if (fs::file_size(file) <= (1u << 20))
        tools.insert(tools.end(), {"hivexregedit --export", "regfexport"});

    for (const std::string &tool : tools) {
        const std::string suffix = tool.rfind("hivex", 0) == 0 ? " '\\' 2>/dev/null" : " 2>/dev/null";
        auto [rcA, a] = run(tool + " " + quote(file.string()) + suffix);
        auto [rcB, b] = run(tool + " " + quote(written.string()) + suffix);
        ASSERT_NE(rcB, 127) << tool << " is missing: run scripts/setup";
        if (rcA != 0)
            continue; // the peer refuses the original too (hivex and tombstone values)
        EXPECT_EQ(rcB, 0) << tool << " refuses the written hive";
        if (tool.rfind("reglookup", 0) == 0)
            EXPECT_TRUE(sortedLines(a) == sortedLines(b)) << tool;
        else if (tool.rfind("hivex", 0) == 0)
            EXPECT_TRUE(parseHivexExport(a) == parseHivexExport(b)) << tool;
        else
            EXPECT_TRUE(sortedBlocks(a) == sortedBlocks(b)) << tool;
    }
}

std::vector<fs::path> peerHives()
{
    std::vector<fs::path> hives = hivesUnder({"real", "odd"});
    if (hives.empty())
        hives.emplace_back();
    return hives;
}

INSTANTIATE_TEST_SUITE_P(Testdata, PeerHive, ::testing::ValuesIn(peerHives()), [](const auto &info) {
    return info.param.empty() ? std::string("CorpusAbsent") : caseName(info.param);
});

} // namespace

// ---------------------------------------------------------------------------
// Synthetic hives through the writer.

namespace
{

std::vector<uint8_t> bytesOf(std::initializer_list<int> v)
{
    return std::vector<uint8_t>(v.begin(), v.end());
}

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> d(n);
    for (size_t i = 0; i < n; ++i)
        d[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return d;
}

// Every value type, the big-data boundary, awkward names and classes.
Hive edgeCaseHive(bool loneSurrogate = true)
{
    Hive h = newHive();
    h.fileName = "\\??\\C:\\Users\\someone\\AppData\\ntuser.dat";
    Key &root = *h.root;
    Key *types = addKey(root, "Types");
    types->className = "TypesClass";
    types->values.push_back({"", 1, bytesOf({'d', 0, 0, 0}), true});
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> typed = {
        {0, {}},
        {1, bytesOf({'a', 0, 0, 0})},
        {2, bytesOf({'%', 0, 'x', 0, '%', 0, 0, 0})},
        {3, pattern(5)},
        {4, bytesOf({1, 2, 3, 4})},
        {4, bytesOf({1, 2, 3})},
        {5, bytesOf({0, 0, 1, 0})},
        {6, bytesOf({'\\', 0, 'R', 0})},
        {7, bytesOf({'a', 0, 0, 0, 0, 0})},
        {8, pattern(40)},
        {9, pattern(41)},
        {10, pattern(3)},
        {11, pattern(8)},
        {0xFFFF0007u, pattern(2)},
        {3, pattern(16344)},
        {3, pattern(16345)},
        {3, pattern(1 << 20)},
    };
    for (size_t i = 0; i < typed.size(); ++i)
        types->values.push_back({"v" + std::to_string(i), typed[i].first, typed[i].second, true});
    types->userFlags = 0x5;
    types->virtControlFlags = 0x3;
    types->accessBits = 0x8002; // layered-key semantics of a differencing hive

    const std::vector<std::pair<std::string, bool>> names = {
        {"Latin1 \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", true}, // stored compressed
        {"\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", true},        // Cyrillic: needs UTF-16
        {"emoji \xF0\x9F\x98\x80", true},                  // a surrogate pair
        {"lone \xED\xA0\x80 surrogate", true},             // unpaired high surrogate (WTF-8)
        {std::string("nul\0inside", 10), true},
        {"cr\rlf\n", true},
        {"utf16 ascii", false}, // ASCII stored as UTF-16
        {"\xEF\xBC\xA1 fullwidth", true},
    };
    Key *odd = addKey(root, "Odd names");
    odd->className = "\xD0\x9A\xD0\xBB\xD0\xB0\xD1\x81\xD1\x81"; // non-ASCII class
    for (const auto &[n, comp] : names) {
        if (!loneSurrogate && n.find('\xED') != std::string::npos)
            continue;
        Key *k = addKey(*odd, n);
        k->nameCompressed = comp && n.find('\xD0') == std::string::npos && n.find('\xF0') == std::string::npos &&
                            n.find('\xED') == std::string::npos && n.find('\xEF') == std::string::npos;
        if (!comp)
            k->nameCompressed = false;
        k->values.push_back({n, 1, bytesOf({'x', 0, 0, 0}), k->nameCompressed});
    }
    // Security descriptors: one shared by many keys, one of its own.
    Key *secured = addKey(root, "Secured");
    auto own = std::make_shared<const SecurityDescriptor>(*root.security);
    auto other = std::make_shared<SecurityDescriptor>(*root.security);
    (*other)[28] = 0x20; // owner S-1-5-32
    secured->security = other;
    addKey(*secured, "Inherits")->security = own; // same bytes as the root's: shares its cell
    if (loneSurrogate)                            // the peers would show an empty key name as its parent's path
        addKey(*odd, "")->values.push_back({"", 0, {}, true});
    Key *vol = addKey(root, "Volatile");
    vol->isVolatile = true;
    sortTree(root);
    return h;
}

std::unique_ptr<Key> withoutVolatile(const Key &k, Key *parent)
{
    auto c = std::make_unique<Key>();
    c->name = k.name;
    c->upperName = k.upperName;
    c->className = k.className;
    c->lastWriteTime = k.lastWriteTime;
    c->security = k.security;
    c->flags = k.flags;
    c->userFlags = k.userFlags;
    c->virtControlFlags = k.virtControlFlags;
    c->accessBits = k.accessBits;
    c->nameCompressed = k.nameCompressed;
    c->parent = parent;
    c->values = k.values;
    for (const auto &s : k.subkeys)
        if (!s->isVolatile)
            c->subkeys.push_back(withoutVolatile(*s, c.get()));
    return c;
}

TEST(HiveWriter, EdgeCasesSurviveAndPeersReadThem)
{
    const Hive h = edgeCaseHive();
    const std::vector<uint8_t> image = writeHive(h);
    ASSERT_EQ(checkImage(image), "");

    Hive back;
    bool recovered = true;
    ASSERT_EQ(readHive(image, back, &recovered), ERROR_SUCCESS);
    EXPECT_FALSE(recovered);
    EXPECT_EQ(treeDiff(*withoutVolatile(*h.root, nullptr), *back.root), "");
    // Equal descriptors share one sk cell, which reads back as one shared object.
    const Key *secured = back.root->findSubkey("SECURED");
    ASSERT_TRUE(secured && secured->subkeys.size() == 1);
    EXPECT_EQ(secured->subkeys[0]->security.get(), back.root->security.get());
    EXPECT_NE(secured->security.get(), back.root->security.get());
    EXPECT_EQ(back.fileName, "sers\\someone\\AppData\\ntuser.dat") << "the last 31 characters, as Windows keeps them";

    // The megabyte value is stored as big data: a db cell with 65 segments.
    bool sawDb = false;
    for (size_t at = 4096 + 32; at + 12 < image.size(); at += 8)
        sawDb = sawDb || (image[at + 4] == 'd' && image[at + 5] == 'b' && rd16(image, at + 6) == 65);
    EXPECT_TRUE(sawDb);

    // hivex cannot name a key holding an unpaired surrogate; the peers get the rest.
    const Hive forPeers = edgeCaseHive(false);
    ASSERT_EQ(readHive(writeHive(forPeers), back), ERROR_SUCCESS);
    TempDir tmp;
    const fs::path file = tmp.path / "edge.hiv";
    ASSERT_EQ(saveHiveFile(file.string(), forPeers), ERROR_SUCCESS);
    auto [rlRc, rlOut] = run("reglookup -H -t KEY -s " + quote(file.string()) + " 2>/dev/null");
    ASSERT_EQ(rlRc, 0);
    size_t lines = 0;
    const auto keys = reglookupKeys(rlOut, lines);
    EXPECT_EQ(lines, countKeys(*back.root));
    int mismatches = 0;
    expectKeysMatch(*back.root, "/", keys, mismatches);
    EXPECT_EQ(mismatches, 0);

    auto [hxRc, hxOut] = run("hivexregedit --export " + quote(file.string()) + " '\\' 2>/dev/null");
    ASSERT_EQ(hxRc, 0);
    const PeerExport theirs = parseHivexExport(hxOut);
    const PeerExport ours = exportLikeHivex(*back.root);
    EXPECT_EQ(theirs.size(), ours.size());
    EXPECT_TRUE(theirs == ours) << "names, value types and data, big data included";

    auto [rfRc, rfOut] = run("regfexport " + quote(file.string()) + " 2>/dev/null");
    EXPECT_EQ(rfRc, 0);
    EXPECT_NE(rfOut.find("Data size: 1048576"), std::string::npos);
}

TEST(HiveWriter, HundredThousandSubkeysUseAnIndexRoot)
{
    Hive h = newHive();
    for (int i = 0; i < 100000; ++i)
        addKey(*h.root, "Key" + std::to_string((i * 7919) % 100000));
    sortTree(*h.root);
    const std::vector<uint8_t> image = writeHive(h);
    ASSERT_EQ(checkImage(image), "");
    const uint32_t rootCell = 4096 + rd32(image, 36);
    const uint32_t list = 4096 + rd32(image, rootCell + 4 + 28);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&image[list + 4]), 2), "ri");
    for (uint16_t i = 0; i < rd16(image, list + 6); ++i)
        EXPECT_LE(rd16(image, 4096 + rd32(image, list + 8 + 4 * i) + 6), 1012);

    Hive back;
    ASSERT_EQ(readHive(image, back), ERROR_SUCCESS);
    EXPECT_EQ(treeDiff(*h.root, *back.root), "");

    TempDir tmp;
    writeBytes(tmp.path / "many", image);
    auto [rc, out] = run("reglookup -H -t KEY " + quote((tmp.path / "many").string()) + " | wc -l");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::stoul(out), 100001u);
}

TEST(HiveWriter, ListsFollowWindowsOrderAndLeafKind)
{
    // U+FF21 sorts after a surrogate pair in UTF-16 but before it in UTF-8.
    struct Case {
        uint32_t minor;
        char kind;
        std::vector<uint32_t> tags; // hash of the upper-case name, or its first four bytes
    };
    const Case cases[] = {
        {5, 'h', {'B', '_', 0xD83Du * 37 + 0xDE00u, 0xFF21u * 37 + 'X'}},
        {6, 'h', {'B', '_', 0xD83Du * 37 + 0xDE00u, 0xFF21u * 37 + 'X'}},
        {3, 'f', {'B', '_', 0, 'X' << 8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.minor);
        Hive h = newHive();
        h.minorVersion = c.minor;
        for (const char *n : {"\xEF\xBC\xA1x", "\xF0\x9F\x98\x80", "_", "b"})
            addKey(*h.root, n);
        sortTree(*h.root);
        const std::vector<uint8_t> image = writeHive(h);
        EXPECT_EQ(rd32(image, 24), c.minor);
        const uint32_t rootCell = 4096 + rd32(image, 36);
        const uint32_t list = 4096 + rd32(image, rootCell + 4 + 28);
        EXPECT_EQ(image[list + 4], 'l');
        EXPECT_EQ(image[list + 5], c.kind);
        std::vector<uint32_t> tags;
        for (int i = 0; i < 4; ++i)
            tags.push_back(rd32(image, list + 12 + 8 * i));
        EXPECT_EQ(tags, c.tags);
        Hive back;
        ASSERT_EQ(readHive(image, back), ERROR_SUCCESS);
        EXPECT_EQ(treeDiff(*h.root, *back.root), "");
    }
}

// ---------------------------------------------------------------------------
// Damage: refuse or recover, never crash.

bool treeIsSound(const Key &k)
{
    for (size_t i = 0; i < k.subkeys.size(); ++i) {
        if (k.subkeys[i]->parent != &k || (i && !(k.subkeys[i - 1]->upperName < k.subkeys[i]->upperName)))
            return false;
        if (!treeIsSound(*k.subkeys[i]))
            return false;
    }
    return true;
}

TEST(HiveReader, DamagedAndForeignFilesAreRefusedOrRecovered)
{
    VT_SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char *file;
        LONG rc;
        bool recovered;
    };
    const Case cases[] = {
        {"notregf/dfwinreg/SYSTEM.DAT", ERROR_NOT_REGISTRY_FILE, false},
        {"notregf/dfwinreg/USER.DAT", ERROR_NOT_REGISTRY_FILE, false},
        {"damaged/yarp/GarbageHive", ERROR_BADDB, false}, // base block checksum
        {"damaged/yarp/TruncatedHive", ERROR_SUCCESS, true},
        {"damaged/yarp/BadListHive", ERROR_SUCCESS, true},
        {"damaged/yarp/DuplicateSubkeysHive", ERROR_SUCCESS, true},
        {"damaged/yarp/InvalidParentHive", ERROR_SUCCESS, true},
        {"damaged/yarp/WrongOrderHive", ERROR_SUCCESS, false}, // sorted on load, nothing lost
        {"damaged/yarp/TruncatedPairHive", ERROR_SUCCESS, false},
        {"damaged/yarp/DeletedDataHive", ERROR_SUCCESS, false},
        {"damaged/yarp/DeletedTreeHive", ERROR_SUCCESS, false},
        {"damaged/yarp/SlackHive", ERROR_SUCCESS, false},
        {"damaged/yarp/RemnantData", ERROR_SUCCESS, false},
        {"damaged/yarp/ReallocValueDataHive", ERROR_SUCCESS, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const auto bytes = readBytes(testdata() / "hives" / c.file);
        Hive h;
        bool recovered = false;
        EXPECT_EQ(readHive(bytes, h, &recovered), c.rc);
        if (c.rc == ERROR_SUCCESS) {
            EXPECT_EQ(recovered, c.recovered);
            EXPECT_TRUE(treeIsSound(*h.root));
        }
    }
    Hive h;
    EXPECT_EQ(readHive({}, h), ERROR_NOT_REGISTRY_FILE);
    EXPECT_EQ(loadHiveFile((testdata() / "hives" / "no such file").string(), h), ERROR_FILE_NOT_FOUND);
}

void fixChecksum(std::vector<uint8_t> &b)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < 508; i += 4)
        sum ^= rd32(b, i);
    sum = sum == 0xFFFFFFFF ? 0xFFFFFFFE : (sum == 0 ? 1 : sum);
    for (int i = 0; i < 4; ++i)
        b[508 + i] = static_cast<uint8_t>(sum >> (8 * i));
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(HiveReader, MutatedImagesNeverCrash)
{
    Hive h = edgeCaseHive();
    auto &subs = h.root->subkeys; // drop "Types": its megabyte would only slow the loop
    subs.erase(std::find_if(subs.begin(), subs.end(), [](auto &k) { return k->name == "Types"; }));
    const std::vector<uint8_t> clean = writeHive(h);
    std::mt19937 rng(12345);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> b = clean;
        const int edits = 1 + round % 8;
        for (int e = 0; e < edits; ++e) {
            const size_t at = 4096 + rng() % (b.size() - 4096);
            if (rng() % 2)
                b[at] = static_cast<uint8_t>(rng());
            else if (at + 4 <= b.size())
                put32(b, at, rng() % 3 ? rng() % static_cast<uint32_t>(b.size()) : rng());
        }
        if (round % 10 == 0)
            b.resize(4096 + rng() % (b.size() - 4096));
        fixChecksum(b);
        Hive out;
        bool recovered = false;
        const LONG rc = readHive(b, out, &recovered);
        EXPECT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_REGISTRY_CORRUPT || rc == ERROR_BADDB) << rc;
        if (rc == ERROR_SUCCESS) {
            ++accepted;
            ASSERT_TRUE(treeIsSound(*out.root));
        }
    }
    EXPECT_GT(accepted, 0);
}

TEST(HiveReader, LoopsDepthAndHugeCountsAreCut)
{
    // A subkey entry pointing back at the root.
    Hive h = newHive();
    addKey(*addKey(*h.root, "A"), "B");
    std::vector<uint8_t> b = writeHive(h);
    const uint32_t rootOff = rd32(b, 36);
    const uint32_t aOff = rd32(b, 4096 + rd32(b, 4096 + rootOff + 4 + 28) + 8);
    const uint32_t aList = 4096 + rd32(b, 4096 + aOff + 4 + 28);
    put32(b, aList + 8, rootOff);
    Hive out;
    bool recovered = false;
    ASSERT_EQ(readHive(b, out, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(countKeys(*out.root), 2u);

    // Nesting deeper than Windows allows is cut at its limit.
    Hive deep = newHive();
    Key *k = deep.root.get();
    for (int i = 0; i < 600; ++i)
        k = addKey(*k, "d");
    ASSERT_EQ(readHive(writeHive(deep), out, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(countKeys(*out.root), 512u);

    // A descriptor that is not one: the key takes its parent's.
    Hive two = newHive();
    addKey(*two.root, "child")->security = std::make_shared<const SecurityDescriptor>(
        SecurityDescriptor{1, 0, 4, 0x80, 0x14, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // owner at 20
                           1, 1, 0, 0,    0,    0, 0, 5, 0x20, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0});
    b = writeHive(two);
    const uint32_t childNk = 4096 + rd32(b, 4096 + rd32(b, 4096 + rd32(b, 36) + 4 + 28) + 8) + 4;
    const uint32_t childSk = 4096 + rd32(b, childNk + 44) + 4;
    ASSERT_EQ(readHive(b, out, &recovered), ERROR_SUCCESS);
    EXPECT_FALSE(recovered);
    EXPECT_NE(*out.root->subkeys[0]->security, *out.root->security);
    put32(b, childSk + 20 + 4, 0x1000); // owner offset beyond the descriptor
    ASSERT_EQ(readHive(b, out, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(out.root->subkeys[0]->security, out.root->security);

    // Counts far beyond what the cells hold.
    Hive vals = newHive();
    vals.root->values.push_back({"v", 3, pattern(100), true});
    b = writeHive(vals);
    const uint32_t nk = 4096 + rd32(b, 36) + 4;
    put32(b, nk + 36, 0xFFFFFFFF);
    put32(b, nk + 20, 0xFFFFFFFF);
    ASSERT_EQ(readHive(b, out, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    ASSERT_EQ(out.root->values.size(), 1u);
    const uint32_t vk = 4096 + rd32(b, 4096 + rd32(b, nk + 40) + 4) + 4;
    put32(b, vk + 4, 0x7FFFFFF0); // data length beyond the file
    ASSERT_EQ(readHive(b, out, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_TRUE(out.root->values.empty());
}

// ---------------------------------------------------------------------------
// Files: dirty hives and their logs, durable saving.

TEST(HiveFile, DirtyHivesReplayTheirLogsLikeWindows)
{
    VT_SKIP_WITHOUT_TESTDATA();
    const fs::path set = testdata() / "hives" / "dirty" / "yarp-NewDirtyHive1";
    Hive expected;
    ASSERT_EQ(readHive(readBytes(set / "RecoveredHive_Windows10"), expected), ERROR_SUCCESS);
    const auto before = readBytes(set / "NewDirtyHive.LOG1");

    Hive h;
    bool recovered = false;
    ASSERT_EQ(loadHiveFile((set / "NewDirtyHive").string(), h, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(treeDiff(*expected.root, *h.root), "");
    EXPECT_EQ(readBytes(set / "NewDirtyHive.LOG1"), before);
    RecoveryReport report;
    ASSERT_EQ(loadHiveFile((set / "NewDirtyHive").string(), h, report), ERROR_SUCCESS);
    EXPECT_TRUE(report.logsApplied);
    EXPECT_FALSE(report.logsUnusable);

    enum Tamper { None, FlipByte, HugeHive };
    struct Case {
        std::vector<const char *> files;
        Tamper tamper;
    };
    const Case cases[] = {
        {{"NewDirtyHive"}, None},                                               // no logs: used as it stands
        {{"NewDirtyHive", "NewDirtyHive.LOG1"}, None},                          // the later half is missing
        {{"NewDirtyHive", "NewDirtyHive.LOG1", "NewDirtyHive.LOG2"}, FlipByte}, // the hash stops replay
        // A well-formed entry claiming a 2 GB hive: refused, not allocated.
        {{"NewDirtyHive", "NewDirtyHive.LOG1", "NewDirtyHive.LOG2"}, HugeHive},
    };
    Hive primaryOnly;
    ASSERT_EQ(readHive(readBytes(set / "NewDirtyHive"), primaryOnly), ERROR_SUCCESS);
    for (const Case &c : cases) {
        TempDir tmp;
        for (const char *f : c.files)
            fs::copy_file(set / f, tmp.path / f);
        if (c.tamper != None) {
            auto log = readBytes(tmp.path / "NewDirtyHive.LOG1");
            if (c.tamper == FlipByte) {
                log[512 + 200] ^= 0x55;
            } else {
                put32(log, 512 + 16, 0x7FFFF000);
                const uint64_t h = regf::marvin32(std::span<const uint8_t>(log).subspan(512, 32));
                put32(log, 512 + 32, static_cast<uint32_t>(h));
                put32(log, 512 + 36, static_cast<uint32_t>(h >> 32));
            }
            writeBytes(tmp.path / "NewDirtyHive.LOG1", log);
        }
        Hive got;
        ASSERT_EQ(loadHiveFile((tmp.path / "NewDirtyHive").string(), got, &recovered), ERROR_SUCCESS);
        EXPECT_TRUE(recovered);
        EXPECT_NE(treeDiff(*expected.root, *got.root), "");
        EXPECT_TRUE(treeIsSound(*got.root));
        if (c.files.size() == 1 || c.tamper != None) {
            EXPECT_EQ(treeDiff(*primaryOnly.root, *got.root), "");
        }
    }

    // Logs whose base blocks fail their checksum are not applied, however
    // sound their entries are: the hive is used as it stands, and said so.
    TempDir tmp;
    fs::copy_file(set / "NewDirtyHive", tmp.path / "NewDirtyHive");
    for (const char *f : {"NewDirtyHive.LOG1", "NewDirtyHive.LOG2"}) {
        auto log = readBytes(set / f);
        log[508] ^= 0x01; // the base block's checksum field
        writeBytes(tmp.path / f, log);
    }
    Hive got;
    ASSERT_EQ(loadHiveFile((tmp.path / "NewDirtyHive").string(), got, report), ERROR_SUCCESS);
    EXPECT_EQ(treeDiff(*primaryOnly.root, *got.root), "");
    EXPECT_TRUE(report.recovered);
    EXPECT_FALSE(report.logsApplied);
    EXPECT_TRUE(report.logsUnusable);
}

// A hive cut back to its sound bins says how much was left out.
TEST(HiveFile, RecoveryReportsWhatWasDropped)
{
    Hive h = newHive();
    for (int i = 0; i < 3000; ++i) {
        Key *k = addKey(*h.root, "Key" + std::to_string(i));
        k->values.push_back({"v", 4, bytesOf({1, 2, 3, 4}), true});
    }
    const std::vector<uint8_t> image = writeHive(h);
    RecoveryReport report;
    Hive sound;
    ASSERT_EQ(readHive(image, sound, report), ERROR_SUCCESS);
    EXPECT_FALSE(report.recovered);
    EXPECT_EQ(report.keysDropped + report.valuesDropped, 0u);
    EXPECT_EQ(report.binBytesKept, report.binBytesDeclared);
    ASSERT_GT(image.size(), 4096u + 3 * 4096u) << "the fixture needs several bins";

    // The second bin's signature is broken: everything from there on is cut.
    std::vector<uint8_t> damaged = image;
    const size_t second = 4096 + rd32(image, 4096 + 8);
    ASSERT_EQ(std::memcmp(damaged.data() + second, "hbin", 4), 0);
    damaged[second] = 'x';
    Hive cut;
    ASSERT_EQ(readHive(damaged, cut, report), ERROR_SUCCESS);
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(report.binBytesDeclared, image.size() - 4096);
    EXPECT_EQ(report.binBytesKept, second - 4096);
    const size_t keptKeys = countKeys(*cut.root) - 1, keptValues = countValues(*cut.root);
    EXPECT_EQ(keptKeys + report.keysDropped, 3000u);
    EXPECT_LT(keptKeys, 3000u);
    EXPECT_LE(keptValues + report.valuesDropped, 3000u);
}

TEST(HiveFile, OtherLogSetsApplyOrFallBack)
{
    VT_SKIP_WITHOUT_TESTDATA();
    const fs::path dirty = testdata() / "hives" / "dirty";
    // A damaged base block is refused alone, and rebuilt from an old-format log.
    Hive h;
    EXPECT_EQ(readHive(readBytes(dirty / "yarp-BadBaseBlockHive" / "BadBaseBlockHive"), h), ERROR_BADDB);
    bool recovered = false;
    ASSERT_EQ(loadHiveFile((dirty / "yarp-BadBaseBlockHive" / "BadBaseBlockHive").string(), h, &recovered),
              ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(countKeys(*h.root), 5003u);

    // The same old-format log beside the intact primary of that hive gives the
    // same tree; a stale log (from an earlier write) is left alone.
    const Hive rebuilt = std::move(h);
    Hive primary;
    ASSERT_EQ(readHive(readBytes(dirty / "yarp-BadLogHive1" / "BadLogHive"), primary), ERROR_SUCCESS);
    for (const uint32_t logSeq : {5u, 3u}) {
        SCOPED_TRACE(logSeq);
        TempDir tmp;
        fs::copy_file(dirty / "yarp-BadLogHive1" / "BadLogHive", tmp.path / "BadLogHive");
        auto log = readBytes(dirty / "yarp-BadBaseBlockHive" / "BadBaseBlockHive.LOG1");
        put32(log, 4, logSeq);
        put32(log, 8, logSeq);
        fixChecksum(log);
        writeBytes(tmp.path / "BadLogHive.LOG1", log);
        Hive got;
        ASSERT_EQ(loadHiveFile((tmp.path / "BadLogHive").string(), got, &recovered), ERROR_SUCCESS);
        EXPECT_TRUE(recovered);
        EXPECT_EQ(treeDiff(*(logSeq == 5 ? rebuilt : primary).root, *got.root), "");
    }

    // Unusable logs leave the primary as it stands.
    ASSERT_EQ(readHive(readBytes(dirty / "yarp-BadLogHive1" / "BadLogHive"), primary), ERROR_SUCCESS);
    ASSERT_EQ(loadHiveFile((dirty / "yarp-BadLogHive1" / "BadLogHive").string(), h, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(treeDiff(*primary.root, *h.root), "");

    // A real new-format pair changes the tree, and the result writes out cleanly.
    ASSERT_EQ(readHive(readBytes(dirty / "regipy-NTUSER" / "NTUSER.DAT"), primary), ERROR_SUCCESS);
    ASSERT_EQ(loadHiveFile((dirty / "regipy-NTUSER" / "NTUSER.DAT").string(), h, &recovered), ERROR_SUCCESS);
    EXPECT_TRUE(recovered);
    EXPECT_NE(treeDiff(*primary.root, *h.root), "");
    EXPECT_TRUE(treeIsSound(*h.root));
    EXPECT_EQ(checkImage(writeHive(h)), "");
}

// Transaction logs as a newer system's writer keeps them: each flush appends
// an entry holding the changed 4 KiB pages to the current log, and now and
// then the writer moves to the other log. The images come from our writer.
namespace logs
{

// A hive that changes a little with each step: a few keys added, a value grown.
std::vector<uint8_t> state(int step)
{
    Hive h = newHive();
    for (int i = 0; i < 400; ++i) {
        Key *k = addKey(*h.root, "Key" + std::to_string(1000 + i));
        k->values.push_back({"v", 4, bytesOf({i & 0xFF, step, 0, 0}), true});
    }
    for (int i = 0; i < step; ++i)
        addKey(*h.root, "Step" + std::to_string(i))->values.push_back({"data", 3, pattern(500 * (i + 1)), true});
    sortTree(*h.root);
    return writeHive(h);
}

// One entry: every bins page of `after` that differs from `before` or lies beyond it.
std::vector<uint8_t> entry(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after, uint32_t seq)
{
    const uint32_t binsSize = rd32(after, 40);
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t off = 0; off < binsSize; off += 4096) {
        const size_t at = 4096 + size_t{off};
        if (at + 4096 <= before.size() && std::memcmp(&before[at], &after[at], 4096) == 0)
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == off)
            runs.back().second += 4096;
        else
            runs.push_back({off, 4096});
    }
    std::vector<uint8_t> e(40 + 8 * runs.size());
    std::memcpy(e.data(), "HvLE", 4);
    put32(e, 12, seq);
    put32(e, 16, binsSize);
    put32(e, 20, static_cast<uint32_t>(runs.size()));
    for (size_t i = 0; i < runs.size(); ++i) {
        put32(e, 40 + 8 * i, runs[i].first);
        put32(e, 44 + 8 * i, runs[i].second);
    }
    for (const auto &[off, len] : runs)
        e.insert(e.end(), after.begin() + 4096 + off, after.begin() + 4096 + off + len);
    e.resize((e.size() + 511) / 512 * 512, 0);
    put32(e, 4, static_cast<uint32_t>(e.size()));
    const uint64_t h1 = regf::marvin32(std::span<const uint8_t>(e).subspan(40));
    put32(e, 24, static_cast<uint32_t>(h1));
    put32(e, 28, static_cast<uint32_t>(h1 >> 32));
    const uint64_t h2 = regf::marvin32(std::span<const uint8_t>(e).subspan(0, 32));
    put32(e, 32, static_cast<uint32_t>(h2));
    put32(e, 36, static_cast<uint32_t>(h2 >> 32));
    return e;
}

// A log: the first sector of a base block carrying the log's own sequence
// number, then its entries.
std::vector<uint8_t> file(const std::vector<uint8_t> &base, uint32_t seq,
                          const std::vector<std::vector<uint8_t>> &entries)
{
    std::vector<uint8_t> log(base.begin(), base.begin() + 512);
    put32(log, 4, seq);
    put32(log, 8, seq);
    put32(log, 28, 6); // a new-format log
    fixChecksum(log);
    for (const auto &e : entries)
        log.insert(log.end(), e.begin(), e.end());
    return log;
}

} // namespace logs

TEST(HiveFile, RotatedLogsApplyFromThePrimarysSequenceNumber)
{
    std::vector<std::vector<uint8_t>> s;
    for (int i = 0; i <= 4; ++i)
        s.push_back(logs::state(i));
    std::vector<Hive> expected(5);
    for (int i = 0; i <= 4; ++i)
        ASSERT_EQ(readHive(s[i], expected[i]), ERROR_SUCCESS);
    auto step = [&](int to, uint32_t seq) { return logs::entry(s[to - 1], s[to], seq); };

    // The primary's base block as the last full write left it (seq 101/100),
    // over bins of state `binsOf`.
    auto primary = [&](int binsOf, uint32_t secondary) {
        std::vector<uint8_t> p(s[0].begin(), s[0].begin() + 4096);
        put32(p, 4, secondary + 1);
        put32(p, 8, secondary);
        fixChecksum(p);
        p.insert(p.end(), s[binsOf].begin() + 4096, s[binsOf].end());
        return p;
    };
    auto broken = [](std::vector<uint8_t> e) {
        e[e.size() - 100] ^= 0x5A; // the page data no longer matches the entry's hash
        return e;
    };
    struct Case {
        const char *what;
        std::vector<uint8_t> hive, log1, log2;
        int want;
    };
    const Case cases[] = {
        // Rotated twice: entries 100.. were overwritten once the primary took
        // their pages (a partial write that left its base block alone); the
        // first entry to apply is 101, in .LOG2, and .LOG1 goes on from 103.
        {"rotated twice", primary(2, 100), logs::file(s[0], 103, {step(3, 103), step(4, 104)}),
         logs::file(s[0], 101, {step(1, 101), step(2, 102)}), 4},
        // The usual case: .LOG1 then .LOG2, entry 100 first.
        {"in name order", primary(0, 100), logs::file(s[0], 100, {step(1, 100), step(2, 101)}),
         logs::file(s[0], 102, {step(3, 102), step(4, 103)}), 4},
        // Entries older than the primary's number are already in it.
        {"stale log", primary(2, 102), logs::file(s[0], 102, {step(3, 102), step(4, 103)}),
         logs::file(s[0], 99, {step(1, 99), step(2, 100)}), 4},
        // A bad hash ends the replay at the entry before it.
        {"bad hash", primary(2, 100), logs::file(s[0], 103, {step(3, 103), broken(step(4, 104))}),
         logs::file(s[0], 101, {step(1, 101), step(2, 102)}), 3},
        // A missing entry between the logs ends it too.
        {"gap", primary(2, 100), logs::file(s[0], 104, {step(4, 104)}),
         logs::file(s[0], 101, {step(1, 101), step(2, 102)}), 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        writeBytes(tmp.path / "hive", c.hive);
        writeBytes(tmp.path / "hive.LOG1", c.log1);
        writeBytes(tmp.path / "hive.LOG2", c.log2);
        Hive got;
        RecoveryReport report;
        ASSERT_EQ(loadHiveFile((tmp.path / "hive").string(), got, report), ERROR_SUCCESS);
        EXPECT_TRUE(report.logsApplied);
        EXPECT_EQ(treeDiff(*expected[c.want].root, *got.root), "");
        EXPECT_TRUE(treeIsSound(*got.root));

        // An independent reader sees the same tree in the hive written from it.
        ASSERT_EQ(saveHiveFile((tmp.path / "out").string(), got), ERROR_SUCCESS);
        auto [rc, text] = run("hivexregedit --export " + quote((tmp.path / "out").string()) + " '\\' 2>/dev/null");
        ASSERT_NE(rc, 127) << "hivexregedit is missing: run scripts/setup";
        EXPECT_EQ(rc, 0);
        EXPECT_TRUE(parseHivexExport(text) == exportLikeHivex(*expected[c.want].root));
    }
}

TEST(HiveFile, SaveIsAtomicAndKeepsTheMode)
{
    TempDir tmp;
    const fs::path file = tmp.path / "hive.dat";
    Hive h = edgeCaseHive();
    writeBytes(file, {'o', 'l', 'd'});
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(saveHiveFile(file.string(), h), ERROR_SUCCESS);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path), fs::directory_iterator()), 1) << "no temporary left";
    Hive back;
    ASSERT_EQ(loadHiveFile(file.string(), back), ERROR_SUCCESS);
    EXPECT_EQ(treeDiff(*withoutVolatile(*h.root, nullptr), *back.root), "");
    EXPECT_EQ(saveHiveFile((tmp.path / "missing" / "hive.dat").string(), h), ERROR_PATH_NOT_FOUND);
}

// A saved file is written as it is laid out, a few MiB at a time, with the
// fields that point forward filled in afterwards; it must be the very image
// the writer makes in memory, also where those fields lie far behind (a root
// with many subkeys, a big value whose segment list went out before its
// segments, the shared security cells).
TEST(HiveFile, SavedFileIsTheImageTheWriterMakes)
{
    Hive h = edgeCaseHive();
    Key *many = addKey(*h.root, "Many");
    for (int i = 0; i < 60000; ++i)
        addKey(*many, "Key" + std::to_string(i))->values.push_back({"v", 4, {1, 2, 3, 4}});
    sortTree(*h.root);
    Value big{"big", 3, std::vector<uint8_t>(size_t{6} << 20)};
    for (size_t i = 0; i < big.data.size(); ++i)
        big.data[i] = static_cast<uint8_t>(i * 31 + (i >> 16));
    h.root->values.push_back(std::move(big));
    const std::vector<uint8_t> image = writeHive(h);
    ASSERT_GT(image.size(), size_t{12} << 20);
    ASSERT_EQ(checkImage(image), "");

    TempDir tmp;
    const fs::path file = tmp.path / "big.dat";
    ASSERT_EQ(saveHiveFile(file.string(), h), ERROR_SUCCESS);
    EXPECT_TRUE(readBytes(file) == image);
}

} // namespace

// The subkey list splits into blocks when large and merges back when small;
// random inserts and erases across those sizes must keep it the sorted list a
// plain array would be, with indexing, iteration and search all agreeing.
TEST(HiveTree, SubkeyListMatchesASortedArrayThroughSplitsAndMerges)
{
    std::mt19937 rng(12);
    SubkeyList list;
    std::vector<std::string> model; // upper-cased names, sorted
    auto check = [&](const char *when) {
        ASSERT_EQ(list.size(), model.size()) << when;
        size_t i = 0;
        for (const auto &k : list) {
            ASSERT_EQ(k->upperName, model[i]) << when << " at " << i;
            ++i;
        }
        for (size_t j = 0; j < model.size(); j += 97)
            ASSERT_EQ(list[j]->upperName, model[j]) << when;
        for (const char *probe : {"", "K5", "K50000", "ZZZ"}) {
            const auto want = static_cast<size_t>(std::lower_bound(model.begin(), model.end(), probe) - model.begin());
            ASSERT_EQ(list.lowerBound(probe), want) << when << " " << probe;
        }
    };
    auto insert = [&](const std::string &upper) {
        auto k = std::make_unique<Key>();
        k->name = k->upperName = upper;
        const size_t at = list.lowerBound(upper);
        if (at < list.size() && list[at]->upperName == upper)
            return;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(k));
        model.insert(std::lower_bound(model.begin(), model.end(), upper), upper);
    };
    for (int i = 0; i < 5000; ++i)
        insert("K" + std::to_string(rng() % 100000));
    check("after random inserts");
    for (int i = 0; i < 4700; ++i) {
        const size_t at = rng() % model.size();
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(at));
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        if (i % 500 == 0)
            check("while erasing");
    }
    check("after erasing down to a flat list");
    for (int i = 0; i < 3000; ++i)
        insert("K" + std::to_string(rng() % 100000));
    list.erase(list.begin() + 10, list.begin() + 2010);
    model.erase(model.begin() + 10, model.begin() + 2010);
    check("after a range erase across blocks");
    EXPECT_EQ(list.lowerBound(model.back()), model.size() - 1);
}

// Values are found without regard to case (also beyond ASCII) whether the
// key's list is searched directly or through its index, and the index
// follows appends and erases while enumeration keeps creation order.
// Emptying a key from its end drops index entries one by one (no rebuild per
// value); every value left must still be found at its place, whatever probe
// runs the removed entries sat in, also after appends and middle erases.
TEST(HiveTree, ValueIndexSurvivesErasingFromTheEnd)
{
    Key k;
    const size_t count = 3000;
    for (size_t i = 0; i < count; ++i)
        k.appendValue({"v" + std::to_string(i), 4, {}, false});
    ASSERT_EQ(k.findValue("v0"), &k.values[0]); // the index is built
    auto checkAll = [&] {
        for (size_t i = 0; i < k.values.size(); ++i)
            ASSERT_EQ(k.findValue(k.values[i].name), &k.values[i]) << k.values[i].name;
    };
    std::mt19937 rng(7);
    size_t erased = 0;
    while (k.values.size() > 1) {
        const std::string name = k.values.back().name;
        ASSERT_TRUE(k.eraseValue(name));
        EXPECT_EQ(k.findValue(name), nullptr);
        ++erased;
        if (erased % 400 == 0) {
            k.appendValue({"late" + std::to_string(erased), 4, {}, false});
            ASSERT_TRUE(k.eraseValue(k.values[rng() % k.values.size()].name)); // from the middle
        }
        if (erased % 250 == 0)
            checkAll();
        else if (const Value &v = k.values[rng() % k.values.size()]; k.findValue(v.name) != &v)
            FAIL() << v.name << " lost after " << erased << " erases";
    }
    checkAll();
}

TEST(HiveTree, ValueLookupThroughTheIndexFollowsChanges)
{
    for (const size_t count : {size_t{5}, size_t{5000}}) {
        SCOPED_TRACE(count);
        Key k;
        for (size_t i = 0; i < count; ++i)
            k.appendValue({"Name" + std::to_string(i) + "\xC3\xA4", 4, {uint8_t(i)}, false});
        ASSERT_NE(k.findValue("NAME3\xC3\x84"), nullptr); // Ä finds ä
        EXPECT_EQ(k.findValue("name3\xC3\x84")->data[0], 3);
        EXPECT_EQ(k.findValue("Name3"), nullptr);
        EXPECT_TRUE(k.eraseValue("NAME1\xC3\xA4"));
        EXPECT_FALSE(k.eraseValue("NAME1\xC3\xA4"));
        EXPECT_EQ(k.findValue("name1\xC3\xA4"), nullptr);
        ASSERT_NE(k.findValue("name2\xC3\xA4"), nullptr);
        EXPECT_EQ(k.findValue("name2\xC3\xA4"), &k.values[1]);
        EXPECT_EQ(k.findValue("NAME" + std::to_string(count - 1) + "\xC3\x84"), &k.values.back());
        k.appendValue({"", 1, {}, true});
        EXPECT_EQ(k.findValue(""), &k.values.back());
        EXPECT_EQ(k.values[0].name, "Name0\xC3\xA4");
        // A list filled behind the index's back is still searched correctly.
        k.values.push_back({"Late", 4, {}, true});
        EXPECT_EQ(k.findValue("LATE"), &k.values.back());
        k.values.clear();
        k.valuesChanged();
        EXPECT_EQ(k.findValue("name2\xC3\xA4"), nullptr);
    }
}
