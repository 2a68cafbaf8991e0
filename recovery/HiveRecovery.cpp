#include "recovery/HiveRecovery.h"

#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"

#include <algorithm>
#include <cstring>

namespace vt::recovery
{

using namespace vt::hive::regf;

namespace
{

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kBase = kBaseBlockSize;
constexpr uint32_t kNkSig = 4 + kNkFixed; // cell header and fixed part before the name
constexpr uint32_t kVkSig = 4 + kVkFixed;
constexpr uint32_t kMaxNameBytes = 2 * 16383; // the longest value name Windows allows, in UTF-16
constexpr uint32_t kMaxDepth = 512;

uint32_t roundUp8(uint64_t n)
{
    return static_cast<uint32_t>((n + 7) & ~uint64_t{7});
}

struct Bin {
    uint32_t begin, end;
    bool remnant;
};

// A 100-ns tick count of 1985..2200: what a key's last-write time holds. A
// carved candidate outside it is bytes that merely spell "nk".
bool plausibleTime(uint64_t ft)
{
    constexpr uint64_t k1980 = 119600064000000000ull;
    constexpr uint64_t k2200 = 188027712000000000ull;
    return ft == 0 || (ft >= k1980 && ft <= k2200);
}

class Scanner
{
public:
    Scanner(std::span<const uint8_t> img, RecoveryResult &out) : m_img(img), m_out(out)
    {
        // Crafted cells shared by many values must not multiply memory: all
        // data copied stays within twice the image.
        m_dataBudget = 2 * static_cast<uint64_t>(img.size()) + (1u << 20);
    }

    bool run(std::string &error);

private:
    struct Unsigned {
        uint32_t cell, len;
    };
    struct LiveList {
        uint32_t cell, count;
        int32_t key;
    };

    const uint8_t *at(uint64_t off) const { return m_img.data() + off; }
    void scanBin(const Bin &bin);
    void allocated(uint32_t c, uint32_t len);
    void carve(uint32_t s, uint32_t e, Origin origin);
    uint32_t tryKey(uint32_t j, uint32_t e, Origin origin);
    uint32_t tryValue(uint32_t j, uint32_t e, Origin origin);
    const Bin *binOf(uint32_t fileOff) const;
    // A cell at a bin-relative offset: its file offset and length bounded by
    // its bin; false when it cannot be a cell.
    bool cellAt(uint32_t cell, uint32_t &fo, uint32_t &len, bool &allocatedNow) const;
    void readData(RecoveredValue &v, bool live);
    void link();
    void placeValues();
    void keyExtras(RecoveredKey &k);
    void buildPaths();

    std::span<const uint8_t> m_img;
    RecoveryResult &m_out;
    std::vector<Bin> m_bins;
    std::vector<Unsigned> m_unsigned;
    std::vector<std::pair<uint32_t, uint32_t>> m_used; // file offset of a cell -> bytes its owner uses
    std::vector<LiveList> m_liveLists;
    uint64_t m_dataBudget;
    bool m_budgetNoted = false;

