#include "regfile/RegFileView.h"

#include "core/zoStrings.h"
#include "regfile/RegKeyWalk.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace
{

// The types a file lists as bytes (hex:, hex(5):, hex(6):, hex(8):, hex(9):,
// hex(a):, hex(b):), compared with the registry byte for byte.
bool comparedAsBytes(TRegDataType type)
{
    switch (type) {
    case rdBinary:
    case rdBigEndianInteger:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
    case rdInt64:
        return true;
    default:
        return false;
    }
}

// The types whose Value column shows the listed bytes as spaced hex.
bool shownAsHex(TRegDataType type)
{
    switch (type) {
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
        return true;
    default:
        return false;
    }
}

bool isAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Whether two names are one key's, without folding copies for the common
// ASCII names.
bool sameKeyName(std::string_view a, std::string_view b)
{
    if (a.size() == b.size()) {
        bool ascii = true;
        for (size_t i = 0; i < a.size(); ++i) {
            if (static_cast<unsigned char>(a[i] | b[i]) >= 0x80) {
                ascii = false;
                break;
            }
            if (lowerAscii(a[i]) != lowerAscii(b[i]))
                return false;
        }
        if (ascii)
            return true;
    } else if (isAscii(a) && isAscii(b)) {
        return false;
    }
    return FoldedKeyName(a) == FoldedKeyName(b);
}

} // namespace

std::string TFileValueRecord::TypeName() const
{
    return DataTypeToName(Type);
}

// ---------------------------------------------------------------------------
// TFileKeyNode

TFileKeyNode *TFileKeyNode::FindChild(std::string_view name) const
{
    if (Children.size() <= IndexFrom) {
        for (const auto &child : Children)
            if (sameKeyName(child->Text, name))
                return child.get();
        return nullptr;
    }
    const auto it = m_index.find(FoldedKeyName(name));
    return it == m_index.end() ? nullptr : it->second;
}

TFileKeyNode *TFileKeyNode::AddChild(std::string name)
{
    Children.push_back(std::make_unique<TFileKeyNode>(std::move(name)));
    TFileKeyNode *child = Children.back().get();
    if (Children.size() == IndexFrom + 1) {
        for (const auto &c : Children)
            m_index.emplace(FoldedKeyName(c->Text), c.get());
    } else if (Children.size() > IndexFrom + 1) {
        m_index.emplace(FoldedKeyName(child->Text), child);
    }
    return child;
}

// ---------------------------------------------------------------------------
// TRegFileView

TRegFileView::TRegFileView(bool compare) : m_compare(compare) {}

TRegFileView::~TRegFileView() = default;

bool TRegFileView::LoadFromFile(const std::string &fileName)
{
    m_error.clear();
    m_stop = false;
    m_file = TFileKeyNode(std::filesystem::path(fileName).filename().string());
    TRegFileLineSource source;
    std::string line;
    if (!source.Open(fileName) || !source.Next(line)) {
        m_error = source.Error();
        return false;
    }
    beginLines(line);
    size_t lineNumber = 1;
    while (!m_stop && source.Next(line)) {
        handleLine(line, ++lineNumber);
        if ((lineNumber & 0xFFF) == 0 && OnProgress)
            OnProgress(source.BytesRead(), source.FileSize());
    }
    if (m_reg)
        m_reg->CloseKey();
    if (source.TooLong()) {
        m_file = TFileKeyNode(m_file.Text);
        m_error = "The file \"" + fileName + "\" has a line longer than any value can be.";
        return false;
    }
    if (m_stop) {
        m_error = "Reading the file \"" + fileName + "\" was stopped.";
        return false;
    }
    if (OnProgress)
        OnProgress(source.FileSize(), source.FileSize());
    return true;
}

void TRegFileView::ParseFileIntoTree(const std::vector<std::string> &lines)
{
    if (lines.empty())
        return;
    beginLines(lines.front());
    for (size_t i = 1; i < lines.size(); ++i)
        handleLine(lines[i], i + 1);
    if (m_reg)
        m_reg->CloseKey();
}

void TRegFileView::beginLines(std::string_view header)
{
    m_joiner.Reset();
    m_current = nullptr;
    m_keyOpen = false;
    if (header.rfind(RegFileHeader5, 0) == 0)
        m_encoding = THexTextEncoding::Utf16;
    else if (header.rfind(RegFileHeader4, 0) == 0)
        m_encoding = THexTextEncoding::Bytes8;
    else
        m_encoding = THexTextEncoding::Guess;
    if (m_compare && !m_reg)
        m_reg = std::make_unique<TMyRegistry>();
}

void TRegFileView::handleLine(std::string_view line, size_t lineNumber)
{
    std::string text;
    switch (m_joiner.Feed(line, lineNumber, text)) {
    case TRegFileLineJoiner::lkKey:
        FindOrAddFileKeyNode(text.substr(1, text.size() - 2));
        break;
    case TRegFileLineJoiner::lkValue:
        // Value lines before the first key line belong to no key.
        if (m_current)
            AddFileValueRecord(text, m_current);
        break;
    default:
        break;
    }
}

