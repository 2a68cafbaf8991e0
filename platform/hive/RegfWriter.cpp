#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"

#include <algorithm>
#include <unordered_map>

namespace vt::hive
{

using namespace regf;

namespace
{

// Windows' fast index leaf holds at most this many entries before it splits
// and the key gets an ri root over several leaves.
constexpr size_t kLeafMax = 507;

// Owner Administrators, group SYSTEM; SYSTEM and Administrators full control,
// Everyone read, all inherited by subkeys. Used for keys that carry none.
const SecurityDescriptor &defaultSecurity()
{
    static const SecurityDescriptor sd = [] {
        const uint8_t admins[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};
        const uint8_t system[] = {1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0};
        const uint8_t everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
        SecurityDescriptor b(20, 0);
        b[0] = 1;
        wr16(&b[2], 0x8004); // self-relative, DACL present
        auto append = [&b](const uint8_t *p, size_t n) { b.insert(b.end(), p, p + n); };
        wr32(&b[4], static_cast<uint32_t>(b.size()));
        append(admins, sizeof admins);
        wr32(&b[8], static_cast<uint32_t>(b.size()));
        append(system, sizeof system);
        wr32(&b[16], static_cast<uint32_t>(b.size()));
        const size_t acl = b.size();
        b.resize(acl + 8);
        b[acl] = 2;
        auto ace = [&](uint32_t mask, const uint8_t *sid, size_t n) {
            const size_t at = b.size();
            b.resize(at + 8);
            b[at] = 0;     // access allowed
            b[at + 1] = 2; // container inherit
            wr16(&b[at + 2], static_cast<uint16_t>(8 + n));
            wr32(&b[at + 4], mask);
            append(sid, n);
        };
        ace(0xF003F, system, sizeof system);
        ace(0xF003F, admins, sizeof admins);
        ace(0x20019, everyone, sizeof everyone);
        wr16(&b[acl + 2], static_cast<uint16_t>(b.size() - acl));
        wr16(&b[acl + 4], 3);
        return b;
    }();
    return sd;
}

// Lays the hive out bin by bin. With a sink, bins go out as soon as a
// MiB of them is laid out, so a hive of any size costs a bounded buffer;
// the few fields filled in after their cell went out (a key's fixed part
// written after its subkeys, security cell links, the base block) are
// overwritten in place. Without one the whole image stays in memory.
class Writer
{
public:
    Writer(const Hive &hive, ImageSink *sink) : m_hive(hive), m_sink(sink) {}
    std::vector<uint8_t> run();

private:
    struct Written {
        uint32_t off;
        uint32_t nameBytes; // as UTF-16, the unit of the nk maximums
        uint32_t classBytes;
    };
    struct Sk {
        uint32_t off;
        uint32_t refs;
    };

    uint32_t alloc(size_t payload);
    // A cell just allocated, valid until the next allocation (which may send
    // the buffer out).
    uint8_t *at(uint32_t off) { return m_buf.data() + (kBaseBlockSize + off - m_base); }
    // Bytes at a file offset, wherever the buffer stands now.
    void put(size_t fileOff, const uint8_t *p, size_t n);
    void sendOut();
    void openBin(size_t size);
    void closeBin();
    uint32_t securityCell(const SecurityDescriptor *sd);
    uint32_t writeData(const std::vector<uint8_t> &data, uint32_t &sizeField);
    uint32_t writeValues(const Key &key, uint32_t &maxName, uint32_t &maxData);
    uint32_t writeSubkeyList(std::vector<std::pair<std::u16string, Written>> &children);
    Written writeKey(const Key &key, uint32_t parentOff, const SecurityDescriptor *inherited, bool root);

    static constexpr size_t kWindow = size_t{1} << 20; // bytes laid out before they go to the sink