    friend std::vector<RecoveredValue> vt::recovery::liveValues(const RecoveryResult &, const RecoveredKey &);
};

const Bin *Scanner::binOf(uint32_t fo) const
{
    auto it = std::upper_bound(m_bins.begin(), m_bins.end(), fo, [](uint32_t v, const Bin &b) { return v < b.begin; });
    if (it == m_bins.begin())
        return nullptr;
    --it;
    return fo < it->end ? &*it : nullptr;
}

bool Scanner::cellAt(uint32_t cell, uint32_t &fo, uint32_t &len, bool &allocatedNow) const
{
    if (cell == kNone || (cell & 7) != 0 || static_cast<uint64_t>(cell) + kBase + 8 > m_img.size())
        return false;
    fo = cell + kBase;
    const Bin *bin = binOf(fo);
    if (!bin || fo < bin->begin + kBinHeaderSize)
        return false;
    const auto raw = static_cast<int32_t>(rd32(at(fo)));
    allocatedNow = raw < 0;
    const uint64_t stated = raw < 0 ? -static_cast<int64_t>(raw) : raw;
    // A size that overruns its bin or breaks the 8-byte grid is no cell header:
    // the offset points into other bytes.
    if (stated < 8 || stated % 8 || stated > bin->end - fo)
        return false;
    len = static_cast<uint32_t>(stated);
    return true;
}

bool Scanner::run(std::string &error)
{
    if (m_img.size() < kBase + kBinHeaderSize || std::memcmp(m_img.data(), "regf", 4) != 0) {
        error = "The file is not a registry hive (no regf signature).";
        return false;
    }
    m_out.minorVersion = rd32(at(0x18));
    m_out.rootCell = rd32(at(0x24));
    m_out.binsDeclared = rd32(at(0x28));
    const uint64_t declaredEnd = std::min<uint64_t>(kBase + m_out.binsDeclared, m_img.size());

    // One pass over the bins; bins past the declared end are remnants of a
    // larger hive, and a damaged header is skipped to the next 4 KiB page.
    uint64_t pos = kBase;
    while (pos + kBinHeaderSize <= m_img.size()) {
        const bool remnant = pos >= declaredEnd;
        if (std::memcmp(at(pos), "hbin", 4) != 0) {
            if (!remnant)
                ++m_out.damagedBins;
            pos += kBinAlign;
            continue;
        }
        uint64_t size = rd32(at(pos + 8));
        if (size < kBinAlign || size % kBinAlign || pos + size > m_img.size()) {
            ++m_out.damagedBins;
            size = kBinAlign;
            if (pos + size > m_img.size())
                break;
        }
        Bin bin{static_cast<uint32_t>(pos), static_cast<uint32_t>(pos + size), remnant};
        m_bins.push_back(bin);
        if (remnant)
            ++m_out.remnantBins;
        else
            ++m_out.binsRead;
        pos += size;
    }
    for (const Bin &bin : m_bins)
        scanBin(bin);

    // The slack of cells that carry no signature, now that the live keys and
    // values have said how much of them they use.
    std::sort(m_used.begin(), m_used.end());
    for (const Unsigned &u : m_unsigned) {
        auto it = std::lower_bound(m_used.begin(), m_used.end(), std::make_pair(u.cell, uint32_t{0}));
        if (it == m_used.end() || it->first != u.cell)
            continue;
        const uint32_t used = roundUp8(it->second);
        if (used < u.len)
            carve(u.cell + used, u.cell + u.len, Origin::Slack);
    }
    link();
    for (RecoveredValue &v : m_out.values)
        readData(v, false);
    placeValues();
    for (RecoveredKey &k : m_out.keys)
        if (k.deleted())
            keyExtras(k);
    buildPaths();
    if (m_out.damagedBins)
        m_out.notes.push_back(std::to_string(m_out.damagedBins) + " damaged bin header(s) skipped.");
    return true;
}

void Scanner::scanBin(const Bin &bin)
{
    uint32_t c = bin.begin + kBinHeaderSize;
    while (c + 8 <= bin.end) {
        const auto raw = static_cast<int32_t>(rd32(at(c)));
        const uint64_t len = raw < 0 ? -static_cast<int64_t>(raw) : raw;
        if (len < 8 || len % 8 || c + len > bin.end) {
            // The chain of cells breaks here: what is left of the bin is
            // carved like free space.
            carve(c, bin.end, bin.remnant ? Origin::RemnantBin : Origin::FreeCell);
            return;
        }
        ++m_out.cellsScanned;
        if (bin.remnant)
            carve(c, c + static_cast<uint32_t>(len), Origin::RemnantBin);
        else if (raw > 0)
            carve(c, c + static_cast<uint32_t>(len), Origin::FreeCell);
        else
            allocated(c, static_cast<uint32_t>(len));
        c += static_cast<uint32_t>(len);
    }
}

void Scanner::allocated(uint32_t c, uint32_t len)
{
    const uint8_t *p = at(c + 4);
    const uint32_t body = len - 4;
    uint64_t used = 0;
    if (body >= 2 && p[0] == 'n' && p[1] == 'k') {
        const bool parsed = tryKey(c, c + len, Origin::Live) != 0;
        used = body >= kNkFixed ? kNkSig + rd16(p + 0x48) : len;
        if (parsed) {
            const uint32_t count = rd32(p + 0x24), list = rd32(p + 0x28);
            if (count && list != kNone && list < m_img.size())
                m_liveLists.push_back({list + kBase, count, static_cast<int32_t>(m_out.keys.size() - 1)});
            if (count && list != kNone && list < m_img.size())
                m_used.emplace_back(list + kBase,
                                    static_cast<uint32_t>(std::min<uint64_t>(4 + uint64_t{count} * 4, kNone)));
        }
    } else if (body >= 2 && p[0] == 'v' && p[1] == 'k') {
        used = body >= kVkFixed ? kVkSig + rd16(p + 2) : len;
        if (body >= kVkFixed) {
            const uint32_t size = rd32(p + 4), data = rd32(p + 8);
            if (!(size & 0x80000000u) && size && data != kNone && data < m_img.size())
                m_used.emplace_back(data + kBase, static_cast<uint32_t>(std::min<uint64_t>(4 + uint64_t{size}, kNone)));
        }
    } else if (body >= 2 && p[0] == 's' && p[1] == 'k') {
        used = body >= kSkFixed ? 4 + kSkFixed + static_cast<uint64_t>(rd32(p + 16)) : len;
    } else if (body >= 4 && ((p[0] == 'l' && (p[1] == 'f' || p[1] == 'h')))) {
        used = 8 + 8 * static_cast<uint64_t>(rd16(p + 2));
    } else if (body >= 4 && (p[0] == 'l' || p[0] == 'r') && p[1] == 'i') {
        used = 8 + 4 * static_cast<uint64_t>(rd16(p + 2));
    } else if (body >= 8 && p[0] == 'd' && p[1] == 'b') {
        used = 12;
    } else {
        m_unsigned.push_back({c, len});
        return;
    }
    const uint64_t from = roundUp8(used);
    if (from + 8 <= len)
        carve(c + static_cast<uint32_t>(from), c + len, Origin::Slack);
}

void Scanner::carve(uint32_t s, uint32_t e, Origin origin)
{
    // Every 8-byte step is tried, also inside a record just carved: a record
    // misread from chance bytes must not hide a real one behind it. Those
    // that start inside another are marked.
    uint32_t coveredTo = s;
    for (uint32_t j = s; j + 8 <= e; j += 8) {
        const uint8_t *sig = at(j + 4);
        uint32_t extent = 0;
        const bool inside = j < coveredTo;
        if (sig[0] == 'n' && sig[1] == 'k') {
            extent = tryKey(j, e, origin);
            if (extent && inside)
                m_out.keys.back().overlapping = true;
        } else if (sig[0] == 'v' && sig[1] == 'k') {
            extent = tryValue(j, e, origin);
            if (extent && inside)
                m_out.values.back().overlapping = true;
        }
        if (extent)
            coveredTo = std::max(coveredTo, j + extent);
    }
}

// The extent of a carved record: its own cell size where that lies within
// the region, else the rest of the region.
uint32_t recordEnd(const uint8_t *cellStart, uint32_t j, uint32_t e, uint32_t minimum)
{
    const auto raw = static_cast<int32_t>(rd32(cellStart));
    const uint64_t stated = raw < 0 ? -static_cast<int64_t>(raw) : raw;
    return stated >= minimum && stated <= e - j ? j + static_cast<uint32_t>(stated) : e;
}

uint32_t Scanner::tryKey(uint32_t j, uint32_t e, Origin origin)
{
    const uint32_t end = recordEnd(at(j), j, e, kNkSig);
    if (end - j < kNkSig)
        return 0;
    const uint8_t *p = at(j + 4);
    const uint16_t flags = rd16(p + 2);
    const uint64_t lastWrite = rd64(p + 4);
    const uint32_t parent = rd32(p + 0x10);
    uint32_t nameLen = rd16(p + 0x48);
    if (origin != Origin::Live && (nameLen == 0 || !plausibleTime(lastWrite)))
        return 0;
    RecoveredKey k;
    k.offset = j;
    k.cellSize = end - j;
    k.origin = origin;
    k.flags = flags;
    k.lastWrite = lastWrite;
    k.parentCell = parent;
    k.subkeyCount = rd32(p + 0x14);
    k.valueCount = rd32(p + 0x24);
    k.valueListCell = rd32(p + 0x28);
    k.securityCell = rd32(p + 0x2C);
    k.classCell = rd32(p + 0x30);
    if (nameLen > end - j - kNkSig) {
        nameLen = end - j - kNkSig;
        k.nameTruncated = true;
    }
    k.nameCompressed = (flags & kKeyCompName) != 0;
    k.rawName.assign(reinterpret_cast<const char *>(p + kNkFixed), nameLen);
    if (k.nameCompressed)
        appendLatin1(k.name, p + kNkFixed, nameLen);
    else
        appendUtf16(k.name, p + kNkFixed, nameLen);
    m_out.keys.push_back(std::move(k));
    return roundUp8(uint64_t{kNkSig} + nameLen);
}

uint32_t Scanner::tryValue(uint32_t j, uint32_t e, Origin origin)
{
    const uint32_t end = recordEnd(at(j), j, e, kVkSig);
    if (end - j < kVkSig)
        return 0;
    const uint8_t *p = at(j + 4);
    uint32_t nameLen = rd16(p + 2);
    const uint32_t sizeRaw = rd32(p + 4), dataCell = rd32(p + 8);
    const bool resident = (sizeRaw & 0x80000000u) != 0;
    const uint32_t size = sizeRaw & 0x7FFFFFFFu;
    if (nameLen > kMaxNameBytes)
        return 0;
    RecoveredValue v;
    v.offset = j;
    v.cellSize = end - j;
    v.origin = origin;
    const uint16_t flags = rd16(p + 16);
    v.nameCompressed = (flags & kValueCompName) != 0;
    if (nameLen > end - j - kVkSig) {
        nameLen = end - j - kVkSig;
        v.nameTruncated = true;
    }
    v.rawName.assign(reinterpret_cast<const char *>(p + kVkFixed), nameLen);
    if (v.nameCompressed)
        appendLatin1(v.name, p + kVkFixed, nameLen);
    else
        appendUtf16(v.name, p + kVkFixed, nameLen);
    v.type = rd32(p + 12);
    v.dataSize = size;
    v.resident = resident;
    v.dataCell = dataCell;
    m_out.values.push_back(std::move(v));
    return roundUp8(uint64_t{kVkSig} + nameLen);
}

void Scanner::readData(RecoveredValue &v, bool live)
{
    v.data.clear();
    if (v.resident) {
        uint8_t raw[4];
        wr32(raw, v.dataCell);
        v.data.assign(raw, raw + std::min<uint32_t>(v.dataSize, 4));
        v.dataState = v.dataSize <= 4 ? DataState::Whole : DataState::Partial;
        return;
    }
    if (v.dataSize == 0) {
        v.dataState = DataState::Whole;
        return;
    }
    v.dataState = DataState::Lost;
    uint32_t fo = 0, len = 0;
    bool inUse = false;
    if (!cellAt(v.dataCell, fo, len, inUse))
        return;
    // For a deleted value a cell in use again holds someone else's bytes now;
    // in a remnant bin everything is as old as the value.
    const Bin *own = binOf(v.offset);
    const bool historical = own && own->remnant && binOf(fo) == own;
    bool reused = !live && !historical && inUse;
    std::vector<uint8_t> data;
    const uint8_t *c = at(fo + 4);
    const uint32_t avail = len - 4;
    if (v.dataSize > avail && m_out.minorVersion >= 4 && avail >= 8 && c[0] == 'd' && c[1] == 'b') {
        const uint32_t segments = rd16(c + 2);
        uint32_t lfo = 0, llen = 0;
        bool listInUse = false;
        if (!cellAt(rd32(c + 4), lfo, llen, listInUse))
            return;
        reused = reused || (!live && !historical && listInUse);
        const uint32_t n = std::min<uint32_t>(segments, (llen - 4) / 4);
        for (uint32_t i = 0; i < n && data.size() < v.dataSize; ++i) {
            uint32_t sfo = 0, slen = 0;
            bool segInUse = false;
            if (!cellAt(rd32(at(lfo + 4 + 4 * i)), sfo, slen, segInUse))
                break;
            reused = reused || (!live && !historical && segInUse);
            const size_t take = std::min<size_t>({slen - 4, kBigDataSegment, v.dataSize - data.size()});
            if (take > m_dataBudget)
                break;
            m_dataBudget -= take;
            data.insert(data.end(), at(sfo + 4), at(sfo + 4) + take);
        }
    } else {
        const size_t take = std::min<size_t>(v.dataSize, avail);
        if (take > m_dataBudget) {
            if (!m_budgetNoted)
                m_out.notes.push_back("Data of some values was not read: more data than the file holds is referenced.");
            m_budgetNoted = true;
            return;
        }
        m_dataBudget -= take;
        data.assign(c, c + take);
    }
    v.data = std::move(data);
    // Another carved record inside the data cell wrote over it after the value
    // was deleted.
    if (!live && !reused && !v.data.empty()) {
        const uint32_t endData = fo + 4 + static_cast<uint32_t>(std::min<size_t>(v.data.size(), len - 4));
        auto overlaps = [&](const std::vector<std::pair<uint32_t, int32_t>> &index, bool values) {
            auto it = std::lower_bound(index.begin(), index.end(), std::make_pair(fo, INT32_MIN));
            for (; it != index.end() && it->first < endData; ++it)
                if (!(values && it->first == v.offset))
                    return true;
            return false;
        };
        reused = overlaps(m_out.keyIndex, false) || overlaps(m_out.valueIndex, true);
    }
    if (reused)
        v.dataState = DataState::Reused;
    else
        v.dataState = v.data.size() >= v.dataSize ? DataState::Whole : DataState::Partial;
}

void Scanner::link()
{
    auto &ki = m_out.keyIndex;
    ki.clear();
    ki.reserve(m_out.keys.size());
    for (size_t i = 0; i < m_out.keys.size(); ++i)
        ki.emplace_back(m_out.keys[i].offset, static_cast<int32_t>(i));
    std::sort(ki.begin(), ki.end());
    auto &vi = m_out.valueIndex;
    vi.clear();
    vi.reserve(m_out.values.size());
    for (size_t i = 0; i < m_out.values.size(); ++i)
        vi.emplace_back(m_out.values[i].offset, static_cast<int32_t>(i));
    std::sort(vi.begin(), vi.end());

    const uint32_t rootFo = m_out.rootCell + kBase;
    for (size_t i = 0; i < m_out.keys.size(); ++i) {
        RecoveredKey &k = m_out.keys[i];
        k.isRoot = !k.deleted() && (k.offset == rootFo || (m_out.root < 0 && (k.flags & kKeyHiveEntry)));
        if (k.isRoot && k.offset == rootFo)
            m_out.root = static_cast<int32_t>(i);
    }
    for (size_t i = 0; i < m_out.keys.size(); ++i) {
        RecoveredKey &k = m_out.keys[i];
        if (k.deleted())
            ++m_out.deletedKeys;
        if (k.isRoot || k.parentCell == kNone || k.parentCell > m_img.size())
            continue;
        const int32_t p = m_out.keyAt(k.parentCell + kBase);
        if (p >= 0 && static_cast<size_t>(p) != i) {
            k.parent = p;
            m_out.keys[p].children.push_back(static_cast<uint32_t>(i));
        }
    }
}

void Scanner::placeValues()
{
    auto place = [&](uint32_t cell, int32_t key) {
        if (cell == kNone || cell > m_img.size())
            return;
        const int32_t v = m_out.valueAt(cell + kBase);
        if (v < 0 || m_out.values[v].key >= 0)
            return;
        m_out.values[v].key = key;
        m_out.keys[key].values.push_back(static_cast<uint32_t>(v));
        ++m_out.placedValues;
    };
    // The value lists of deleted keys, bounded by their cells.
    for (size_t i = 0; i < m_out.keys.size(); ++i) {
        const RecoveredKey &k = m_out.keys[i];
        if (!k.deleted() || k.valueCount == 0)
            continue;
        uint32_t fo = 0, len = 0;
        bool inUse = false;
        if (!cellAt(k.valueListCell, fo, len, inUse))
            continue;
        const uint32_t n = std::min<uint32_t>(k.valueCount, (len - 4) / 4);
        for (uint32_t e = 0; e < n; ++e)
            place(rd32(at(fo + 4 + 4 * e)), static_cast<int32_t>(i));
    }
    // Entries left in the slack of a live key's value list once listed values
    // deleted from that key.
    for (const LiveList &l : m_liveLists) {
        uint32_t fo = 0, len = 0;
        bool inUse = false;
        if (l.cell < kBase || !cellAt(l.cell - kBase, fo, len, inUse) || !inUse)
            continue;
        for (uint64_t e = l.count; e < (len - 4) / 4; ++e)
            place(rd32(at(fo + 4 + 4 * e)), l.key);
    }
}

void Scanner::keyExtras(RecoveredKey &k)
{
    uint32_t fo = 0, len = 0;
    bool inUse = false;
    if (cellAt(k.securityCell, fo, len, inUse) && len >= 4 + kSkFixed) {
        const uint8_t *p = at(fo + 4);
        const uint32_t descLen = rd32(p + 16);
        if (p[0] == 's' && p[1] == 'k' && descLen >= 20 && descLen <= len - 4 - kSkFixed)
            k.security.assign(p + kSkFixed, p + kSkFixed + descLen);
    }
    const uint8_t *nk = at(k.offset + 4);
    const uint32_t classLen = k.cellSize >= kNkSig ? rd16(nk + 0x4A) : 0;
    if (classLen && cellAt(k.classCell, fo, len, inUse))
        appendUtf16(k.className, at(fo + 4), std::min<uint32_t>(classLen, len - 4));
}

void Scanner::buildPaths()
{
    // Iterative, memoised: 0 unvisited, 1 on the current chain, 2 done. A
    // chain that meets itself (a crafted loop) or runs too deep ends there.
    std::vector<uint8_t> state(m_out.keys.size(), 0);
    std::vector<uint32_t> chain;
    for (size_t start = 0; start < m_out.keys.size(); ++start) {
        if (state[start] == 2)
            continue;
        chain.clear();
        int32_t cur = static_cast<int32_t>(start);
        bool broken = false;
        while (cur >= 0 && state[cur] == 0) {
            state[cur] = 1;
            chain.push_back(static_cast<uint32_t>(cur));
            if (m_out.keys[cur].isRoot)
                break;
            if (chain.size() > kMaxDepth) {
                broken = true;
                break;
            }
            cur = m_out.keys[cur].parent;
        }
        if (cur >= 0 && state[cur] == 1 && !m_out.keys[cur].isRoot)
            broken = true; // a loop
        // Resolve from the top of the chain down.
        for (size_t n = chain.size(); n-- > 0;) {
            RecoveredKey &k = m_out.keys[chain[n]];
            state[chain[n]] = 2;
            if (k.isRoot) {
                k.path.clear();
                k.pathComplete = true;
                continue;
            }
            const bool top = n + 1 == chain.size();
            if (top) {
                const bool parentDone = cur >= 0 && state[cur] == 2 && static_cast<uint32_t>(cur) != chain[n];
                if (parentDone && !broken && k.parent == cur) {
                    const RecoveredKey &p = m_out.keys[cur];
                    k.path = p.path.empty() ? k.name : p.path + "\\" + k.name;
                    k.pathComplete = p.pathComplete;
                } else {
                    k.path = k.name;
                    k.pathComplete = false;
                }
            } else {
                const RecoveredKey &p = m_out.keys[chain[n + 1]];
                k.path = p.path.empty() && p.isRoot ? k.name : p.path + "\\" + k.name;
                k.pathComplete = p.pathComplete;
            }
        }
    }
}

} // namespace

const char *originName(Origin origin)
{
    switch (origin) {
    case Origin::Live:
        return "live";
    case Origin::FreeCell:
        return "free cell";
    case Origin::Slack:
        return "slack";
    case Origin::RemnantBin:
        return "remnant bin";
    }
    return "";
}

const char *dataStateName(DataState state)
{
    switch (state) {
    case DataState::Whole:
        return "whole";
    case DataState::Partial:
        return "partial";
    case DataState::Reused:
        return "cell reused";
    case DataState::Lost:
        return "lost";
    }
    return "";
}

int32_t RecoveryResult::keyAt(uint32_t fileOffset) const
{
    auto it = std::lower_bound(keyIndex.begin(), keyIndex.end(), std::make_pair(fileOffset, INT32_MIN));
    return it != keyIndex.end() && it->first == fileOffset ? it->second : -1;
}

int32_t RecoveryResult::valueAt(uint32_t fileOffset) const
{
    auto it = std::lower_bound(valueIndex.begin(), valueIndex.end(), std::make_pair(fileOffset, INT32_MIN));
    return it != valueIndex.end() && it->first == fileOffset ? it->second : -1;
}

bool recoverHive(std::shared_ptr<const std::vector<uint8_t>> image, RecoveryResult &out, std::string &error)
{
    out = RecoveryResult{};
    if (!image) {
        error = "No image.";
        return false;
    }
    if (image->size() > (uint64_t{2} << 30)) {
        error = "The file is larger than a hive can be (2 GiB).";
        return false;
    }
    out.image = image;
    Scanner scanner({image->data(), image->size()}, out);
    if (!scanner.run(error)) {
        out = RecoveryResult{};
        return false;
    }
    return true;
}

bool recoverHive(std::span<const uint8_t> image, RecoveryResult &out, std::string &error)
{
    return recoverHive(std::make_shared<const std::vector<uint8_t>>(image.begin(), image.end()), out, error);
}

bool recoverHiveFile(const std::string &path, RecoveryResult &out, std::string &error)
{
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    const LONG rc = vt::hive::readHiveFileBytes(path, *bytes);
    if (rc != ERROR_SUCCESS) {
        switch (rc) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            error = "The file was not found: " + path;
            break;
        case ERROR_ACCESS_DENIED:
            error = "Access to the file is denied: " + path;
            break;
        case ERROR_CANTREAD:
            error = "Not a regular file: " + path;
            break;
        case ERROR_REGISTRY_CORRUPT:
            error = "The file is larger than a hive can be (2 GiB): " + path;
            break;
        default:
            error = "The file could not be read: " + path;
        }
        out = RecoveryResult{};
        return false;
    }
    return recoverHive(std::shared_ptr<const std::vector<uint8_t>>(std::move(bytes)), out, error);
}

