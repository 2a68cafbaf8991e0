// Registry vocabulary (root keys, paths, value types) and the registry
// accessor TMyRegistry over the Win32 registry functions.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Value types and records

enum TRegDataType : uint8_t {
    rdUnknown = 0,
    rdNone = 1,
    rdString = 2,
    rdExpandString = 3,
    rdBinary = 4,
    rdInteger = 5,
    rdLittleEndianInteger = 6,
    rdBigEndianInteger = 7,
    rdLink = 8,
    rdMultiString = 9,
    rdResourceList = 10,
    rdFullResourceDescriptor = 11,
    rdResourceRequirementsList = 12,
    rdInt64 = 13,
    rdLittleEndianInt64 = 14,
    rdCardinal = 15,
};

struct TRegDataInfo {
    TRegDataType RegData = rdUnknown;
    uint32_t DataType = 0; // type code as stored
    int32_t DataSize = 0;  // bytes, as reported for ANSI access
};

struct TRegKeyInfo {
    uint32_t NumSubKeys = 0;
    uint32_t MaxSubKeyLen = 0;
    uint32_t NumValues = 0;
    uint32_t MaxValueLen = 0;
    uint32_t MaxDataLen = 0;
    uint64_t LastWriteTime = 0; // FILETIME, UTC
};

using TRegByteArray = std::vector<uint8_t>;

// Days since 30 December 1899, time of day as the fraction; 0 means no time.
using TDateTime = double;

// A growable byte buffer with a read/write position.
class TMemoryStream
{
public:
    std::vector<uint8_t> bytes;
    size_t position = 0;

    size_t size() const { return bytes.size(); }
    void clear()
    {
        bytes.clear();
        position = 0;
    }
    // Writes at the position (growing the buffer) and advances it.
    void write(const void *data, size_t count);
    // Reads up to count bytes from the position; returns the number read.
    size_t read(void *data, size_t count);
};

// Raised by data reads and writes; the text names the value or key.
class ERegistryException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Root keys, types, paths and times (pure functions)

// The seven predefined roots in display order.
const std::vector<HKEY> &RootKeyList();

std::string RootKeyToName(HKEY root);
std::string RootKeyToShortName(HKEY root);
HKEY NameToRootKey(const std::string &name); // exact, case-sensitive; 0 when unknown
// A root as a person types it: full name or abbreviation in any letter case,
// and HKU for HKEY_USERS as the system's own tools write it; 0 when unknown.
HKEY ParseRootName(const std::string &name);

uint32_t DataTypeToCode(TRegDataType type);
TRegDataType CodeToDataType(uint32_t code);
std::string DataTypeToName(TRegDataType type);
TRegDataType NameToDataType(const std::string &name);
int DataTypeImageIndex(TRegDataType type); // 3 text, 4 data, -1 none

bool IsRelativePath(const std::string &path);
bool SplitValuePath(const std::string &text, HKEY &root, std::string &parentPath, std::string &lastName);
void CollapseDoubleBackslashes(std::string &text);
TDateTime KeyTimeToDateTime(uint64_t keyTime);

// The registry's own name of the key a handle stands for, upper-cased
// ("\REGISTRY\MACHINE\SOFTWARE\CLASSES\X"): equal for two handles to one key
// however they were opened (HKCR or its merge, a view, any spelling). Empty
// when the platform cannot name it (a remote key).
std::string keyObjectName(HKEY key);
// Whether `inner` is `outer` or lies below it, both names from keyObjectName.
bool keyObjectWithin(const std::string &inner, const std::string &outer);

// ---------------------------------------------------------------------------
// The accessor

class TMyRegistry
{
public:
    TMyRegistry();
    virtual ~TMyRegistry();
    TMyRegistry(const TMyRegistry &) = delete;
    TMyRegistry &operator=(const TMyRegistry &) = delete;

    // View and root
    virtual void SetBitness(uint8_t bits); // 32 or 64, else std::runtime_error
    uint8_t Bitness() const { return m_bitness; }
    uint8_t ViewMode() const { return m_viewMode; }
    void SetViewMode(uint8_t mode);
    REGSAM ViewFlags(REGSAM mask) const;
    HKEY RootKey() const { return m_rootKey; }
    void SetRootKey(HKEY root);
    HKEY CurrentKey() const { return m_currentKey; }
    const std::string &CurrentPath() const { return m_currentPath; }
    REGSAM Access() const { return m_access; }
    void SetAccess(REGSAM access) { m_access = access; }
    // The Windows error code of the last registry call of this accessor that
    // failed (ERROR_SUCCESS when none did), so callers can say why.
    LONG LastError() const { return m_lastError; }
    // Called once for each key a DeleteKey or MoveKey walk has deleted or
    // copied, so a window can show progress and keep painting.
    std::function<void()> KeyProgress;