    const Hive &m_hive;
    ImageSink *m_sink;
    std::vector<uint8_t> m_buf; // the image from file offset m_base on
    size_t m_base = 0;
    bool m_sinkFailed = false;
    size_t m_cur = 0;    // next free byte, file offset
    size_t m_binEnd = 0; // end of the open bin, file offset
    std::unordered_map<const SecurityDescriptor *, size_t> m_skByPtr;
    std::unordered_map<std::string, size_t> m_skByBytes;
    std::vector<Sk> m_sks;
};

void Writer::put(size_t fileOff, const uint8_t *p, size_t n)
{
    if (fileOff >= m_base)
        std::memcpy(m_buf.data() + (fileOff - m_base), p, n);
    else if (!m_sinkFailed)
        m_sinkFailed = !m_sink->overwrite(fileOff, p, n);
}

void Writer::sendOut()
{
    if (!m_sinkFailed && !m_buf.empty())
        m_sinkFailed = !m_sink->append(m_buf.data(), m_buf.size());
    m_base += m_buf.size();
    m_buf.clear();
}

void Writer::openBin(size_t size)
{
    if (m_sink && m_buf.size() >= kWindow)
        sendOut();
    const size_t start = m_base + m_buf.size();
    m_buf.resize(start - m_base + size, 0);
    uint8_t *b = m_buf.data() + (start - m_base);
    std::memcpy(b, "hbin", 4);
    wr32(b + 4, static_cast<uint32_t>(start - kBaseBlockSize));
    wr32(b + 8, static_cast<uint32_t>(size));
    if (start == kBaseBlockSize)
        wr64(b + 20, m_hive.headerTimestamp);
    m_cur = start + kBinHeaderSize;
    m_binEnd = start + size;
}

void Writer::closeBin()
{
    if (m_binEnd > m_cur) // the rest of the bin is one free cell
        wr32(m_buf.data() + (m_cur - m_base), static_cast<uint32_t>(m_binEnd - m_cur));
    m_cur = m_binEnd;
}

uint32_t Writer::alloc(size_t payload)
{
    const size_t need = (payload + 4 + 7) & ~size_t{7};
    if (m_cur + need > m_binEnd) {
        closeBin();
        openBin(std::max<size_t>(kBinAlign, (need + kBinHeaderSize + kBinAlign - 1) & ~size_t{kBinAlign - 1}));
    }
    const size_t off = m_cur;
    wr32(m_buf.data() + (off - m_base), static_cast<uint32_t>(-static_cast<int32_t>(need)));
    m_cur += need;
    return static_cast<uint32_t>(off - kBaseBlockSize);
}

uint32_t Writer::securityCell(const SecurityDescriptor *sd)
{
    size_t index;
    if (auto it = m_skByPtr.find(sd); it != m_skByPtr.end()) {
        index = it->second;
    } else {
        std::string bytes(sd->begin(), sd->end());
        auto found = m_skByBytes.find(bytes);
        if (found != m_skByBytes.end()) {
            index = found->second;
        } else {
            const uint32_t off = alloc(kSkFixed + sd->size());
            uint8_t *p = at(off) + 4;
            p[0] = 's';
            p[1] = 'k';
            wr32(p + 16, static_cast<uint32_t>(sd->size()));
            if (!sd->empty())
                std::memcpy(p + kSkFixed, sd->data(), sd->size());
            index = m_sks.size();
            m_sks.push_back({off, 0});
            m_skByBytes.emplace(std::move(bytes), index);
        }
        m_skByPtr.emplace(sd, index);
    }
    ++m_sks[index].refs;
    return m_sks[index].off;
}

uint32_t Writer::writeData(const std::vector<uint8_t> &data, uint32_t &sizeField)
{
    const size_t n = data.size();
    if (n <= 4) {
        uint8_t raw[4] = {0, 0, 0, 0};
        if (n)
            std::memcpy(raw, data.data(), n);
        sizeField = static_cast<uint32_t>(n) | 0x80000000u;
        return rd32(raw);
    }
    sizeField = static_cast<uint32_t>(n);
    const size_t segments = (n + kBigDataSegment - 1) / kBigDataSegment;
    if (m_hive.minorVersion < 4 || n <= kBigDataSegment || segments > 0xFFFF) {
        const uint32_t off = alloc(n);
        std::memcpy(at(off) + 4, data.data(), n);
        return off;
    }
    // Big data: a db header and a list of segment cells. Every segment cell is
    // full size, the last too, as Windows allocates them; peers rely on it.
    const uint32_t db = alloc(8);
    const uint32_t list = alloc(segments * 4);
    std::vector<uint8_t> entries(segments * 4);
    for (size_t i = 0; i < segments; ++i) {
        const size_t take = std::min<size_t>(kBigDataSegment, n - i * kBigDataSegment);
        const uint32_t seg = alloc(kBigDataSegment);
        std::memcpy(at(seg) + 4, data.data() + i * kBigDataSegment, take);
        wr32(entries.data() + 4 * i, seg);
    }
    put(kBaseBlockSize + list + 4, entries.data(), entries.size());
    uint8_t head[8] = {'d', 'b'};
    wr16(head + 2, static_cast<uint16_t>(segments));
    wr32(head + 4, list);
    put(kBaseBlockSize + db + 4, head, sizeof head);
    return db;
}

uint32_t Writer::writeValues(const Key &key, uint32_t &maxName, uint32_t &maxData)
{
    if (key.values.empty())
        return kNoCell;
    std::vector<uint32_t> offs;
    offs.reserve(key.values.size());
    for (const Value &v : key.values) {
        std::u16string name = toUtf16(v.name);
        const bool comp = v.nameCompressed && fitsLatin1(name);
        if (name.size() > 0x7FFF)
            name.resize(0x7FFF);
        const size_t nameBytes = comp ? name.size() : name.size() * 2;
        maxName = std::max<uint32_t>(maxName, static_cast<uint32_t>(name.size() * 2));
        maxData = std::max<uint32_t>(maxData, static_cast<uint32_t>(v.data.size()));
        uint32_t sizeField = 0;
        // A tombstone carries no data at all, not even inline, as Windows writes it.
        const bool tombstone = (v.flags & 0x0002) && v.data.empty();
        const uint32_t dataOff = tombstone ? kNoCell : writeData(v.data, sizeField);
        const uint32_t vk = alloc(kVkFixed + nameBytes);
        uint8_t *p = at(vk) + 4;
        p[0] = 'v';
        p[1] = 'k';
        wr16(p + 2, static_cast<uint16_t>(nameBytes));
        wr32(p + 4, sizeField);
        wr32(p + 8, dataOff);
        wr32(p + 12, v.type);
        wr16(p + 16, static_cast<uint16_t>((v.flags & ~kValueCompName) | (comp ? kValueCompName : 0)));
        for (size_t i = 0; i < name.size(); ++i) {
            if (comp)
                p[kVkFixed + i] = static_cast<uint8_t>(name[i]);
            else
                wr16(p + kVkFixed + 2 * i, name[i]);
        }
        offs.push_back(vk);
    }
    const uint32_t list = alloc(offs.size() * 4);
    uint8_t *p = at(list) + 4;
    for (size_t i = 0; i < offs.size(); ++i)
        wr32(p + 4 * i, offs[i]);
    return list;
}

uint32_t Writer::writeSubkeyList(std::vector<std::pair<std::u16string, Written>> &children)
{
    if (children.empty())
        return kNoCell;
    // Windows keeps lists in the order of upper-cased UTF-16 code units.
    auto less = [](const auto &a, const auto &b) { return a.first < b.first; };
    if (!std::is_sorted(children.begin(), children.end(), less))
        std::stable_sort(children.begin(), children.end(), less);
    // Hash leaves came with format 1.5; older hives get fast leaves with a
    // four-character hint (0 where a character does not fit in a byte).
    const bool hashLeaf = m_hive.minorVersion >= 5;
    auto leaf = [&](size_t from, size_t to) {
        const uint32_t off = alloc(4 + (to - from) * 8);
        uint8_t *p = at(off) + 4;
        p[0] = 'l';
        p[1] = hashLeaf ? 'h' : 'f';
        wr16(p + 2, static_cast<uint16_t>(to - from));
        for (size_t i = from; i < to; ++i) {
            const std::u16string &upper = children[i].first;
            uint8_t *entry = p + 4 + (i - from) * 8;
            wr32(entry, children[i].second.off);
            if (hashLeaf) {
                uint32_t hash = 0;
                for (char16_t c : upper)
                    hash = hash * 37 + c;
                wr32(entry + 4, hash);
            } else {
                for (size_t k = 0; k < 4 && k < upper.size(); ++k)
                    entry[4 + k] = upper[k] <= 0xFF ? static_cast<uint8_t>(upper[k]) : 0;
            }
        }
        return off;
    };
    const size_t n = children.size();
    if (n <= kLeafMax)
        return leaf(0, n);
    const size_t leaves = (n + kLeafMax - 1) / kLeafMax;
    std::vector<uint32_t> leafOffs;
    leafOffs.reserve(leaves);
    for (size_t i = 0; i < leaves; ++i)
        leafOffs.push_back(leaf(n * i / leaves, n * (i + 1) / leaves));
    const uint32_t ri = alloc(4 + leaves * 4);
    uint8_t *p = at(ri) + 4;
    p[0] = 'r';
    p[1] = 'i';
    wr16(p + 2, static_cast<uint16_t>(leaves));
    for (size_t i = 0; i < leaves; ++i)
        wr32(p + 4 + 4 * i, leafOffs[i]);
    return ri;
}

Writer::Written Writer::writeKey(const Key &key, uint32_t parentOff, const SecurityDescriptor *inherited, bool root)
{
    std::u16string name = toUtf16(key.name);
    const bool comp = key.nameCompressed && fitsLatin1(name);
    if (name.size() > 0x7FFF)
        name.resize(0x7FFF);
    const size_t nameBytes = comp ? name.size() : name.size() * 2;
    const uint32_t nk = alloc(kNkFixed + nameBytes);
    {
        uint8_t *p = at(nk) + 4;
        for (size_t i = 0; i < name.size(); ++i) {
            if (comp)
                p[kNkFixed + i] = static_cast<uint8_t>(name[i]);
            else
                wr16(p + kNkFixed + 2 * i, name[i]);
        }
    }

    uint32_t classOff = kNoCell, classBytes = 0;
    if (!key.className.empty()) {
        std::u16string cls = toUtf16(key.className);
        if (cls.size() > 0x7FFF)
            cls.resize(0x7FFF);
        classBytes = static_cast<uint32_t>(cls.size() * 2);
        classOff = alloc(classBytes);
        uint8_t *p = at(classOff) + 4;
        for (size_t i = 0; i < cls.size(); ++i)
            wr16(p + 2 * i, cls[i]);
    }

    const SecurityDescriptor *sd = key.security ? key.security.get() : inherited;
    const uint32_t sk = securityCell(sd);

    uint32_t maxValueName = 0, maxValueData = 0;
    const uint32_t valueList = writeValues(key, maxValueName, maxValueData);

    std::vector<std::pair<std::u16string, Written>> children;
    children.reserve(key.subkeys.size());
    uint32_t maxChildName = 0, maxChildClass = 0;
    for (const auto &child : key.subkeys) {
        if (child->isVolatile)
            continue;
        const Written w = writeKey(*child, nk, sd, false);
        maxChildName = std::max(maxChildName, w.nameBytes);
        maxChildClass = std::max(maxChildClass, w.classBytes);
        children.emplace_back(
            toUtf16(child->upperName.empty() && !child->name.empty() ? upperName(child->name) : child->upperName), w);
    }
    const uint32_t subkeyList = writeSubkeyList(children);

    uint16_t flags = key.flags & ~(kKeyVolatile | kKeyCompName | kKeyHiveEntry);
    if (comp)
        flags |= kKeyCompName;
    if (root)
        flags |= kKeyHiveEntry | kKeyNoDelete;
    uint8_t p[kNkFixed] = {};
    p[0] = 'n';
    p[1] = 'k';
    wr16(p + 2, flags);
    wr64(p + 4, key.lastWriteTime);
    wr32(p + 12, key.accessBits);
    wr32(p + 16, parentOff);
    wr32(p + 20, static_cast<uint32_t>(children.size()));
    wr32(p + 28, subkeyList);
    wr32(p + 32, kNoCell);
    wr32(p + 36, static_cast<uint32_t>(key.values.size()));
    wr32(p + 40, valueList);
    wr32(p + 44, sk);
    wr32(p + 48, classOff);
    wr32(p + 52, std::min<uint32_t>(maxChildName, 0xFFFF) | (uint32_t{key.virtControlFlags & 0x0Fu} << 16) |
                     (uint32_t{key.userFlags & 0x0Fu} << 20));
    wr32(p + 56, maxChildClass);
    wr32(p + 60, maxValueName);
    wr32(p + 64, maxValueData);
    wr16(p + 72, static_cast<uint16_t>(nameBytes));
    wr16(p + 74, static_cast<uint16_t>(classBytes));
    put(kBaseBlockSize + nk + 4, p, sizeof p);
    return {nk, static_cast<uint32_t>(name.size() * 2), classBytes};
}

std::vector<uint8_t> Writer::run()
{
    m_buf.reserve(m_sink ? kWindow + kBinAlign : size_t{1} << 20);
    m_buf.resize(kBaseBlockSize, 0);
    openBin(kBinAlign);

    Key empty;
    const Key &root = m_hive.root ? *m_hive.root : empty;
    const uint32_t rootOff = writeKey(root, 0, &defaultSecurity(), true).off;
    closeBin();

    // The sk cells form one circular doubly linked list.
    for (size_t i = 0; i < m_sks.size(); ++i) {
        uint8_t links[12];
        wr32(links, m_sks[(i + 1) % m_sks.size()].off);
        wr32(links + 4, m_sks[(i + m_sks.size() - 1) % m_sks.size()].off);
        wr32(links + 8, m_sks[i].refs);
        put(kBaseBlockSize + m_sks[i].off + 8, links, sizeof links);
    }

    const size_t end = m_base + m_buf.size();
    uint8_t b[kBaseBlockSize] = {};
    std::memcpy(b, "regf", 4);
    wr32(b + 4, 1);
    wr32(b + 8, 1);
    wr64(b + 12, m_hive.headerTimestamp);
    wr32(b + 20, 1);
    wr32(b + 24, std::clamp<uint32_t>(m_hive.minorVersion, 3, 6));
    wr32(b + 28, 0); // primary file
    wr32(b + 32, 1); // direct memory load
    wr32(b + 36, rootOff);
    wr32(b + 40, static_cast<uint32_t>(end - kBaseBlockSize));
    wr32(b + 44, 1);
    const std::u16string fileName = toUtf16(m_hive.fileName);
    // 64 bytes hold 31 characters and a terminator; Windows keeps the tail of long paths.
    const size_t keep = std::min<size_t>(fileName.size(), 31);
    for (size_t i = 0; i < keep; ++i)
        wr16(b + 48 + 2 * i, fileName[fileName.size() - keep + i]);
    wr32(b + kChecksumOffset, baseBlockChecksum(b));
    put(0, b, sizeof b);
    if (!m_sink)
        return std::move(m_buf);
    sendOut();
    return {};
}

} // namespace

std::vector<uint8_t> writeHive(const Hive &hive)
{
    return Writer(hive, nullptr).run();
}

void writeHive(const Hive &hive, ImageSink &sink)
{
    Writer(hive, &sink).run();
}

} // namespace vt::hive
