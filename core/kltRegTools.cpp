#include "core/kltRegTools.h"

#include <cctype>

namespace
{

bool sameFolded(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y)))
            return false;
    }
    return true;
}

// View byte: 0 selects the 32-bit view, 1 the 64-bit one, others the default.
void applyView(TMyRegistry &reg, uint8_t view)
{
    if (view == 0)
        reg.SetBitness(32);
    else if (view == 1)
        reg.SetBitness(64);
}

} // namespace

bool WriteStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness,
                   const std::string &text)
{
    return WriteTypedStringAt(root, path, name, bitness, rdString, text);
}

bool WriteTypedStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, TRegDataType type,
                        const std::string &text)
{
    TMyRegistry reg;
    reg.SetBitness(bitness);
    reg.SetRootKey(root);
    if (!reg.OpenKey(path, true))
        return false;
    switch (type) {
    case rdString:
        reg.WriteString(name, text);
        return true;
    case rdExpandString:
        reg.WriteExpandString(name, text);
        return true;
    case rdMultiString:
        reg.WriteMultiString(name, text);
        return true;
    default:
        return false;
    }
}

bool ReadTypedStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, std::string &text)
{
    TMyRegistry reg;
    reg.SetBitness(bitness);
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly(path))
        return false;
    switch (reg.GetDataType(name)) {
    case rdString:
    case rdExpandString:
        text = reg.ReadString(name);
        return true;
    case rdMultiString:
        text = reg.ReadMultiString(name);
        return true;
    default:
        return false;
    }
}

bool WriteStreamAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, TRegDataType type,
                   TMemoryStream &stream)
{
    TMyRegistry reg;
    reg.SetBitness(bitness);
    reg.SetRootKey(root);
    if (!reg.OpenKey(path, true))
        return false;
    stream.position = 0;
    reg.WriteFromStream(name, type, stream);
    return true;
}

bool WriteIntegerAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, int32_t value)
{
    TMyRegistry reg;
    reg.SetBitness(bitness);
    reg.SetRootKey(root);
    if (!reg.OpenKey(path, true))
        return false;
    reg.WriteInteger(name, value);
    return true;
}

bool WriteBoolAt(HKEY root, const std::string &path, const std::string &name, bool value)
{
    TMyRegistry reg;
    reg.SetRootKey(root);
    if (!reg.OpenKey(path, true))
        return false;
    reg.WriteBool(name, value);
    return true;
}

bool WriteFloatAt(HKEY root, const std::string &path, const std::string &name, double value)
{
    TMyRegistry reg;
    reg.SetRootKey(root);
    if (!reg.OpenKey(path, true))
        return false;
    reg.WriteFloat(name, value);
    return true;
}

static bool namesAt(HKEY root, const std::string &path, std::vector<std::string> &list, bool use64, bool keys)
{
    try {
        TMyRegistry reg;
        if (use64)
            reg.SetBitness(64);
        reg.SetRootKey(root);
        if (!reg.OpenKey(path, false))
            return false;
        if (keys)
            reg.GetKeyNames(list);
        else
            reg.GetValueNames(list);
        return true;
    } catch (...) {
        list.clear();
        return false;
    }
}

bool ValueNamesAt(HKEY root, const std::string &path, std::vector<std::string> &list, bool use64)
{
    return namesAt(root, path, list, use64, false);
}

bool KeyNamesAt(HKEY root, const std::string &path, std::vector<std::string> &list, bool use64)
{
    return namesAt(root, path, list, use64, true);
}

bool RenameValueAt(HKEY root, const std::string &path, const std::string &oldName, bool overwrite,
                   const std::string &newName)
{
    try {
        TMyRegistry reg;
        reg.SetRootKey(root);
        if (!reg.OpenKey(path, false))
            return false;
        if (!reg.ValueExists(oldName))
            return false;
        // Names differing only in case name the same value: overwriting it
        // with itself and then deleting the old name would delete it.
        if (sameFolded(oldName, newName))
            return false;
        const bool exists = reg.ValueExists(newName);
        if (exists && !overwrite)
            return false;
        if (exists) {
            // Overwriting: the target makes way only once the source is
            // known to be readable, and the source is removed only after
            // the write succeeded.
            uint32_t code = 0;
            TRegByteArray data;
            if (!reg.readValue(oldName, code, data))
                return false;
            reg.writeValue(newName, code, data);
            reg.DeleteValue(oldName);
            return true;
        }
        reg.RenameValue(oldName, newName);
        return true;
    } catch (...) {
        return false;
    }
}

