#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"

#include <algorithm>
#include <unordered_map>

namespace vt::hive
{

using namespace regf;

namespace
{

// A self-relative descriptor whose parts lie inside it; anything else is
// treated as a missing descriptor rather than handed on.
bool plausibleDescriptor(std::span<const uint8_t> sd)
{
    if (sd.size() < 20 || sd[0] != 1 || !(rd16(sd.data() + 2) & 0x8000))
        return false;
    for (uint32_t at = 4; at < 20; at += 4) {
        const uint32_t off = rd32(sd.data() + at);
        if (off != 0 && (off < 20 || off >= sd.size()))
            return false;
    }
    return true;
}

class Reader
{
public:
    Reader(std::span<const uint8_t> bins, uint32_t minor) : m_bins(bins), m_minor(minor)
    {
        m_visited.assign(bins.size() / 8 / 64 + 1, 0);
        // Real hives never hold more value data than file bytes; the budget
        // stops crafted cells shared by many values from multiplying memory.
        m_dataBudget = bins.size() + (1u << 20);
    }

    bool recovered = false;
    uint64_t keysDropped = 0;
    uint64_t valuesDropped = 0;

    std::unique_ptr<Key> readKey(uint32_t off, Key *parent, uint32_t parentOff, uint32_t depth);

private:
    std::span<const uint8_t> cell(uint32_t off) const;
    bool markVisited(uint32_t off);
    SecurityDescriptorPtr security(uint32_t off);
    void collectSubkeys(uint32_t off, std::vector<uint32_t> &out, int depth);
    bool readValue(uint32_t off, Value &v);
    bool readData(uint32_t size, uint32_t off, std::vector<uint8_t> &data);

