// Every key and value reglookup-recover carves out of a hive is found by the
// recovery pass at the same offset with the same name, type and data.
//
// reglookup-recover reuses the previous value's data buffer when a value's
// own data cell cannot be read (its extractDataCells keeps the buffer across
// iterations), so a row whose data equals the previous row's is compared
// with that row's data, and counted apart.
#include "recovery/HiveRecovery.h"
#include "recovery/RecoveryExport.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

using namespace vt::recovery;

namespace
{

std::string unquote(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() + 0 && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : line) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

const char *const kPeerTypes[] = {"NONE", "SZ",       "EXPAND_SZ", "BINARY",    "DWORD",         "DWORD_BE",
                                  "LINK", "MULTI_SZ", "RSRC_LIST", "RSRC_DESC", "RSRC_REQ_LIST", "QWORD"};

std::string peerTypeName(uint32_t type)
{
    if (type < std::size(kPeerTypes))
        return kPeerTypes[type];
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", type);
    return buf;
}

std::string utf16ToAscii(const std::vector<uint8_t> &d, bool stopAtNul, bool &ascii)
{
    std::string s;
    ascii = true;
    for (size_t i = 0; i + 1 < d.size(); i += 2) {
        const unsigned c = d[i] | d[i + 1] << 8;
        if (c == 0 && stopAtNul)
            break;
        if (c > 0x7F)
            ascii = false;
        s += static_cast<char>(c);
    }
    return s;
}

uint64_t littleEndian(const std::vector<uint8_t> &d, size_t n)
{
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;)
        v = v << 8 | d[i];
    return v;
}

uint64_t hexNumber(const std::string &text)
{
    try {
        return std::stoull(text, nullptr, 16);
    } catch (const std::exception &) {
        return ~uint64_t{0};
    }
}

// Whether the peer's text for a value stands for these bytes.
bool dataMatches(const std::string &type, const std::string &text, const std::vector<uint8_t> &d)
{
    const std::string raw(d.begin(), d.end());
    const std::string bytes = unquote(text);
    if (type == "DWORD")
        return d.size() >= 4 && hexNumber(text) == littleEndian(d, 4);
    if (type == "DWORD_BE")
        return d.size() >= 4 && hexNumber(text) == (uint64_t(d[0]) << 24 | d[1] << 16 | d[2] << 8 | d[3]);
    if (type == "QWORD")
        return d.size() >= 8 && hexNumber(text) == littleEndian(d, 8);
    if (type == "SZ" || type == "EXPAND_SZ" || type == "LINK") {
        bool ascii = false;
        const std::string s = utf16ToAscii(d, true, ascii);
        // Text that does not convert to ASCII is shown as its raw bytes.
        return bytes == raw || (ascii && bytes == s);
    }
    if (type == "MULTI_SZ") {
        bool ascii = false;
        const std::string all = utf16ToAscii(d, false, ascii);
        std::string joined;
        for (const std::string &part : split(all, '\0'))
            if (!part.empty())
                joined += (joined.empty() ? "" : "|") + part;
        std::string peer;
        for (const std::string &part : split(text, '|'))
            peer += (peer.empty() ? "" : "|") + unquote(part);
        return bytes == raw || (ascii && peer == joined);
    }
    return bytes == raw;
}

bool nameMatches(const std::string &peer, const std::string &name, const std::string &rawName)
{
    const std::string bytes = unquote(peer);
    const std::string rawToNul = rawName.substr(0, rawName.find('\0'));
    return bytes == name || bytes == rawName || bytes == rawToNul;
}

struct PeerRun {
    size_t items = 0, stale = 0;
};