    // Keys
    bool OpenKey(const std::string &path, bool canCreate);
    bool OpenKeyReadOnly(const std::string &path);
    void CloseKey();
    bool CreateKey(const std::string &path);
    HKEY GetKey(const std::string &path); // caller closes the handle
    bool KeyExists(const std::string &path);
    bool DeleteKey(const std::string &path);
    // True when the key was copied (and, with deleteSource, removed) whole.
    bool MoveKey(const std::string &oldPath, const std::string &newPath, bool deleteSource);
    // Renames the key where it lies, as Windows' RegRenameKey does: its
    // subtree, times, class names and security stay. A new name that is taken
    // fails with ERROR_ACCESS_DENIED, as on Windows.
    bool RenameKey(const std::string &path, const std::string &newName);
    bool GetKeyInfo(TRegKeyInfo &info);
    bool HasSubKeys();
    void GetKeyNames(std::vector<std::string> &list);
    void GetValueNames(std::vector<std::string> &list);

    // Values
    bool GetDataInfo(const std::string &name, TRegDataInfo &info);
    int32_t GetDataSize(const std::string &name);
    TRegDataType GetDataType(const std::string &name);
    bool ValueExists(const std::string &name);
    bool DeleteValue(const std::string &name);
    void RenameValue(const std::string &oldName, const std::string &newName);
    std::string ReadDataAsText(const std::string &name);
    void WriteDataFromText(const std::string &name, const std::string &text, TRegDataType newType,
                           TRegDataType oldType);

    // Typed reads
    std::string ReadString(const std::string &name);
    std::string ReadMultiString(const std::string &name);
    uint32_t ReadCardinal(const std::string &name);
    uint32_t ReadLittleEndianInteger(const std::string &name);
    int32_t ReadInteger(const std::string &name);
    bool ReadBool(const std::string &name);
    uint32_t ReadBigEndianInteger(const std::string &name);
    int64_t ReadInt64(const std::string &name);
    int64_t ReadLittleEndianInt64(const std::string &name);
    double ReadFloat(const std::string &name);
    int32_t ReadBinaryData(const std::string &name, void *buffer, int32_t bufSize);
    bool ReadBinaryToStream(const std::string &name, TMemoryStream &stream);

    // Typed writes
    void WriteString(const std::string &name, const std::string &value);
    void WriteExpandString(const std::string &name, const std::string &value);
    void WriteMultiString(const std::string &name, const std::string &value); // lines split at CR LF
    void WriteInteger(const std::string &name, int32_t value);
    void WriteCardinal(const std::string &name, uint32_t value);
    void WriteLittleEndianInteger(const std::string &name, uint32_t value);
    void WriteBigEndianInteger(const std::string &name, uint32_t value);
    void WriteBool(const std::string &name, bool value);
    void WriteInt64(const std::string &name, int64_t value);
    void WriteLittleEndianInt64(const std::string &name, int64_t value);
    void WriteFloat(const std::string &name, double value);
    void WriteBinaryData(const std::string &name, const void *buffer, int32_t size);
    void WriteLink(const std::string &name, const void *buffer, int32_t size);
    void WriteResourceList(const std::string &name, const void *buffer, int32_t size);
    void WriteFullResourceDescriptor(const std::string &name, const void *buffer, int32_t size);
    void WriteResourceRequirementsList(const std::string &name, const void *buffer, int32_t size);
    void WriteNone(const std::string &name);
    void WriteFromStream(const std::string &name, TRegDataType type, const TMemoryStream &stream);

    // General forms
    int32_t GetData(const std::string &name, void *buffer, TRegDataType &type, int32_t bufSize);
    void PutData(const std::string &name, const void *buffer, TRegDataType type, int32_t size);

    // Raw access with the stored type code, for codes the enumeration cannot
    // express (registry files carry hex(N) for any N). readValue returns
    // false when the value cannot be read; writeValue raises like PutData.
    bool readValue(const std::string &name, uint32_t &typeCode, TRegByteArray &data);
    void writeValue(const std::string &name, uint32_t typeCode, const TRegByteArray &data);

protected:
    struct Base {
        HKEY key;
        std::string path; // without a leading backslash
    };
    Base baseOf(const std::string &path) const;
    bool deleteTree(const Base &base, const std::string &path);
    bool renameInPlace(const std::string &oldPath, const std::string &newPath);
    bool readableTree(HKEY key);
    void adjustAccessForView();
    void setCurrent(HKEY key, const std::string &path, bool relativeToOpen);
    bool targetInside(HKEY source, const std::string &oldPath, const std::string &newPath);
    bool copyValue(HKEY source, HKEY target, const std::string &name);
    bool copyValues(HKEY source, HKEY target);
    bool copyKeys(HKEY source, HKEY target);
    std::vector<uint8_t> readExact(const std::string &name, TRegDataType expected, size_t size);

    HKEY m_currentKey = nullptr;
    HKEY m_rootKey = HKEY_CURRENT_USER;
    std::string m_currentPath;
    REGSAM m_access = KEY_ALL_ACCESS;
    uint8_t m_bitness = 32;
    uint8_t m_viewMode = 0;
    LONG m_lastError = ERROR_SUCCESS;

    // Records a failed call's code; passes the code on.
    LONG track(LONG code)
    {
        if (code != ERROR_SUCCESS)
            m_lastError = code;
        return code;
    }
    void keyDone()
    {
        if (KeyProgress)
            KeyProgress();
    }
};

class TMyRegistry64 : public TMyRegistry
{
public:
    TMyRegistry64();
    void SetBitness(uint8_t bits) override;
};
