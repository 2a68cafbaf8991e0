// One-shot registry functions: each creates an accessor, works at a root key
// and path, and frees it again.
//
// View arguments come in three forms: a bitness (32 or 64), a view byte
// (0 selects the 32-bit view, 1 the 64-bit one, anything else the default)
// and a flag (true selects the 64-bit view).
#pragma once

#include "core/kltRegistry.h"

#include <string>
#include <vector>

bool WriteStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness,
                   const std::string &text);
bool WriteTypedStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, TRegDataType type,
                        const std::string &text);
bool ReadTypedStringAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, std::string &text);
bool WriteStreamAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, TRegDataType type,
                   TMemoryStream &stream);
bool WriteIntegerAt(HKEY root, const std::string &path, const std::string &name, uint8_t bitness, int32_t value);
bool WriteBoolAt(HKEY root, const std::string &path, const std::string &name, bool value);
bool WriteFloatAt(HKEY root, const std::string &path, const std::string &name, double value);

bool ValueNamesAt(HKEY root, const std::string &path, std::vector<std::string> &list, bool use64 = false);
bool KeyNamesAt(HKEY root, const std::string &path, std::vector<std::string> &list, bool use64 = false);

bool RenameValueAt(HKEY root, const std::string &path, const std::string &oldName, bool overwrite,
                   const std::string &newName);
bool MoveKeyAt(HKEY root, const std::string &oldPath, const std::string &newPath, bool overwrite);
bool CopyKeyAt(HKEY root, const std::string &oldPath, bool deleteSource, const std::string &newPath);
bool DeleteKeyAt(HKEY root, const std::string &path, uint8_t view = 0);
bool CreateKeyAt(HKEY root, const std::string &path, uint8_t view = 0);
bool DeleteValueAt(HKEY root, const std::string &path, const std::string &name, uint8_t view = 0);
bool ValueExistsAt(HKEY root, const std::string &path, const std::string &name, uint8_t view = 0);
bool KeyExistsAt(HKEY root, const std::string &path, uint8_t view = 0);

// The view bytes choose each side's registry view (the default view unless
// given). True when the value was copied (or is the very value named as the
// target), and with deleteSource the source removed.
bool CopyValueAt(HKEY sourceRoot, const std::string &sourcePath, const std::string &sourceName, bool deleteSource,
                 const std::string &targetName, const std::string &targetPath, HKEY targetRoot,
                 uint8_t sourceView = 0xFF, uint8_t targetView = 0xFF);
