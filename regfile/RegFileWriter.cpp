#include "regfile/RegFileWriter.h"

#include "regfile/RegFileText.h"

#include "platform/vtPlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <stdexcept>

namespace
{

const char CRLF[] = "\r\n";

std::string doubleBackslashes(const std::string &name)
{
    if (name.find('\\') == std::string::npos)
        return name;
    std::string out;
    out.reserve(name.size() + 4);
    for (char c : name) {
        out.push_back(c);
        if (c == '\\')
            out.push_back('\\');
    }
    return out;
}

std::string stringUpToNul(const uint8_t *data, size_t size)
{
    size_t n = 0;
    while (n < size && data[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char *>(data), n);
}

std::string hexPrefix(uint32_t code)
{
    return std::string("hex(") + "0123456789ABCDEF"[code & 15] + "):";
}

std::unique_ptr<TMyRegistry> makeAccessor(HKEY root, bool use64)
{
    std::unique_ptr<TMyRegistry> reg = use64 ? std::make_unique<TMyRegistry64>() : std::make_unique<TMyRegistry>();
    reg->SetRootKey(root);
    return reg;
}

void removeTrailingBackslash(std::string &path)
{
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
}

bool hasLineBreak(std::string_view text)
{
    // Two scans of the whole text beat find_first_of, which looks up every
    // character in the set.
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

// Names inside comments: a line break there would start a line of its own,
// which an import would then apply.
std::string oneLine(std::string text)
{
    for (char &c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

void writeErrorBlock(const char *title, HKEY root, const std::string &path, const std::string *valueName,
                     TRegOutput &output, bool version5)
{
    std::string text = CRLF;
    text += title;
    text += CRLF;
    text += "//   RootKey: " + RootKeyToName(root) + CRLF;
    text += "//   Key    : " + oneLine(path) + CRLF;
    if (valueName)
        text += "//   Value  : " + oneLine(*valueName) + CRLF;
    WriteTextToStream(text, output, version5);
}

} // namespace

// ---- File output --------------------------------------------------------------

namespace
{

std::string systemText(LONG code)
{
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        --n;
    return std::string(text, n);
}

} // namespace

struct TRegFileOutput::Impl {
    // A regular file is replaced atomically. A device or a FIFO is written
    // into, as a shell's redirection does: renaming over it would put a
    // regular file in its place.
    std::unique_ptr<QFileDevice> file;
    bool atomic = true;
    std::string buffer;
    std::string name;
    explicit Impl(const std::string &fileName) : name(fileName)
    {
        const QString path = QString::fromUtf8(fileName);
        const QFileInfo info(path);
        atomic = !info.exists() || info.isFile() || info.isDir();
        if (atomic)
            file = std::make_unique<QSaveFile>(path);
        else
            file = std::make_unique<QFile>(path);
    }
    [[noreturn]] void fail() const
    {
        throw std::runtime_error("Cannot write the file \"" + name + "\": " + file->errorString().toStdString());
    }
    void flush()
    {
        if (buffer.empty())
            return;
        if (file->write(buffer.data(), static_cast<qint64>(buffer.size())) != static_cast<qint64>(buffer.size()))
            fail();
        buffer.clear();
    }
};

TRegFileOutput::TRegFileOutput(const std::string &fileName) : m_impl(std::make_unique<Impl>(fileName))
{
    // A hive the system has mounted, its logs or its journal: replacing one
    // would take the registry's own data with it.
    if (const LONG rc = vt::platform::fileInUse(fileName); rc != ERROR_SUCCESS)
        throw std::runtime_error("Cannot write the file \"" + fileName + "\": " + systemText(rc));
    if (!m_impl->file->open(QIODevice::WriteOnly))
        m_impl->fail();
    m_impl->buffer.reserve(1 << 20);
}

TRegFileOutput::~TRegFileOutput() = default; // an uncommitted QSaveFile discards its temporary file

void TRegFileOutput::append(std::string_view data)
{
    m_impl->buffer.append(data);
    if (m_impl->buffer.size() >= (1u << 20))
        m_impl->flush();
}

void TRegFileOutput::commit()
{
    m_impl->flush();
    if (m_impl->atomic) {
        if (!static_cast<QSaveFile &>(*m_impl->file).commit())
            m_impl->fail();
    } else if (!m_impl->file->flush() || m_impl->file->error() != QFileDevice::NoError) {
        m_impl->fail();
    } else {
        m_impl->file->close();
        if (m_impl->file->error() != QFileDevice::NoError)
            m_impl->fail();
    }
}

// ---- Text pieces --------------------------------------------------------------

void WriteTextToStream(std::string_view text, TRegOutput &output, bool version5)
{
    if (!version5) {
        output.append(text);
        return;
    }
    // Reused, so that a line costs no allocation; not kept large after a
    // huge value's line.
    thread_local std::string wide;
    wide.clear();
    AppendUtf16le(text, wide);
    output.append(wide);
    if (wide.capacity() > (size_t{1} << 20))
        std::string().swap(wide);
}

std::string RegKeyLine(HKEY root, const std::string &path, bool deletion)
{
    return (deletion ? "[-" : "[") + RootKeyToName(root) + path + "]";
}

std::string RegValueNamePart(const std::string &name)
{
    if (name.empty())
        return "@";
    return "\"" + doubleBackslashes(name) + "\"";
}

namespace
{

// listColumn: where the hex list's column count starts; npos means after the
// name part and the type prefix (nameColumn + prefix length).
bool formatDataPart(uint32_t typeCode, const uint8_t *data, size_t size, bool version5, size_t nameColumn,
                    size_t listColumn, std::string &dataPart)
{
    auto startColumn = [&](size_t prefixLength) {
        return listColumn != std::string::npos ? listColumn : nameColumn + prefixLength;
    };
    switch (typeCode) {
    case REG_SZ: {
        std::string text = stringUpToNul(data, size);
        if (!hasLineBreak(text)) {
            dataPart = "\"" + EscapeRegString(text) + "\"";
            return true;
        }
        // Written as it stands, a line break would end the value line and let
        // the rest of the string be read as lines of its own ("[-HKEY_...]").
        std::string bytes;
        if (version5) {
            AppendUtf16le(text, bytes);
            bytes.append(2, '\0');
        } else {
            bytes = text;
            bytes.push_back('\0');
        }
        dataPart =
            "hex(1):" + FormatHexList(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), startColumn(7));
        return true;
    }
    case REG_EXPAND_SZ: {
        std::string text = stringUpToNul(data, size);
        std::string bytes;
        if (version5) {
            AppendUtf16le(text, bytes);
            bytes.append(2, '\0');
        } else {
            bytes = text;
            bytes.push_back('\0');
        }
        dataPart =
            "hex(2):" + FormatHexList(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), startColumn(7));
        return true;
    }
    case REG_BINARY:
        dataPart = "hex:" + FormatHexList(data, size, startColumn(4));
        return true;
    case REG_DWORD: {
        if (size != 4)
            return false;
        uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24);
        dataPart = "dword:00000000";
        for (size_t i = dataPart.size(); v; v >>= 4)
            dataPart[--i] = "0123456789ABCDEF"[v & 15];
        return true;
    }
    case REG_MULTI_SZ:
        if (version5) {
            // Version 5 files carry the entries as UTF-16, as the system writes them.
            std::string wide;
            AppendUtf16le(std::string_view(reinterpret_cast<const char *>(data), size), wide);
            dataPart =
                "hex(7):" + FormatHexList(reinterpret_cast<const uint8_t *>(wide.data()), wide.size(), startColumn(7));
            return true;
        }
        [[fallthrough]];
    case REG_DWORD_BIG_ENDIAN:
    case REG_LINK:
    case REG_RESOURCE_LIST:
    case REG_FULL_RESOURCE_DESCRIPTOR:
    case REG_RESOURCE_REQUIREMENTS_LIST:
    case REG_QWORD:
        dataPart = hexPrefix(typeCode) + FormatHexList(data, size, startColumn(7));
        return true;
    default:
        return false;
    }
}

} // namespace

bool FormatRegDataPart(uint32_t typeCode, const uint8_t *data, size_t size, bool version5, size_t startColumn,
                       std::string &dataPart)
{
    return formatDataPart(typeCode, data, size, version5, startColumn, std::string::npos, dataPart);
}

std::string FormatValueLineFromData(const std::string &name, uint32_t typeCode, const TRegByteArray &data)
{
    if (hasLineBreak(name))
        return {};
    std::string line = name.empty() ? std::string("@") : "\"" + name + "\"";
    line += '=';
    std::string dataPart;
    if (typeCode == REG_EXPAND_SZ) {
        dataPart = "hex(2):" + FormatHexList(data, 0);
    } else if (!formatDataPart(typeCode, data.data(), data.size(), false, 0, 0, dataPart)) {
        return {};
    }
    return line + dataPart;
}

// ---- Registry walks -------------------------------------------------------------

namespace
{

// "hex(ffff0012):" with the type code in lower-case digits.
std::string rawHexPrefix(uint32_t code)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", code);
    return std::string("hex(") + digits + "):";
}

} // namespace