void compareWithPeer(const std::filesystem::path &file, PeerRun &run)
{
    RecoveryResult result;
    std::string error;
    ASSERT_TRUE(recoverHiveFile(file.string(), result, error)) << error;

    const std::string command = "reglookup-recover -H '" + file.string() + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        text.append(buf, n);
    ASSERT_EQ(pclose(pipe), 0) << file;

    std::vector<std::vector<std::string>> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto f = split(line, ',');
        if (f.size() < 10 || (f[2] != "KEY" && f[2] != "VALUE"))
            continue;
        ++run.items;
        const uint32_t offset = static_cast<uint32_t>(std::stoul(f[0], nullptr, 16));
        SCOPED_TRACE(file.filename().string() + " " + line.substr(0, 160));
        if (f[2] == "KEY") {
            const int32_t k = result.keyAt(offset);
            ASSERT_GE(k, 0) << "key not found";
            const RecoveredKey &key = result.keys[k];
            EXPECT_TRUE(key.deleted());
            EXPECT_TRUE(nameMatches(f[4], key.name, key.rawName)) << key.name;
            EXPECT_EQ(f[5], fileTimeText(key.lastWrite));
            continue;
        }
        const int32_t v = result.valueAt(offset);
        ASSERT_GE(v, 0) << "value not found";
        values.push_back(f);
        const RecoveredValue &value = result.values[v];
        EXPECT_TRUE(nameMatches(f[4], value.name, value.rawName)) << value.name;
        EXPECT_EQ(f[7], peerTypeName(value.type));
        EXPECT_EQ(std::stoul(f[9]), value.dataSize);
    }
    // Data, with the peer's stale buffers told apart: its rows are processed
    // in offset order, linked values (with a path) and orphans separately.
    std::map<std::pair<bool, uint32_t>, const std::vector<std::string> *> order;
    for (const auto &f : values)
        order[{!f[3].empty(), static_cast<uint32_t>(std::stoul(f[0], nullptr, 16))}] = &f;
    const RecoveredValue *previous = nullptr;
    bool previousGroup = false;
    for (const auto &[key, row] : order) {
        const auto &f = *row;
        const RecoveredValue &value = result.values[result.valueAt(key.second)];
        if (previous && previousGroup != key.first)
            previous = nullptr;
        SCOPED_TRACE(file.filename().string() + " " + f[0] + " " + f[4]);
        const bool ours = dataMatches(f[7], f[8], value.data);
        if (!f[8].empty() && !ours) {
            const bool stale = previous && dataMatches(f[7], f[8], previous->data);
            // Where our data is not whole we claim nothing about it.
            if (stale || value.dataState != DataState::Whole)
                ++run.stale;
            else
                ADD_FAILURE() << "data differs: peer " << f[8].substr(0, 80);
        }
        previous = &value;
        previousGroup = key.first;
    }
}

bool havePeer()
{
    return std::system("command -v reglookup-recover >/dev/null 2>&1") == 0;
}

} // namespace

TEST(RecoveryPeer, EveryItemTheToolCarvesIsFoundAlike)
{
    VT_SKIP_WITHOUT_TESTDATA();
    if (!havePeer())
        GTEST_SKIP() << "reglookup-recover is not installed";
    const auto hives = vt::test::testdataDir() / "hives";
    std::vector<std::filesystem::path> files;
    for (const char *name : {"DeletedDataHive", "DeletedTreeHive", "DeletedTreePartialPathHive", "SlackHive",
                             "RemnantData", "ReallocValueDataHive"})
        files.push_back(hives / "damaged" / "yarp" / name);
    for (const auto &e : std::filesystem::recursive_directory_iterator(hives / "real"))
        if (e.is_regular_file())
            files.push_back(e.path());
    size_t items = 0, stale = 0;
    for (const auto &f : files) {
        PeerRun run;
        compareWithPeer(f, run);
        items += run.items;
        stale += run.stale;
    }
    // The corpus holds thousands; a peer that printed nothing would prove nothing.
    EXPECT_GT(items, 3000u);
    std::printf("peer items compared: %zu, of which the peer showed another value's data: %zu\n", items, stale);
}
