#include "HiveTestSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace vt::hive::test
{

namespace fs = std::filesystem;

fs::path testdata()
{
    if (const char *env = std::getenv("VT_TESTDATA"); env && *env)
        return env;
    return VT_TESTDATA_DIR;
}

std::vector<uint8_t> readBytes(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + p.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path &p, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
}

std::pair<int, std::string> run(const std::string &cmd)
{
    std::string out;
    FILE *f = ::popen(cmd.c_str(), "r");
    if (!f)
        return {-1, out};
    std::array<char, 65536> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
        out.append(buf.data(), n);
    const int status = ::pclose(f);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

TempDir::TempDir()
{
    std::string tmpl = (fs::temp_directory_path() / "vt-hive-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

namespace
{
std::string hexBytes(const std::vector<uint8_t> &d)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(d.size() * 3);
    for (size_t i = 0; i < d.size(); ++i) {
        if (i)
            s += ',';
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

std::string latin1(const std::string &utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string hivexName(const std::string &name, bool compressed)
{
    return compressed ? latin1(name) : name;
}

void exportKey(const Key &k, const std::string &path, PeerExport &out)
{
    auto &vals = out[path];
    for (const Value &v : k.values) {
        PeerValue pv{v.type, {}};
        if (v.type == 4 && v.data.size() == 4) {
            char buf[20];
            std::snprintf(buf, sizeof buf, "dword:%08x",
                          v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (uint32_t{v.data[3]} << 24));
            pv.hex = buf;
        } else {
            pv.hex = hexBytes(v.data);
        }
        vals.emplace(hivexName(v.name, v.nameCompressed), pv);
    }
    for (const auto &c : k.subkeys)
        exportKey(*c, (path == "\\" ? path : path + "\\") + hivexName(c->name, c->nameCompressed), out);
}
} // namespace

PeerExport exportLikeHivex(const Key &root)
{
    PeerExport out;
    exportKey(root, "\\", out);
    return out;
}

PeerExport parseHivexExport(const std::string &t)
{
    PeerExport out;
    size_t i = t.find("\n\n");
    if (i == std::string::npos)
        return out;
    i += 2;
    while (i < t.size() && t[i] == '[') {
        const size_t end = t.find("]\n", i);
        if (end == std::string::npos)
            break;
        auto &vals = out[t.substr(i + 1, end - i - 1)];
        i = end + 2;
        while (i < t.size() && t[i] != '\n') {
            std::string name;
            if (t.compare(i, 2, "@=") == 0) {
                i += 1;
            } else if (t[i] == '"') {
                ++i;
                while (i < t.size() && t[i] != '"') {
                    if (t[i] == '\\' && i + 1 < t.size())
                        ++i;
                    name += t[i++];
                }
                ++i;
            }
            if (i >= t.size() || t[i] != '=')
                return out;
            ++i;
            const size_t eol = t.find('\n', i);
            const std::string data = t.substr(i, eol - i);
            i = eol == std::string::npos ? t.size() : eol + 1;
            PeerValue pv{4, data};
            if (data.rfind("hex(", 0) == 0) {
                const size_t close = data.find("):");
                pv.type = static_cast<uint32_t>(std::stoul(data.substr(4, close - 4), nullptr, 16));
                pv.hex = data.substr(close + 2);
            }
            vals.emplace(name, pv);
        }
        ++i;
    }
    return out;
}

// Key path (decoded) -> "mtime|class" as reglookup reports them.
std::map<std::string, std::string> reglookupKeys(const std::string &csv, size_t &lines)
{
    std::map<std::string, std::string> out;
    lines = 0;
    std::istringstream in(csv);
    std::string line;
    auto decode = [](const std::string &s) {
        std::string r;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '%' && i + 2 < s.size()) {
                r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                r += s[i];
            }
        }
        return r;
    };
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ls(line);
        std::string field;
        while (std::getline(ls, field, ','))
            f.push_back(field);
        if (line.back() == ',')
            f.push_back("");
        if (f.size() < 9 || f[1] != "KEY")
            continue;
        ++lines;
        out[decode(f[0])] = f[3] + "|" + decode(f[8]);
    }
    return out;
}

std::string treeDiff(const Key &a, const Key &b, const std::string &path)
{
    const std::string here = path + "\\" + a.name;
    auto diff = [&](const std::string &what) { return here + ": " + what + " differs"; };
    if (a.name != b.name)
        return diff("name (" + a.name + " / " + b.name + ")");
    if (a.upperName != b.upperName)
        return diff("upper-case name");
    if (a.className != b.className)
        return diff("class");
    if (a.lastWriteTime != b.lastWriteTime)
        return diff("last-write time");
    if (a.flags != b.flags)
        return diff("flags");
    if (a.userFlags != b.userFlags || a.virtControlFlags != b.virtControlFlags || a.accessBits != b.accessBits)
        return diff("user/virtualisation flags");
    if (a.isVolatile != b.isVolatile || a.nameCompressed != b.nameCompressed)
        return diff("volatile/compressed");
    if (!a.security != !b.security || (a.security && *a.security != *b.security))
        return diff("security descriptor");
    if (a.values.size() != b.values.size())
        return diff("value count");
    for (size_t i = 0; i < a.values.size(); ++i) {
        const Value &x = a.values[i], &y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data || x.nameCompressed != y.nameCompressed ||
            x.flags != y.flags)
            return here + ": value \"" + x.name + "\" differs";
    }
    if (a.subkeys.size() != b.subkeys.size())
        return diff("subkey count");
    for (size_t i = 0; i < a.subkeys.size(); ++i) {
        if (a.subkeys[i]->parent != &a || b.subkeys[i]->parent != &b)
            return diff("parent link");
        if (auto d = treeDiff(*a.subkeys[i], *b.subkeys[i], here); !d.empty())
            return d;
    }
    return "";
}

size_t countKeys(const Key &k)
{
    size_t n = 1;
    for (const auto &c : k.subkeys)
        n += countKeys(*c);
    return n;
}

size_t countValues(const Key &k)
{
    size_t n = k.values.size();
    for (const auto &c : k.subkeys)
        n += countValues(*c);
    return n;
}

std::string filetimeText(uint64_t ft)
{
    if (ft < 116444736000000000ull) // reglookup shows times before 1970 as the Unix epoch
        ft = 116444736000000000ull;
    const time_t secs = static_cast<time_t>(ft / 10000000ull) - 11644473600ll;
    struct tm tm {
    };
    ::gmtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string storedName(const std::string &utf8, bool compressed)
{
    if (compressed)
        return latin1(utf8);
    std::string out;
    // Decode UTF-8/WTF-8 to UTF-16LE code units.
    for (size_t i = 0; i < utf8.size();) {
        const auto c0 = static_cast<unsigned char>(utf8[i]);
        uint32_t c = c0;
        size_t n = 1;
        if (c0 >= 0xF0) {
            c = ((c0 & 7u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
                (utf8[i + 3] & 0x3Fu);
            n = 4;
        } else if (c0 >= 0xE0) {
            c = ((c0 & 15u) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
            n = 3;
        } else if (c0 >= 0xC0) {
            c = ((c0 & 31u) << 6) | (utf8[i + 1] & 0x3Fu);
            n = 2;
        }
        i += n;
        auto unit = [&out](uint32_t u) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        };
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

} // namespace vt::hive::test
