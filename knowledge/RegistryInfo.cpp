#include "RegistryInfo.h"

#include "platform/Unicode.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace vt::knowledge
{

namespace
{

constexpr std::string_view kSignature = "TPF0";
constexpr std::string_view kItemClass = "TRegistryInfoItem";
constexpr unsigned char kListStart = 0x01;
constexpr unsigned char kListEnd = 0x00;
constexpr unsigned char kTagString = 0x06;     // 1-byte length, 8-bit characters
constexpr unsigned char kTagLString = 0x0C;    // 4-byte length, 8-bit characters
constexpr unsigned char kTagWString = 0x12;    // 4-byte character count, UTF-16LE
constexpr unsigned char kTagUtf8String = 0x14; // 4-byte length, UTF-8

[[noreturn]] void fail(const char *message)
{
    throw EInfoDatabase(message);
}

bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

void appendUInt32(std::string &out, std::uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((n >> (8 * i)) & 0xFF));
}

// Reads the stream; every length is checked against what is left before
// anything is taken or allocated.
class TStreamCursor
{
public:
    TStreamCursor(const char *data, std::size_t size) : m_data(data), m_left(size) {}

    std::size_t left() const { return m_left; }
    int peek() const { return m_left ? static_cast<unsigned char>(*m_data) : -1; }
    unsigned char byte()
    {
        if (!m_left)
            fail("Stream read error");
        --m_left;
        return static_cast<unsigned char>(*m_data++);
    }
    std::uint32_t uint32()
    {
        std::uint32_t n = 0;
        for (int i = 0; i < 4; ++i)
            n |= std::uint32_t(byte()) << (8 * i);
        return n;
    }
    std::string_view take(std::uint64_t count)
    {
        if (count > m_left)
            fail("Stream read error");
        const std::string_view bytes(m_data, std::size_t(count));
        m_data += count;
        m_left -= std::size_t(count);
        return bytes;
    }
    std::string string()
    {
        switch (byte()) {
        case kTagString:
            return std::string(take(byte()));
        case kTagLString:
        case kTagUtf8String:
            // The program's 8-bit character set is UTF-8: both keep their bytes.
            return std::string(take(uint32()));
        case kTagWString: {
            const std::string_view units = take(std::uint64_t(uint32()) * 2);
            return vt::platform::utf16leToUtf8(reinterpret_cast<const std::uint8_t *>(units.data()), units.size());
        }
        default:
            fail("Invalid property value");
        }
    }

private:
    const char *m_data;
    std::size_t m_left;
};

} // namespace

std::string ListToText(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> TextToList(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

void AppendInfoString(std::string &out, std::string_view text)
{
    if (text.size() > 0xFFFFFFFFu)
        throw EInfoDatabase("A text of the info database is longer than the file format holds.");
    if (isAscii(text) && text.size() <= 255) {
        out.push_back(char(kTagString));
        out.push_back(char(text.size()));
    } else {
        out.push_back(char(isAscii(text) ? kTagLString : kTagUtf8String));
        appendUInt32(out, std::uint32_t(text.size()));
    }
    out.append(text);
}

namespace
{

void appendFolded(std::string &out, std::string_view text)
{
    if (isAscii(text)) {
        const std::size_t at = out.size();
        out.append(text);
        for (std::size_t i = at; i < out.size(); ++i)
            if (out[i] >= 'A' && out[i] <= 'Z')
                out[i] = char(out[i] + 32);
        return;
    }
    out += QString::fromUtf8(text.data(), qsizetype(text.size())).toCaseFolded().toStdString();
}

// The hash of the folded text; never 0, which marks an empty slot.
std::uint64_t foldedHash(std::string_view key, std::string_view value, bool withValue)
{
    thread_local std::string folded;
    folded.clear();
    appendFolded(folded, key);
    if (withValue) {
        folded.push_back('\0');
        appendFolded(folded, value);
    }
    return std::uint64_t(std::hash<std::string_view>{}(folded)) | 1u;
}

} // namespace

std::string FoldInfoKey(std::string_view text)
{
    std::string folded;
    appendFolded(folded, text);
    return folded;
}

bool SameInfoKey(std::string_view a, std::string_view b)
{
    if (isAscii(a) && isAscii(b)) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z')
                x = char(x + 32);
            if (y >= 'A' && y <= 'Z')
                y = char(y + 32);
            if (x != y)
                return false;
        }
        return true;
    }
    return FoldInfoKey(a) == FoldInfoKey(b);
}

