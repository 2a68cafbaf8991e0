#include "regfile/RegFileReader.h"

#include "core/zoStrings.h"
#include "platform/vtPlatform.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i])
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// Backslash-backslash and backslash-quote stand for the second character,
// read left to right so that "\\\"" cannot be misread.
std::string unescapeLeftToRight(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            ++i;
        out.push_back(s[i]);
    }
    return out;
}

std::string afterColon(std::string_view data)
{
    size_t colon = data.find(':');
    return std::string(colon == std::string_view::npos ? std::string_view() : data.substr(colon + 1));
}

std::string hexDigitsOf(std::string_view data)
{
    std::string digits;
    for (char c : afterColon(data))
        if (c != ',' && c != ' ' && c != '\t')
            digits.push_back(c);
    return digits;
}

std::string spacedHex(std::string_view data)
{
    std::string out = afterColon(data);
    for (char &c : out) {
        if (c == ',')
            c = ' ';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool looksUtf16(const TRegByteArray &bytes)
{
    const size_t n = bytes.size();
    return n >= 3 && bytes[n - 1] == 0 && bytes[n - 2] == 0 && bytes[n - 3] == 0;
}

// A string list as shown: its characters with the zero bytes dropped.
std::string stringListDisplay(std::string_view data, THexTextEncoding encoding)
{
    TRegByteArray bytes = HexListToBytes(data);
    bool utf16 = encoding == THexTextEncoding::Utf16 || (encoding == THexTextEncoding::Guess && looksUtf16(bytes));
    TRegByteArray text = utf16 ? HexListToStringData(data, true) : bytes;
    std::string shown;
    for (uint8_t b : text)
        if (b != 0)
            shown.push_back(static_cast<char>(b));
    return shown;
}

// Reads a file line by line, split at CR LF, CR or LF, in 8-bit units or as
// UTF-16LE units turned into UTF-8, with a bounded buffer.
class LineSource
{
public:
    bool open(const std::string &fileName, bool utf16)
    {
        m_unit = utf16 ? 2 : 1;
        m_file.open(fileName, std::ios::binary);
        if (!m_file)
            return false;
        if (utf16) {
            m_file.seekg(2);
            m_dropped = 2;
        }
        return true;
    }

    // The next line, converted into *line unless line is null.
    bool next(std::string *line)
    {
        for (;;) {
            size_t j = findBreak();
            if (j != npos) {
                const bool cr = unitAt(j) == '\r';
                if (cr && j + 2 * m_unit > m_buf.size() && !m_eof) {
                    fill(); // the LF of a CR LF may be in the next block
                    continue;
                }
                emit(j, line);
                m_pos = j + m_unit;
                if (cr && m_pos + m_unit <= m_buf.size() && unitAt(m_pos) == '\n')
                    m_pos += m_unit;
                m_scan = m_pos;
                return true;
            }
            if (!m_eof) {
                if (m_buf.size() - m_pos > MaxLineBytes) {
                    m_tooLong = true;
                    return false;
                }
                fill();
                continue;
            }
            if (m_buf.size() - m_pos >= m_unit) {
                emit(m_buf.size() - (m_buf.size() - m_pos) % m_unit, line);
                m_pos = m_scan = m_buf.size();
                return true;
            }
            return false;
        }
    }

    // A line longer than any value a hive can hold, written out: the file is
    // not a registry file, and reading on would take memory without bound.
    bool tooLong() const { return m_tooLong; }

    // Bytes of the file taken by the lines returned so far.
    uint64_t consumed() const { return m_dropped + m_pos; }

private:
    static constexpr size_t npos = std::string::npos;
    static constexpr size_t BlockSize = 1 << 16;
    static constexpr size_t MaxLineBytes = size_t{2} << 30;

    unsigned unitAt(size_t i) const
    {
        const auto *p = reinterpret_cast<const unsigned char *>(m_buf.data());
        return m_unit == 1 ? p[i] : unsigned(p[i] | (p[i + 1] << 8));
    }

    size_t findBreak()
    {
        if (m_unit == 1) {
            size_t j = m_buf.find_first_of("\r\n", m_scan);
            m_scan = j == npos ? m_buf.size() : j;
            return j;
        }
        for (; m_scan + 2 <= m_buf.size(); m_scan += 2) {
            unsigned u = unitAt(m_scan);
            if (u == '\r' || u == '\n')
                return m_scan;
        }
        return npos;
    }

    void emit(size_t end, std::string *line)
    {
        if (!line)
            return;
        const char *p = m_buf.data() + m_pos;
        if (m_unit == 1)
            line->assign(p, end - m_pos);
        else
            *line = Utf16leBytesToUtf8(reinterpret_cast<const uint8_t *>(p), end - m_pos);
    }

    void fill()
    {
        m_dropped += m_pos;
        m_buf.erase(0, m_pos);
        m_scan -= m_pos;
        m_pos = 0;
        const size_t old = m_buf.size();
        m_buf.resize(old + BlockSize);
        m_file.read(m_buf.data() + old, BlockSize);
        const size_t got = static_cast<size_t>(m_file.gcount());
        m_buf.resize(old + got);
        if (got < BlockSize)
            m_eof = true;
    }

    std::ifstream m_file;
    std::string m_buf;
    size_t m_pos = 0, m_scan = 0;
    uint64_t m_dropped = 0;
    size_t m_unit = 1;
    bool m_eof = false;
    bool m_tooLong = false;
};

// N of "hex(N):" with one to eight hexadecimal digits.
bool rawTypeCode(std::string_view data, uint32_t &code)
{
    if (!startsWithNoCase(data, "hex("))
        return false;
    const size_t close = data.find(')');
    if (close == std::string_view::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
        data[close + 1] != ':')
        return false;
    code = 0;
    for (size_t i = 4; i < close; ++i) {
        const char c = data[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        code = code * 16 + uint32_t(digit);
    }
    return true;
}

enum class FileKind { Missing, NotAFile, Unknown, Version4, Version5 };

FileKind detectFile(const std::string &fileName)
{
    std::error_code ec;
    const auto status = std::filesystem::status(fileName, ec);
    if (ec || !std::filesystem::exists(status))
        return FileKind::Missing;
    // A FIFO would block the open and a device never ends; the file is read
    // twice besides (counting, then applying).
    if (!std::filesystem::is_regular_file(status))
        return FileKind::NotAFile;
    std::ifstream f(fileName, std::ios::binary);
    if (!f)
        return FileKind::Missing;
    char head[2] = {0, 0};
    f.read(head, 2);
    f.close();
    LineSource src;
    std::string first;
    if (src.open(fileName, false) && src.next(&first) && startsWith(first, RegFileHeader4))
        return FileKind::Version4;
    if (static_cast<unsigned char>(head[0]) == 0xFF && static_cast<unsigned char>(head[1]) == 0xFE) {
        LineSource wide;
        if (wide.open(fileName, true) && wide.next(&first) && startsWith(first, RegFileHeader5))
            return FileKind::Version5;
    }
    return FileKind::Unknown;
}

std::string fileKindError(FileKind kind, const std::string &fileName)
{
    switch (kind) {
    case FileKind::Missing:
        return "The file \"" + fileName + "\" cannot be opened.";
    case FileKind::NotAFile:
        return "The file \"" + fileName + "\" is not a regular file.";
    case FileKind::Unknown:
        return "The file \"" + fileName + "\" is not a registry file: it must begin with \"" + RegFileHeader4 +
               "\" or, in UTF-16 with byte order mark, \"" + RegFileHeader5 + "\".";
    default:
        return {};
    }
}

} // namespace

// ---------------------------------------------------------------------------
// TRegFileLineSource

struct TRegFileLineSource::Impl {
    LineSource source;
};

TRegFileLineSource::TRegFileLineSource() = default;
TRegFileLineSource::~TRegFileLineSource() = default;

bool TRegFileLineSource::Open(const std::string &fileName)
{
    m_impl.reset();
    m_error.clear();
    const FileKind kind = detectFile(fileName);
    if (kind != FileKind::Version4 && kind != FileKind::Version5) {
        m_error = fileKindError(kind, fileName);
        return false;
    }
    m_utf16 = kind == FileKind::Version5;
    std::error_code ec;
    m_size = std::filesystem::file_size(fileName, ec);
    if (ec)
        m_size = 0;
    m_impl = std::make_unique<Impl>();
    if (!m_impl->source.open(fileName, m_utf16)) {
        m_impl.reset();
        m_error = fileKindError(FileKind::Missing, fileName);
        return false;
    }
    return true;
}

bool TRegFileLineSource::Next(std::string &line)
{
    return m_impl && m_impl->source.next(&line);
}

bool TRegFileLineSource::TooLong() const
{
    return m_impl && m_impl->source.tooLong();
}

uint64_t TRegFileLineSource::BytesRead() const
{
    return m_impl ? m_impl->source.consumed() : 0;
}

// ---------------------------------------------------------------------------
// TRegFileLineJoiner

TRegFileLineJoiner::TKind TRegFileLineJoiner::Feed(std::string_view line, size_t lineNumber, std::string &text)
{
    if (line.empty())
        return lkNothing;
    std::string_view body = trimmed(line);
    if (line.front() == '[' && !body.empty() && body.back() == ']') {
        // A dangling continuation must not leak into the next key.
        m_pending.clear();
        text.assign(body);
        return lkKey;
    }
    // Comments; ";" ones too, so that a comment ending in a backslash cannot
    // swallow the value line after it.
    if (startsWith(line, "//") || startsWith(body, ";"))
        return lkNothing;
    if (body.empty() && m_pending.empty())
        return lkNothing;
    if (m_pending.empty())
        m_pendingLine = lineNumber;
    if (!body.empty() && body.back() == '\\') {
        m_pending.append(body.substr(0, body.size() - 1));
        return lkNothing;
    }
    m_pending.append(body);
    text.swap(m_pending);
    m_pending.clear();
    m_valueLine = m_pendingLine;
    return lkValue;
}

// ---------------------------------------------------------------------------
// TMyRegistryReader

TMyRegistryReader::TMyRegistryReader() = default;
TMyRegistryReader::~TMyRegistryReader() = default;

bool TMyRegistryReader::ReadUtf16File(const std::string &fileName, std::vector<std::string> &list)
{
    LineSource src;
    if (!src.open(fileName, true))
        return false;
    list.clear();
    std::string line;
    while (src.next(&line))
        list.push_back(line);
    return true;
}

bool TMyRegistryReader::LoadFromFile(const std::string &fileName)
{
    m_lastError.clear();
    const FileKind kind = detectFile(fileName);
    if (kind != FileKind::Version4 && kind != FileKind::Version5) {
        m_lastError = fileKindError(kind, fileName);
        return false;
    }
    const bool utf16 = kind == FileKind::Version5;

    // A first pass counts the lines for the progress events; the second
    // applies them, so memory stays bounded whatever the file's size.
    size_t count = 0;
    {
        LineSource counter;
        counter.open(fileName, utf16);
        while (counter.next(nullptr))
            ++count;
        if (counter.tooLong()) {
            m_lastError = "The file \"" + fileName + "\" has a line longer than any value can be.";
            return false;
        }
    }
    if (count <= 2)
        return true;

    LineSource src;
    if (!src.open(fileName, utf16)) {
        m_lastError = fileKindError(FileKind::Missing, fileName);
        return false;
    }
    m_stop = false;
    std::string line;
    src.next(&line);
    beginParse(line);
    src.next(&line);
    // One flush for the whole import instead of one per change; the import is
    // durable when this returns.
    vt::platform::DeferredSync batch;
    for (size_t index = 2; index < count && !m_stop && src.next(&line); ++index) {
        if (OnProgress)
            OnProgress(index, count - 1);
        m_lineNumber = index + 1;
        handleLine(line);
    }
    m_reg.CloseKey();
    return true;
}

void TMyRegistryReader::ParseLines(const std::vector<std::string> &lines)
{
    if (lines.size() <= 2)
        return;
    m_stop = false;
    beginParse(lines[0]);
    for (size_t index = 2; index < lines.size() && !m_stop; ++index) {
        if (OnProgress)
            OnProgress(index, lines.size() - 1);
        m_lineNumber = index + 1;
        handleLine(lines[index]);
    }
    m_reg.CloseKey();
}

void TMyRegistryReader::SetBitness(uint8_t bits)
{
    m_reg.SetBitness(bits);
    if (bits == 32)
        m_reg.SetAccess(m_reg.Access() | KEY_WOW64_32KEY);
}

void TMyRegistryReader::ignoreLine(size_t lineNumber)
{
    ++m_ignoredLines;
    if (m_firstIgnored.size() < MaxIgnoredLineNumbers)
        m_firstIgnored.push_back(lineNumber);
}

void TMyRegistryReader::beginParse(std::string_view header)
{
    m_keyOpen = false;
    m_joiner.Reset();
    if (startsWith(header, RegFileHeader5))
        m_encoding = THexTextEncoding::Utf16;
    else if (startsWith(header, RegFileHeader4))
        m_encoding = THexTextEncoding::Bytes8;
    else
        m_encoding = THexTextEncoding::Guess;
}

void TMyRegistryReader::handleLine(std::string_view line)
{
    std::string text;
    switch (m_joiner.Feed(line, m_lineNumber, text)) {
    case TRegFileLineJoiner::lkKey:
        handleKeyLine(text);
        break;
    case TRegFileLineJoiner::lkValue:
        m_pendingLine = m_joiner.ValueStartLine();
        if (!m_keyOpen && WriteToRegistry)
            ignoreLine(m_pendingLine);
        else
            ParseValueLine(text);
        break;
    default:
        break;
    }
}

void TMyRegistryReader::handleKeyLine(std::string_view line)
{
    m_reg.CloseKey();
    m_keyOpen = false;
    std::string_view inner = line.substr(1, line.size() - 2);
    const bool deletion = !inner.empty() && inner.front() == '-';
    if (deletion)
        inner.remove_prefix(1);
    size_t slash = inner.find('\\');
    std::string rootName, path;
    if (slash != std::string_view::npos) {
        rootName = std::string(inner.substr(0, slash));
        path = std::string(inner.substr(slash));
    }
    HKEY root = rootName.empty() ? nullptr : NameToRootKey(rootName);
    m_root = root;
    m_path = path;
    if (OnKey)
        OnKey(root, path, deletion);
    if (!root) {
        if (WriteToRegistry)
            ignoreLine(m_lineNumber);
        return;
    }
    m_reg.SetRootKey(root);
    if (deletion) {
        // "[-HKEY_LOCAL_MACHINE\]" names the root itself: never empty a root.
        bool namesKey = path.find_first_not_of('\\') != std::string::npos;
        if (WriteToRegistry && namesKey && m_reg.DeleteKey(path))
            ++m_keysApplied;
        return;
    }
    if (WriteToRegistry) {
        m_keyOpen = m_reg.OpenKey(path, true);
        if (m_keyOpen) {
            ++m_keysApplied;
        } else {
            ++m_keysFailed;
            ignoreLine(m_lineNumber);
        }
    }
}

TValueLineParts TMyRegistryReader::SplitValueLine(std::string_view text)
{
    TValueLineParts parts;
    std::string_view rawName;
    if (startsWith(text, "-")) {
        parts.Deletion = true;
        rawName = text.substr(1);
        size_t eq = rawName.find('=');
        if (eq != std::string_view::npos) {
            parts.HasEquals = true;
            parts.Data = rawName.substr(eq + 1);
            rawName = rawName.substr(0, eq);
        }
    } else {
        size_t eq = std::string_view::npos;
        if (startsWith(text, "\"")) {
            // A quoted name ends at the quote before "=", so names may hold "=".
            for (size_t i = 1; i + 1 < text.size(); ++i) {
                if (text[i] == '\\' && (text[i + 1] == '\\' || text[i + 1] == '"')) {
                    ++i;
                } else if (text[i] == '"' && text[i + 1] == '=') {
                    eq = i + 1;
                    break;
                }
            }
        }
        if (eq == std::string_view::npos)
            eq = text.find('=');
        if (eq != std::string_view::npos) {
            parts.HasEquals = true;
            rawName = text.substr(0, eq);
            parts.Data = text.substr(eq + 1);
        }
        if (parts.Data == "-")
            parts.Deletion = true;
    }
    if (rawName == "@") {
        parts.Default = true;
    } else {
        if (rawName.size() >= 2 && rawName.front() == '"' && rawName.back() == '"')
            rawName = rawName.substr(1, rawName.size() - 2);
        parts.Name = unescapeLeftToRight(rawName);
    }
    return parts;
}

void TMyRegistryReader::ParseValueLine(const std::string &line)
{
    const TValueLineParts parts = SplitValueLine(line);
    const std::string &name = parts.Name;
    const std::string_view data = parts.Data;
    if (parts.Deletion) {
        if (WriteToRegistry && m_reg.ValueExists(name) && m_reg.DeleteValue(name))
            ++m_valuesApplied;
        return;
    }
    const TRegDataType type = ParseDataType(data);
    if (!WriteToRegistry)
        return;
    // Every hex form, named type or raw code, takes well-formed bytes only.
    if (startsWithNoCase(data, "hex") && !HexListIsWellFormed(data)) {
        ignoreLine(m_pendingLine ? m_pendingLine : m_lineNumber);
        return;
    }
    if (type == rdUnknown) {
        uint32_t code = 0;
        if (RawTypes && rawTypeCode(data, code)) {
            m_reg.writeValue(name, code, HexListToBytes(data));
            ++m_valuesApplied;
        } else {
            ignoreLine(m_pendingLine ? m_pendingLine : m_lineNumber);
        }
        return;
    }
    switch (type) {
    case rdInteger:
        m_reg.WriteCardinal(name, HexTextToInt32(afterColon(data)));
        break;
    case rdString:
        if (data.front() == '"') {
            m_reg.WriteString(name, unescapeLeftToRight(data.substr(1, data.size() - 2)));
            break;
        }
        [[fallthrough]]; // hex(1), a string holding a line break
    case rdExpandString:
    case rdMultiString: {
        bool utf16 = m_encoding == THexTextEncoding::Utf16;
        if (m_encoding == THexTextEncoding::Guess)
            utf16 = looksUtf16(HexListToBytes(data));
        TRegByteArray text = HexListToStringData(data, utf16);
        // As the text form does (and Windows' tools), expandable and multi-string
        // lists end in one terminator; a list that has it, or an empty one (the
        // writer's form of empty data), is stored as listed.
        if (type != rdString && !text.empty() && text.back() != 0)
            text.push_back(0);
        m_reg.writeValue(name, DataTypeToCode(type), text);
        break;
    }
    default:
        // Binary forms, also the numbers in hex(5) and hex(b): the listed bytes
        // are the stored bytes.
        m_reg.writeValue(name, DataTypeToCode(type), HexListToBytes(data));
        break;
    }
    ++m_valuesApplied;
}

TRegDataType TMyRegistryReader::ParseDataType(std::string_view data, std::string *display, THexTextEncoding encoding)
{
    auto set = [&](std::string text) {
        if (display)
            *display = std::move(text);
    };
    if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
        if (display)
            set(unescapeLeftToRight(data.substr(1, data.size() - 2)));
        return rdString;
    }
    // The writer's form of a string holding a line break.
    if (startsWithNoCase(data, "hex(1):")) {
        if (display)
            set(stringListDisplay(data, encoding));
        return rdString;
    }
    if (startsWithNoCase(data, "hex(2):")) {
        if (display)
            set(stringListDisplay(data, encoding));
        return rdExpandString;
    }
    if (startsWithNoCase(data, "hex:")) {
        if (display)
            set(spacedHex(data));
        return rdBinary;
    }
    if (startsWithNoCase(data, "dword:")) {
        if (display)
            set(FormatDWordText(HexTextToInt32(afterColon(data))));
        return rdInteger;
    }
    if (startsWithNoCase(data, "hex(5):")) {
        if (display)
            set(FormatDWordText(HexTextToInt32(hexDigitsOf(data))));
        return rdBigEndianInteger;
    }
    if (startsWithNoCase(data, "hex(6):")) {
        if (display)
            set(spacedHex(data));
        return rdLink;
    }
    if (startsWithNoCase(data, "hex(7):")) {
        if (display) {
            TRegByteArray bytes = HexListToBytes(data);
            bool utf16 =
                encoding == THexTextEncoding::Utf16 || (encoding == THexTextEncoding::Guess && looksUtf16(bytes));
            TRegByteArray raw = utf16 ? HexListToStringData(data, true) : bytes;
            set(MultiStringBytesToText(raw.data(), raw.size()));
        }
        return rdMultiString;
    }
    if (startsWithNoCase(data, "hex(8):")) {
        if (display)
            set(spacedHex(data));
        return rdResourceList;
    }
    if (startsWithNoCase(data, "hex(9):")) {
        if (display)
            set(spacedHex(data));
        return rdFullResourceDescriptor;
    }
    if (startsWithNoCase(data, "hex(a):")) {
        if (display)
            set(spacedHex(data));
        return rdResourceRequirementsList;
    }
    if (startsWithNoCase(data, "hex(b):")) {
        if (display) {
            std::string digits = hexDigitsOf(data);
            if (digits.size() == 16) {
                std::string reversed;
                for (size_t i = 16; i >= 2; i -= 2)
                    reversed.append(digits, i - 2, 2);
                digits = reversed;
            }
            set(FormatQWordText(HexTextToInt64(digits)));
        }
        return rdInt64;
    }
    set(std::string(data));
    return rdUnknown;
}