bool MoveKeyAt(HKEY root, const std::string &oldPath, const std::string &newPath, bool overwrite)
{
    try {
        TMyRegistry reg;
        reg.SetRootKey(root);
        if (!reg.KeyExists(oldPath))
            return false;
        if (reg.KeyExists(newPath) && !overwrite)
            return false;
        reg.MoveKey(oldPath, newPath, true);
        return true;
    } catch (...) {
        return false;
    }
}

bool CopyKeyAt(HKEY root, const std::string &oldPath, bool deleteSource, const std::string &newPath)
{
    try {
        TMyRegistry reg;
        reg.SetRootKey(root);
        reg.MoveKey(oldPath, newPath, deleteSource);
        return true;
    } catch (...) {
        return false;
    }
}

bool DeleteKeyAt(HKEY root, const std::string &path, uint8_t view)
{
    try {
        TMyRegistry reg;
        applyView(reg, view);
        reg.SetRootKey(root);
        if (!reg.KeyExists(path))
            return false;
        return reg.DeleteKey(path);
    } catch (...) {
        return false;
    }
}

bool CreateKeyAt(HKEY root, const std::string &path, uint8_t view)
{
    try {
        TMyRegistry reg;
        applyView(reg, view);
        reg.SetRootKey(root);
        if (!reg.OpenKey(path, true))
            return false;
        reg.CloseKey();
        return true;
    } catch (...) {
        return false;
    }
}

bool DeleteValueAt(HKEY root, const std::string &path, const std::string &name, uint8_t view)
{
    try {
        TMyRegistry reg;
        applyView(reg, view);
        reg.SetRootKey(root);
        if (!reg.OpenKey(path, false) || !reg.ValueExists(name))
            return false;
        reg.DeleteValue(name);
        return true;
    } catch (...) {
        return false;
    }
}

bool ValueExistsAt(HKEY root, const std::string &path, const std::string &name, uint8_t view)
{
    TMyRegistry reg;
    applyView(reg, view);
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly(path))
        return false;
    return reg.ValueExists(name);
}

bool KeyExistsAt(HKEY root, const std::string &path, uint8_t view)
{
    try {
        TMyRegistry reg;
        applyView(reg, view);
        reg.SetRootKey(root);
        return reg.KeyExists(path);
    } catch (...) {
        return false;
    }
}

bool CopyValueAt(HKEY sourceRoot, const std::string &sourcePath, const std::string &sourceName, bool deleteSource,
                 const std::string &targetName, const std::string &targetPath, HKEY targetRoot, uint8_t sourceView,
                 uint8_t targetView)
{
    TMyRegistry source, target;
    applyView(source, sourceView);
    applyView(target, targetView);
    source.SetRootKey(sourceRoot);
    target.SetRootKey(targetRoot);
    if (!source.OpenKey(sourcePath, false) || !target.OpenKey(targetPath, true))
        return false;
    // The raw bytes and type code are copied as stored, so every type
    // (also empty values and codes without a name) arrives unchanged; the
    // source is deleted only after the copy was written.
    // A value copied or moved onto itself stays as it is. Sameness of the keys
    // is decided on the opened keys, not on how their paths are spelt.
    if (sameFolded(sourceName, targetName)) {
        const std::string from = keyObjectName(source.CurrentKey());
        const std::string to = keyObjectName(target.CurrentKey());
        const bool sameKey = !from.empty() && !to.empty()
                                 ? from == to
                                 : sourceRoot == targetRoot && sameFolded(source.CurrentPath(), target.CurrentPath());
        if (sameKey)
            return true;
    }
    uint32_t code = 0;
    TRegByteArray data;
    if (!source.readValue(sourceName, code, data))
        return false;
    target.writeValue(targetName, code, data);
    return !deleteSource || source.DeleteValue(sourceName);
}