    std::span<const uint8_t> m_bins;
    uint32_t m_minor;
    std::vector<uint64_t> m_visited;
    std::unordered_map<uint32_t, SecurityDescriptorPtr> m_sk;
    size_t m_dataBudget;
};

std::span<const uint8_t> Reader::cell(uint32_t off) const
{
    if (off == kNoCell || (off & 7) != 0 || static_cast<uint64_t>(off) + 4 > m_bins.size())
        return {};
    const auto size = static_cast<int32_t>(rd32(m_bins.data() + off));
    if (size >= 0) // a free cell is never referenced by live data
        return {};
    const uint64_t len = -static_cast<int64_t>(size);
    if (len < 8 || off + len > m_bins.size())
        return {};
    return m_bins.subspan(off + 4, static_cast<size_t>(len - 4));
}

bool Reader::markVisited(uint32_t off)
{
    const size_t bit = off / 8;
    uint64_t &word = m_visited[bit / 64];
    const uint64_t mask = uint64_t{1} << (bit % 64);
    if (word & mask)
        return false;
    word |= mask;
    return true;
}

SecurityDescriptorPtr Reader::security(uint32_t off)
{
    if (auto it = m_sk.find(off); it != m_sk.end())
        return it->second;
    auto c = cell(off);
    if (c.size() < kSkFixed || c[0] != 's' || c[1] != 'k')
        return nullptr;
    const uint32_t len = rd32(c.data() + 16);
    if (len > c.size() - kSkFixed || !plausibleDescriptor(c.subspan(kSkFixed, len)))
        return nullptr;
    auto sd = std::make_shared<const SecurityDescriptor>(c.begin() + kSkFixed, c.begin() + kSkFixed + len);
    m_sk.emplace(off, sd);
    return sd;
}

void Reader::collectSubkeys(uint32_t off, std::vector<uint32_t> &out, int depth)
{
    auto c = cell(off);
    if (c.size() < 4 || !markVisited(off)) {
        recovered = true;
        return;
    }
    const uint32_t count = rd16(c.data() + 2);
    const char s0 = static_cast<char>(c[0]), s1 = static_cast<char>(c[1]);
    uint32_t stride = 0;
    if ((s0 == 'l' && (s1 == 'f' || s1 == 'h')))
        stride = 8;
    else if ((s0 == 'l' || s0 == 'r') && s1 == 'i')
        stride = 4;
    if (stride == 0 || (s0 == 'r' && depth > 0)) {
        recovered = true;
        return;
    }
    uint32_t n = count;
    if (4 + static_cast<uint64_t>(n) * stride > c.size()) {
        n = static_cast<uint32_t>((c.size() - 4) / stride);
        recovered = true;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t entry = rd32(c.data() + 4 + i * stride);
        if (s0 == 'r')
            collectSubkeys(entry, out, depth + 1);
        else
            out.push_back(entry);
    }
}

bool Reader::readData(uint32_t size, uint32_t off, std::vector<uint8_t> &data)
{
    if (size & 0x80000000u) {
        uint32_t len = size & 0x7FFFFFFFu;
        if (len > 4) {
            len = 4;
            recovered = true;
        }
        uint8_t raw[4];
        wr32(raw, off);
        data.assign(raw, raw + len);
        return true;
    }
    if (size == 0)
        return true;
    if (size > m_dataBudget)
        return false;
    auto c = cell(off);
    if (c.empty())
        return false;
    if (m_minor >= 4 && size > kBigDataSegment && c.size() >= 8 && c[0] == 'd' && c[1] == 'b') {
        const uint32_t segments = rd16(c.data() + 2);
        auto list = cell(rd32(c.data() + 4));
        if (list.size() / 4 < segments)
            return false;
        // Check every segment before allocating from the stated size.
        uint64_t available = 0;
        for (uint32_t i = 0; i < segments; ++i)
            available += std::min<size_t>(cell(rd32(list.data() + 4 * i)).size(), kBigDataSegment);
        if (available < size)
            return false;
        data.reserve(size);
        for (uint32_t i = 0; i < segments && data.size() < size; ++i) {
            auto seg = cell(rd32(list.data() + 4 * i));
            const size_t take = std::min<size_t>({seg.size(), kBigDataSegment, size - data.size()});
            data.insert(data.end(), seg.begin(), seg.begin() + take);
        }
    } else {
        uint32_t len = size;
        if (len > c.size()) { // the length overstates the cell: keep what the cell holds
            len = static_cast<uint32_t>(c.size());
            recovered = true;
        }
        data.assign(c.begin(), c.begin() + len);
    }
    m_dataBudget -= std::min(m_dataBudget, data.size());
    return true;
}

bool Reader::readValue(uint32_t off, Value &v)
{
    auto c = cell(off);
    if (c.size() < kVkFixed || c[0] != 'v' || c[1] != 'k' || !markVisited(off))
        return false;
    const uint32_t nameLen = rd16(c.data() + 2);
    if (nameLen > c.size() - kVkFixed)
        return false;
    const uint16_t flags = rd16(c.data() + 16);
    v.nameCompressed = (flags & kValueCompName) != 0;
    v.flags = flags & ~kValueCompName;
    if (v.nameCompressed)
        appendLatin1(v.name, c.data() + kVkFixed, nameLen);
    else
        appendUtf16(v.name, c.data() + kVkFixed, nameLen);
    v.type = rd32(c.data() + 12);
    return readData(rd32(c.data() + 4), rd32(c.data() + 8), v.data);
}

std::unique_ptr<Key> Reader::readKey(uint32_t off, Key *parent, uint32_t parentOff, uint32_t depth)
{
    auto c = cell(off);
    if (depth >= kMaxKeyDepth || c.size() < kNkFixed || c[0] != 'n' || c[1] != 'k' || !markVisited(off)) {
        recovered = true;
        return nullptr;
    }
    const uint8_t *p = c.data();
    const uint32_t nameLen = rd16(p + 72);
    if (nameLen > c.size() - kNkFixed) {
        recovered = true;
        return nullptr;
    }
    auto key = std::make_unique<Key>();
    key->parent = parent;
    const uint16_t flags = rd16(p + 2);
    key->flags = flags & ~kKeyCompName; // nameCompressed carries that bit
    key->lastWriteTime = rd64(p + 4);
    key->accessBits = rd32(p + 12);
    key->nameCompressed = (flags & kKeyCompName) != 0;
    if (key->nameCompressed)
        appendLatin1(key->name, p + kNkFixed, nameLen);
    else
        appendUtf16(key->name, p + kNkFixed, nameLen);
    key->upperName = upperName(key->name);
    const uint32_t maxNameField = rd32(p + 52);
    key->virtControlFlags = static_cast<uint8_t>((maxNameField >> 16) & 0x0F);
    key->userFlags = static_cast<uint8_t>((maxNameField >> 20) & 0x0F);
    if (parent && rd32(p + 16) != parentOff)
        recovered = true; // Windows repairs the back link; the tree position wins

    key->security = security(rd32(p + 44));
    if (!key->security) {
        recovered = true;
        if (parent)
            key->security = parent->security;
    }

    const uint32_t classLen = rd16(p + 74);
    const uint32_t classOff = rd32(p + 48);
    if (classLen > 0 && classOff != kNoCell) {
        auto cc = cell(classOff);
        if (cc.size() >= classLen && classLen <= m_dataBudget) {
            appendUtf16(key->className, cc.data(), classLen);
            m_dataBudget -= classLen; // many keys naming one class cell must not multiply it
        } else {
            recovered = true;
        }
    }

    const uint32_t valueCount = rd32(p + 36);
    if (valueCount > 0) {
        const uint32_t listOff = rd32(p + 40);
        auto list = cell(listOff);
        if (list.empty() || !markVisited(listOff)) {
            recovered = true;
            valuesDropped += valueCount;
        } else {
            uint32_t n = valueCount;
            if (n > list.size() / 4) {
                n = static_cast<uint32_t>(list.size() / 4);
                recovered = true;
                valuesDropped += valueCount - n;
            }
            key->values.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                Value v;
                if (readValue(rd32(list.data() + 4 * i), v)) {
                    key->values.push_back(std::move(v));
                } else {
                    recovered = true;
                    ++valuesDropped;
                }
            }
        }
    }