void WriteValueLine(TMyRegistry &reg, const std::string &name, TRegOutput &output, bool /*use64*/, bool version5,
                    bool rawTypes)
{
    const std::string namePart = RegValueNamePart(name);
    std::string line;
    if (hasLineBreak(name)) {
        line = "// the value \"" + oneLine(namePart) + "\" cannot be written: its name holds a line break";
        WriteTextToStream(line + CRLF, output, version5);
        return;
    }
    try {
        uint32_t code = 0;
        TRegByteArray data;
        TRegDataInfo info;
        bool read = reg.readValue(name, code, data);
        if (!read && !reg.GetDataInfo(name, info)) {
            line = "// the value \"" + namePart + "\" does not exist";
        } else {
            if (!read)
                code = info.DataType;
            std::string dataPart;
            if (read && rawTypes &&
                !FormatRegDataPart(code, data.data(), data.size(), version5, namePart.size() + 1, dataPart)) {
                const std::string prefix = rawHexPrefix(code);
                dataPart = prefix + FormatHexList(data.data(), data.size(), namePart.size() + 1 + prefix.size());
                line = namePart + "=" + dataPart;
            } else if (code == REG_NONE) {
                line = "// the type of value \"" + namePart + "\" is not set";
            } else if (code > REG_QWORD) {
                line = "// the type of value \"" + namePart + "\" is unknown";
            } else if (read &&
                       FormatRegDataPart(code, data.data(), data.size(), version5, namePart.size() + 1, dataPart)) {
                line = namePart + "=" + dataPart;
            } else {
                switch (code) {
                case REG_SZ:
                    line = "// an exception occured while reading string value \"" + namePart + "\"";
                    break;
                case REG_EXPAND_SZ:
                    line = "// an exception occured while reading expand string value \"" + namePart + "\"";
                    break;
                case REG_BINARY:
                    line = "// an exception occured while reading binary value \"" + namePart + "\"";
                    break;
                case REG_DWORD:
                    line = "// an exception occured while reading integer value \"" + namePart + "\"";
                    break;
                default:
                    line = "// an unknown exception occured while creating value " + oneLine(name);
                }
            }
        }
    } catch (const std::exception &) {
        line = "// an unknown exception occured while creating value " + oneLine(name);
    }
    line += CRLF;
    WriteTextToStream(line, output, version5);
}