std::string DamagedFileName(const std::string &path)
{
    std::error_code ec;
    std::string name = path + ".damaged";
    for (int i = 1; std::filesystem::exists(std::filesystem::symlink_status(name, ec)); ++i)
        name = path + ".damaged." + std::to_string(i);
    return name;
}

// ---------------------------------------------------------------------------
// TRegistryInfo

TRegistryInfoItem &TRegistryInfo::Add(std::string key, std::string value)
{
    TRegistryInfoItem &item = m_items.emplace_back();
    item.Key = std::move(key);
    item.Value = std::move(value);
    index(m_items.size() - 1);
    return item;
}

void TRegistryInfo::index(std::size_t at)
{
    const TRegistryInfoItem &item = m_items[at];
    const bool isValue = !item.Value.empty();
    TIndex &index = isValue ? m_valueIndex : m_keyIndex;
    if ((index.used + 1) * 2 > index.table.size()) {
        std::vector<TIndex::Slot> grown(std::max<std::size_t>(64, index.table.size() * 2));
        const std::size_t mask = grown.size() - 1;
        for (const TIndex::Slot &slot : index.table) {
            if (!slot.hash)
                continue;
            std::size_t i = std::size_t(slot.hash) & mask;
            while (grown[i].hash)
                i = (i + 1) & mask;
            grown[i] = slot;
        }
        index.table.swap(grown);
    }
    const std::uint64_t hash = foldedHash(item.Key, item.Value, isValue);
    const std::size_t mask = index.table.size() - 1;
    std::size_t i = std::size_t(hash) & mask;
    for (; index.table[i].hash; i = (i + 1) & mask) {
        const TRegistryInfoItem &other = m_items[index.table[i].item];
        // The first item wins: later duplicates stay in the file but are never found.
        if (index.table[i].hash == hash && SameInfoKey(other.Key, item.Key) &&
            (!isValue || SameInfoKey(other.Value, item.Value)))
            return;
    }
    index.table[i] = {hash, std::uint32_t(at)};
    ++index.used;
}

TRegistryInfoItem *TRegistryInfo::find(const TIndex &index, std::string_view key, std::string_view value)
{
    if (index.table.empty())
        return nullptr;
    const bool isValue = !value.empty();
    const std::uint64_t hash = foldedHash(key, value, isValue);
    const std::size_t mask = index.table.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask; index.table[i].hash; i = (i + 1) & mask) {
        if (index.table[i].hash != hash)
            continue;
        TRegistryInfoItem &item = m_items[index.table[i].item];
        if (SameInfoKey(item.Key, key) && (!isValue || SameInfoKey(item.Value, value)))
            return &item;
    }
    return nullptr;
}

void TRegistryInfo::Clear()
{
    m_items.clear();
    m_keyIndex = {};
    m_valueIndex = {};
}

TRegistryInfoItem *TRegistryInfo::FindKeyItem(std::string_view key)
{
    return find(m_keyIndex, key, {});
}

TRegistryInfoItem *TRegistryInfo::FindValueItem(std::string_view key, std::string_view value)
{
    if (value.empty())
        return nullptr;
    return find(m_valueIndex, key, value);
}