    const uint32_t subkeyCount = rd32(p + 20);
    if (subkeyCount > 0) {
        std::vector<uint32_t> offsets;
        collectSubkeys(rd32(p + 28), offsets, 0);
        if (offsets.size() != subkeyCount)
            recovered = true;
        if (offsets.size() < subkeyCount)
            keysDropped += subkeyCount - offsets.size();
        key->subkeys.reserve(offsets.size());
        for (uint32_t childOff : offsets) {
            if (auto child = readKey(childOff, key.get(), off, depth + 1))
                key->subkeys.push_back(std::move(child));
            else
                ++keysDropped;
        }
        auto &subs = key->subkeys;
        auto less = [](const std::unique_ptr<Key> &a, const std::unique_ptr<Key> &b) {
            return a->upperName < b->upperName;
        };
        if (!std::is_sorted(subs.begin(), subs.end(), less))
            std::stable_sort(subs.begin(), subs.end(), less);
        // Two keys that compare equal cannot both be reached; keep the first.
        auto same = [](const std::unique_ptr<Key> &a, const std::unique_ptr<Key> &b) {
            return a->upperName == b->upperName;
        };
        auto end = std::unique(subs.begin(), subs.end(), same);
        if (end != subs.end()) {
            recovered = true;
            keysDropped += static_cast<uint64_t>(subs.end() - end);
            subs.erase(end, subs.end());
        }
    }
    return key;
}

} // namespace

LONG readHive(std::span<const uint8_t> bytes, Hive &out, bool *recovered)
{
    RecoveryReport report;
    const LONG rc = readHive(bytes, out, report);
    if (recovered)
        *recovered = rc == ERROR_SUCCESS && report.recovered;
    return rc;
}

LONG readHive(std::span<const uint8_t> bytes, Hive &out, RecoveryReport &report)
{
    report = RecoveryReport();
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "regf", 4) != 0)
        return ERROR_NOT_REGISTRY_FILE;
    if (bytes.size() < kBaseBlockSize + kBinAlign)
        return ERROR_REGISTRY_CORRUPT;
    const uint8_t *base = bytes.data();
    if (rd32(base + 28) != 0) // a transaction log, not a primary file
        return ERROR_NOT_REGISTRY_FILE;
    const uint32_t major = rd32(base + 20), minor = rd32(base + 24);
    if (major != 1 || minor < 3 || minor > 6 || rd32(base + 32) != 1)
        return ERROR_BADDB;
    if (baseBlockChecksum(base) != rd32(base + kChecksumOffset))
        return ERROR_BADDB;

    bool fixed = false;
    const uint64_t declared = rd32(base + 40);
    const uint64_t present = bytes.size() - kBaseBlockSize;
    const uint64_t limit = std::min(declared, present);
    if (declared > present || declared % kBinAlign != 0)
        fixed = true;
    // Keep the run of sound bins; Windows drops a damaged tail the same way.
    uint64_t extent = 0;
    while (extent + kBinHeaderSize <= limit) {
        const uint8_t *bin = base + kBaseBlockSize + extent;
        const uint32_t size = rd32(bin + 8);
        if (std::memcmp(bin, "hbin", 4) != 0 || rd32(bin + 4) != extent || size < kBinAlign || size % kBinAlign ||
            extent + size > limit)
            break;
        extent += size;
    }
    if (extent < declared)
        fixed = true;
    report.binBytesDeclared = declared;
    report.binBytesKept = extent;
    if (extent == 0)
        return ERROR_REGISTRY_CORRUPT;

    Reader reader(bytes.subspan(kBaseBlockSize, static_cast<size_t>(extent)), minor);
    auto root = reader.readKey(rd32(base + 36), nullptr, kNoCell, 0);
    if (!root)
        return ERROR_REGISTRY_CORRUPT;

    out.root = std::move(root);
    out.minorVersion = minor;
    out.headerTimestamp = rd64(base + 12);
    out.fileName.clear();
    size_t nameBytes = 0;
    while (nameBytes + 1 < 64 && (base[48 + nameBytes] | base[49 + nameBytes]))
        nameBytes += 2;
    appendUtf16(out.fileName, base + 48, nameBytes);
    report.recovered = fixed || reader.recovered;
    report.keysDropped = reader.keysDropped;
    report.valuesDropped = reader.valuesDropped;
    return ERROR_SUCCESS;
}

} // namespace vt::hive