namespace
{

std::string fullKeyName(HKEY root, const std::string &keyPath)
{
    return RootKeyToName(root) + keyPath;
}

// The values of the open key and, when recursive, its subtree; reg stays
// open while the children are walked, as they are opened relative to it.
void writeOpenKey(TMyRegistry &reg, HKEY root, const std::string &keyPath, TRegOutput &output, bool recursive,
                  bool use64, bool version5, const TRegExportOptions &options)
{
    try {
        std::vector<std::string> names;
        reg.GetValueNames(names);
        for (const std::string &name : names)
            WriteValueLine(reg, name, output, use64, version5, options.rawTypes);
    } catch (const std::exception &) {
        writeErrorBlock("// an error occured while writing values of", root, keyPath, nullptr, output, version5);
    }
    if (!recursive)
        return;
    std::vector<std::string> subkeys;
    try {
        reg.GetKeyNames(subkeys);
    } catch (const std::exception &) {
        writeErrorBlock("// an error occured while writing subkeys of", root, keyPath, nullptr, output, version5);
        return;
    }
    for (const std::string &sub : subkeys) {
        const std::string childPath = keyPath + "\\" + sub;
        if (!IsAddressableKeyName(sub) || hasLineBreak(sub)) {
            const bool nul = sub.find('\0') != std::string::npos;
            WriteTextToStream(std::string(CRLF) + "// the key " + ShowNuls(oneLine(fullKeyName(root, childPath))) +
                                  (nul ? " cannot be written: its name holds a NUL"
                                       : " cannot be written: its name is empty or holds a backslash or a line break") +
                                  CRLF,
                              output, version5);
            if (options.skipped)
                options.skipped->skip(oneLine(fullKeyName(root, childPath)), true);
            continue;
        }
        try {
            std::unique_ptr<TMyRegistry> child =
                use64 ? std::make_unique<TMyRegistry64>() : std::make_unique<TMyRegistry>();
            WriteTextToStream(CRLF + RegKeyLine(root, childPath) + CRLF, output, version5);
            if (!OpenSubkeyForReading(reg, sub, *child)) {
                if (options.skipped)
                    options.skipped->skip(fullKeyName(root, childPath), false);
                continue;
            }
            writeOpenKey(*child, root, childPath, output, true, use64, version5, options);
        } catch (const std::exception &) {
            writeErrorBlock("// an error occured while writing subkeys of", root, keyPath, nullptr, output, version5);
        }
    }
}

} // namespace

