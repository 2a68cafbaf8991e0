#pragma once
// The program's settings in the registry: read from the machine's and the
// current user's settings key (the machine's one has the last word), written
// to the current user's. Window placements live below "UI\Forms\".
//
// Kinds and the stored types they accept: boolean and integer REG_DWORD,
// floating point REG_BINARY of exactly 8 bytes, text REG_SZ. A value of any
// other type (or length) counts as absent.

#include "platform/win32.h"

#include <string>
#include <vector>

class QWidget;

namespace vt::app
{

class TMultiConfigReader
{
public:
    // Position of the root in the root list.
    int AddRoot(HKEY root);
    int RootCount() const { return int(m_roots.size()); }
    HKEY Root(int index) const { return m_roots.at(std::size_t(index)); }
    // Key paths below each root, read in this order; callers fill it.
    std::vector<std::string> Paths;

    // Every source is read, from the last root added to the first, and a
    // later find overwrites an earlier one: the first root added wins.
    bool ReadBool(const std::string &name, bool &value) const;
    bool ReadInteger(const std::string &name, int &value) const;
    bool ReadFloat(const std::string &name, double &value) const;
    bool ReadString(const std::string &name, std::string &value) const;

    // The subkeys of HKEY_USERS that an HKEY_USERS root stands for; listed
    // once per run on first use. Reload lists them again (a new system).
    static const std::vector<std::string> &UserBranches();
    static void ReloadUserBranches();

private:
    enum class Kind { Bool, Integer, Float, String };
    struct Raw {
        DWORD type = 0;
        std::vector<unsigned char> bytes;
    };
    bool read(const std::string &name, Kind kind, Raw &out) const;

    std::vector<HKEY> m_roots;
};

class TKLTConfigManager
{
public:
    TKLTConfigManager();

    std::string ProductName = "Vantrel";
    // 1: HKEY_LOCAL_MACHINE first, then HKEY_CURRENT_USER (the machine wins);
    // 0: the other way round.
    unsigned char SourceOrder = 1;

    // "\Software\Brakmoor\" + product name + "\".
    std::string SettingsPath() const;
    // SettingsPath + "UI\Forms\" + the window's object name.
    std::string FormPath(const QWidget *form) const;

    bool ReadBool(const std::string &name, bool &value, const std::string &subPath = {}) const;
    bool ReadInteger(const std::string &name, int &value, const std::string &subPath = {}) const;
    bool ReadFloat(const std::string &name, double &value, const std::string &subPath = {}) const;
    bool ReadString(const std::string &name, std::string &value, const std::string &subPath = {}) const;

    // Raise ERegistryException when the registry refuses the write; false
    // when the key cannot be opened or created.
    bool WriteBool(const std::string &name, bool value, bool machine = false, const std::string &subPath = {}) const;
    bool WriteInteger(const std::string &name, int value, bool machine = false, const std::string &subPath = {}) const;
    bool WriteFloat(const std::string &name, double value, bool machine = false, const std::string &subPath = {}) const;
    bool WriteString(const std::string &name, const std::string &value, bool machine = false,
                     const std::string &subPath = {}) const;

    // Window placements (kltConfigForms.cpp). Left and Top are where the
    // window's frame goes, Width and Height its client size; restored before
    // the window exists, the frame lands there whatever the window manager
    // adds around it. A stored placement that would put the window off every
    // screen, or a size that is not positive, is left out and the window
    // keeps what it had; one partly off the screen is moved onto it. A
    // restored window that is never shown stores nothing at the end, and one
    // without a stored place opens centred on the main window.
    void RestoreFormPlacement(QWidget *form) const;
    void SaveFormPlacement(QWidget *form, bool machine = false) const;
    // Every top-level window of the program (its object name begins "form").
    void RestoreAllForms() const;
    void SaveAllForms() const;

private:
    TMultiConfigReader reader(const std::string &subPath) const;
    std::string path(const std::string &subPath) const;
};

// The one settings store of the run.
TKLTConfigManager &ConfigManager();

// The program's folder in the replacement system ("C:\Program Files\Vantrel"
// as a native path, no trailing slash), and a file in it.
std::string ProgramFolder();
std::string ProgramFile(const std::string &name);
// Copies each file of `seedFolder` (what the build installs beside the
// binary) into the program's folder unless a file of that name is there.
// Returns the names it could not copy.
std::vector<std::string> SeedProgramFolder(const std::string &seedFolder);

// "BartPE" in section "Orvask" of Quillon.ini in the program's folder: the
// preinstallation-environment mode; `detected` when the file or key is
// missing or unreadable.
bool ReadBartPESetting(bool detected);

} // namespace vt::app