TFileKeyNode *TRegFileView::FindOrAddFileKeyNode(const std::string &keyText)
{
    ++m_keyLines;
    // No registry nests keys deeper; a deeper line, only a crafted file has,
    // would nest nodes as deep, whose freeing recurses once per level.
    if (size_t(std::count(keyText.begin(), keyText.end(), '\\')) >= MaxKeyDepth) {
        m_current = nullptr;
        m_keyOpen = false;
        return nullptr;
    }
    TFileKeyNode *node = &m_file;
    std::string_view rest(keyText);
    for (;;) {
        const size_t slash = rest.find('\\');
        const std::string_view element = rest.substr(0, slash);
        // An empty element (a doubled or trailing backslash) names no key.
        if (!element.empty()) {
            TFileKeyNode *child = node->FindChild(element);
            node = child ? child : node->AddChild(std::string(element));
        }
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    m_current = node;
    if (m_compare) {
        if (!m_reg)
            m_reg = std::make_unique<TMyRegistry>();
        m_keyOpen = false;
        try {
            m_reg->CloseKey();
            const size_t slash = keyText.find('\\');
            const HKEY root = NameToRootKey(keyText.substr(0, slash));
            if (root) {
                m_reg->SetRootKey(root);
                m_keyOpen = m_reg->OpenKeyReadOnly(slash == std::string::npos ? std::string() : keyText.substr(slash));
            }
        } catch (...) {
            m_keyOpen = false; // its values are then not in the registry
        }
    }
    return node;
}

void TRegFileView::AddFileValueRecord(const std::string &line, TFileKeyNode *node)
{
    if (!node)
        return;
    const TValueLineParts parts = TMyRegistryReader::SplitValueLine(line);
    if (!parts.HasEquals)
        return;
    TFileValueRecord record;
    record.Name = parts.Default ? std::string("@") : parts.Name;
    record.Type = TMyRegistryReader::ParseDataType(parts.Data, &record.DisplayText, m_encoding);
    record.Size = DataSizeFromText(record.DisplayText, record.Type);
    record.Icon = DataTypeImageIndex(record.Type);
    if (m_compare && node == m_current)
        compareRecord(record, parts);
    node->Records.push_back(std::move(record));
    ++m_valueRecords;
}

void TRegFileView::compareRecord(TFileValueRecord &record, const TValueLineParts &parts)
{
    if (!m_keyOpen) {
        record.Marker = 'N';
        return;
    }
    std::string text;
    try {
        uint32_t code = 0;
        TRegByteArray data;
        if (!m_reg->readValue(parts.Default ? std::string() : parts.Name, code, data)) {
            record.Marker = 'N';
            return;
        }
        const TRegDataType regType = CodeToDataType(code);
        if (regType != record.Type)
            record.Marker = 'T';
        switch (regType) {
        case rdString:
        case rdExpandString: {
            const char *chars = reinterpret_cast<const char *>(data.data());
            text.assign(chars, strnlen(chars, data.size()));
            break;
        }
        case rdInteger:
            if (data.size() != 4)
                return; // not readable as a number: nothing to compare
            text = FormatDWordText(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                                   uint32_t(data[3]) << 24);
            break;
        case rdMultiString:
            text = MultiStringBytesToText(data.data(), data.size());
            break;
        default:
            if (!comparedAsBytes(regType))
                return; // other types are not compared
            text = FormatHexBytes(data);
            break;
        }
        // Binary data is compared as the bytes it lists: its text would hide
        // a difference (a number's text) or say nothing of the bytes.
        if (regType == record.Type &&
            (comparedAsBytes(regType) ? HexListToBytes(parts.Data) != data : record.DisplayText != text))
            record.Marker = 'C';
    } catch (...) {
        // The marker stays as far as it was set.
        return;
    }
    // Most values are alike: their text is then held once.
    if (text == record.DisplayText)
        record.RegistrySame = true;
    else
        record.RegistryText = std::move(text);
}

// ---------------------------------------------------------------------------
// Row texts

int32_t DataSizeFromText(const std::string &displayText, TRegDataType type)
{
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
        return int32_t(displayText.size());
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
    case rdCardinal:
        return 4;
    case rdInt64:
    case rdLittleEndianInt64:
        return 8;
    default:
        return shownAsHex(type) ? int32_t((displayText.size() + 1) / 3) : 0;
    }
}

TRegByteArray FileTextToBytes(const std::string &displayText, TRegDataType type)
{
    TRegByteArray bytes;
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdUnknown:
        bytes.assign(displayText.begin(), displayText.end());
        return bytes;
    default:
        break;
    }
    if (!shownAsHex(type))
        return bytes;
    bytes.reserve((displayText.size() + 1) / 3);
    std::string pair;
    for (char c : displayText) {
        if (c == ' ')
            continue;
        pair.push_back(c);
        if (pair.size() == 2) {
            bytes.push_back(HexPairToByte(pair));
            pair.clear();
        }
    }
    return bytes;
}

uint32_t FileMarkerColor(char marker)
{
    switch (marker) {
    case 'N':
        return 255u | 127u << 8 | 128u << 16;
    case 'T':
    case 'C':
        return 166u | 202u << 8 | 240u << 16;
    default:
        return 0;
    }
}

std::string FileDifferenceText(char marker, const std::string &valueCaption, const std::string &registryText)
{
    switch (marker) {
    case 'N':
        return "Not in registry.";
    case 'T':
        return "Type is different in registry.\r\n" + valueCaption + ": " + registryText;
    case 'C':
        return "Data is different in registry.\r\n" + valueCaption + ": " + registryText;
    default:
        return "This value and data exists in your registry.";
    }
}