std::vector<RecoveredValue> liveValues(const RecoveryResult &result, const RecoveredKey &key)
{
    std::vector<RecoveredValue> out;
    if (!result.image || key.deleted() || key.valueCount == 0)
        return out;
    // A scanner over the same image reuses the bounded cell and data reads.
    RecoveryResult scratch;
    std::span<const uint8_t> img(result.image->data(), result.image->size());
    Scanner s(img, scratch);
    scratch.minorVersion = result.minorVersion;
    // Only the bins are needed to bound cells: rebuild them cheaply.
    uint64_t pos = kBase;
    const uint64_t declaredEnd = std::min<uint64_t>(kBase + result.binsDeclared, img.size());
    while (pos + kBinHeaderSize <= declaredEnd) {
        uint64_t size = std::memcmp(img.data() + pos, "hbin", 4) == 0 ? rd32(img.data() + pos + 8) : 0;
        if (size < kBinAlign || size % kBinAlign || pos + size > img.size())
            size = kBinAlign;
        else
            s.m_bins.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(pos + size), false});
        pos += size;
    }
    uint32_t fo = 0, len = 0;
    bool inUse = false;
    if (!s.cellAt(key.valueListCell, fo, len, inUse))
        return out;
    const uint32_t n = std::min<uint32_t>(key.valueCount, (len - 4) / 4);
    for (uint32_t e = 0; e < n; ++e) {
        uint32_t vfo = 0, vlen = 0;
        if (!s.cellAt(rd32(img.data() + fo + 4 + 4 * e), vfo, vlen, inUse))
            continue;
        const uint8_t *p = img.data() + vfo + 4;
        if (vlen < kVkSig || p[0] != 'v' || p[1] != 'k')
            continue;
        scratch.values.clear();
        if (!s.tryValue(vfo, vfo + vlen, Origin::Live))
            continue;
        RecoveredValue v = std::move(scratch.values.back());
        s.readData(v, true);
        out.push_back(std::move(v));
    }
    return out;
}

std::string fileTimeText(uint64_t ft)
{
    if (ft == 0)
        return {};
    const int64_t secs = static_cast<int64_t>(ft / 10000000ull) - 11644473600ll;
    int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const int64_t rem = secs - days * 86400;
    // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rem / 3600),
                  static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
    return buf;
}

std::string valueTypeName(uint32_t type)
{
    static const char *const names[] = {"REG_NONE",
                                        "REG_SZ",
                                        "REG_EXPAND_SZ",
                                        "REG_BINARY",
                                        "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN",
                                        "REG_LINK",
                                        "REG_MULTI_SZ",
                                        "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR",
                                        "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    if (type < std::size(names))
        return names[type];
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", type);
    return buf;
}

} // namespace vt::recovery