void TRegistryInfo::ReadFromBytes(const char *data, std::size_t size)
{
    TStreamCursor in(data, size);
    if (in.left() < kSignature.size() || in.take(kSignature.size()) != kSignature)
        fail("Invalid stream format");
    if (in.byte() != kListStart)
        fail("Invalid property value");
    for (;;) {
        const int next = in.peek();
        if (next < 0)
            fail("Stream read error");
        if (next == kListEnd)
            break;
        if (in.string() != kItemClass)
            continue; // a foreign class name: skipped string by string
        TRegistryInfoItem item;
        item.Key = in.string();
        item.Value = in.string();
        item.Info = TextToList(in.string());
        item.URLs = TextToList(in.string());
        m_items.push_back(std::move(item));
        index(m_items.size() - 1);
    }
    in.byte();
    // Nothing of ours follows the list; the next save would drop it.
    if (in.left())
        fail("Unexpected data after the end of the list");
}

std::string TRegistryInfo::WriteToBytes() const
{
    std::string out;
    std::size_t estimate = 6;
    for (const TRegistryInfoItem &item : m_items)
        estimate += 40 + item.Key.size() + item.Value.size() + 16 * item.Info.size();
    out.reserve(estimate);
    out += kSignature;
    out.push_back(char(kListStart));
    for (const TRegistryInfoItem &item : m_items) {
        AppendInfoString(out, kItemClass);
        AppendInfoString(out, item.Key);
        AppendInfoString(out, item.Value);
        AppendInfoString(out, ListToText(item.Info));
        AppendInfoString(out, ListToText(item.URLs));
    }
    out.push_back(char(kListEnd));
    return out;
}

void TRegistryInfo::LoadFromFile(const std::string &path)
{
    Clear();
    m_keepAside = false;
    m_keepAsidePath.clear();
    m_keptAsideAs.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status) && !std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)))
        return;
    // From here on a file is there that the next save must not simply replace.
    m_keepAside = true;
    m_keepAsidePath = path;
    // A FIFO would block the open and a device never ends.
    if (!std::filesystem::is_regular_file(status))
        throw EInfoDatabase("\"" + path + "\" is not a regular file.");
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        throw EInfoDatabase("\"" + path + "\" cannot be read: " + ec.message());
    if (size > InfoFileSizeLimit)
        throw EInfoDatabase("\"" + path + "\" is too large for an info database (" + std::to_string(size) + " bytes).");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw EInfoDatabase("\"" + path + "\" cannot be opened.");
    // The file may have grown since: never more than the limit is read.
    std::string bytes(std::size_t(size), '\0');
    file.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(file.gcount()));
    if (bytes.size() == size && file.peek() != std::char_traits<char>::eof())
        throw EInfoDatabase("\"" + path + "\" changed while it was read.");
    ReadFromBytes(bytes.data(), bytes.size());
    m_keepAside = false;
    m_keepAsidePath.clear();
}

void TRegistryInfo::SaveToFile(const std::string &path)
{
    const QString name = QString::fromStdString(path);
    if (m_keepAside && m_keepAsidePath == path) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
            const std::string aside = DamagedFileName(path);
            // QFile::rename never replaces an existing file.
            QFile damaged(name);
            if (!damaged.rename(QString::fromStdString(aside)))
                throw EInfoDatabase("The info database \"" + path + "\" could not be kept aside as \"" + aside +
                                    "\" before saving: " + damaged.errorString().toStdString());
            m_keptAsideAs = aside;
        }
        m_keepAside = false;
        m_keepAsidePath.clear();
    }
    const std::string bytes = WriteToBytes();
    // A temporary file in the same folder, flushed and renamed over the old
    // one on commit: a crash or a full disk leaves the old file whole.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        throw EInfoDatabase("Cannot write \"" + path + "\": " + file.errorString().toStdString());
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit())
        throw EInfoDatabase("Cannot write \"" + path + "\": " + file.errorString().toStdString());
}

} // namespace vt::knowledge