void WriteKeyBlock(HKEY root, const std::string &path, TRegOutput &output, bool recursive, bool use64, bool version5,
                   const TRegExportOptions &options)
{
    std::string keyPath = path;
    removeTrailingBackslash(keyPath);
    if (hasLineBreak(keyPath)) {
        WriteTextToStream(std::string(CRLF) + "// the key " + RootKeyToName(root) + oneLine(keyPath) +
                              " cannot be written: its name holds a line break" + CRLF,
                          output, version5);
        if (options.skipped)
            options.skipped->skip(oneLine(fullKeyName(root, keyPath)), true);
        return;
    }
    auto reg = makeAccessor(root, use64);
    WriteTextToStream(CRLF + RegKeyLine(root, keyPath) + CRLF, output, version5);
    // The bare root ("" or "\") is the root itself, not the current user's key.
    if (!reg->OpenKeyReadOnly(keyPath.empty() ? std::string("\\") : keyPath)) {
        if (options.skipped)
            options.skipped->skip(fullKeyName(root, keyPath), false);
        return;
    }
    writeOpenKey(*reg, root, keyPath, output, recursive, use64, version5, options);
}

void WriteKeyTree(HKEY root, const std::string &path, TRegOutput &output, bool use64, bool version5)
{
    WriteKeyBlock(root, path, output, true, use64, version5);
}

void WriteKeyValues(HKEY root, const std::string &path, const std::vector<std::string> &names, bool use64,
                    bool version5, TRegOutput &output)
{
    if (hasLineBreak(path)) {
        WriteTextToStream(std::string(CRLF) + "// the key " + RootKeyToName(root) + oneLine(path) +
                              " cannot be written: its name holds a line break" + CRLF,
                          output, version5);
        return;
    }
    auto reg = makeAccessor(root, use64);
    WriteTextToStream(CRLF + RegKeyLine(root, path) + CRLF, output, version5);
    if (!reg->OpenKeyReadOnly(path.empty() ? std::string("\\") : path))
        return;
    for (const std::string &name : names) {
        try {
            WriteValueLine(*reg, name, output, use64, version5);
        } catch (const std::exception &) {
            writeErrorBlock("// an error occured while writing:", root, path, &name, output, version5);
        }
    }
}

void WriteKeyValues(HKEY root, const std::string &path, const std::string &name, bool use64, bool version5,
                    TRegOutput &output)
{
    WriteKeyValues(root, path, std::vector<std::string>{name}, use64, version5, output);
}

void ExportKeysToFile(const std::vector<HKEY> &roots, const std::vector<std::string> &paths, bool recursive, bool use64,
                      bool version5, const std::string &fileName, const TRegExportOptions &options)
{
    if (roots.size() != paths.size())
        return;
    TRegFileOutput output(fileName);
    if (version5) {
        output.append(std::string_view("\xFF\xFE", 2));
        WriteTextToStream(std::string(RegFileHeader5) + CRLF, output, true);
    } else {
        output.append(std::string(RegFileHeader4) + CRLF);
    }
    for (size_t i = 0; i < roots.size(); ++i) {
        std::string path = paths[i];
        CollapseDoubleBackslashes(path);
        if (path.empty())
            continue;
        removeTrailingBackslash(path);
        if (path.empty() || path.front() != '\\')
            path.insert(path.begin(), '\\');
        try {
            WriteKeyBlock(roots[i], path, output, recursive, use64, version5, options);
        } catch (const std::exception &) {
            // One key's failure must not cost the others.
        }
    }
    WriteTextToStream(CRLF, output, version5);
    output.commit();
}

void ExportKeyToFile(HKEY root, const std::string &path, const std::string &fileName, bool recursive, bool use64,
                     bool version5, const TRegExportOptions &options)
{
    ExportKeysToFile({root}, {path}, recursive, use64, version5, fileName, options);
}
