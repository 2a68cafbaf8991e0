#include "kltConfig.h"

#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "core/vtBoundedFile.h"
#include "i18n/zoIniFile.h"
#include "platform/vtPlatform.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace vt::app
{

namespace
{

std::mutex gUsersMutex;
bool gUsersListed = false;
std::vector<std::string> gUsers;

void listUsers()
{
    gUsers.clear();
    KeyNamesAt(HKEY_USERS, "\\", gUsers);
    gUsersListed = true;
}

} // namespace

// ---------------------------------------------------------------------------
// TMultiConfigReader

int TMultiConfigReader::AddRoot(HKEY root)
{
    m_roots.push_back(root);
    return int(m_roots.size()) - 1;
}

const std::vector<std::string> &TMultiConfigReader::UserBranches()
{
    std::lock_guard lock(gUsersMutex);
    if (!gUsersListed)
        listUsers();
    return gUsers;
}

void TMultiConfigReader::ReloadUserBranches()
{
    std::lock_guard lock(gUsersMutex);
    listUsers();
}

bool TMultiConfigReader::read(const std::string &name, Kind kind, Raw &out) const
{
    bool found = false;
    for (auto root = m_roots.rbegin(); root != m_roots.rend(); ++root) {
        std::vector<std::string> prefixes{std::string()};
        if (*root == HKEY_USERS) {
            prefixes.clear();
            for (const std::string &user : UserBranches())
                prefixes.push_back("\\" + user);
        }
        for (const std::string &prefix : prefixes) {
            for (const std::string &path : Paths) {
                try {
                    TMyRegistry reg;
                    reg.SetRootKey(*root);
                    if (!reg.OpenKeyReadOnly(prefix + path))
                        continue;
                    std::uint32_t code = 0;
                    TRegByteArray data;
                    if (!reg.readValue(name, code, data))
                        continue;
                    bool fits = false;
                    switch (kind) {
                    case Kind::Bool:
                    case Kind::Integer:
                        fits = code == REG_DWORD && data.size() == 4;
                        break;
                    case Kind::Float:
                        // Any other length is no date-time of ours.
                        fits = code == REG_BINARY && data.size() == 8;
                        break;
                    case Kind::String:
                        fits = code == REG_SZ;
                        break;
                    }
                    if (fits) {
                        out.type = code;
                        out.bytes.assign(data.begin(), data.end());
                        found = true;
                    }
                } catch (const std::exception &) {
                    // Unreadable counts as absent.
                }
            }
        }
    }
    return found;
}

bool TMultiConfigReader::ReadBool(const std::string &name, bool &value) const
{
    int number = 0;
    if (!ReadInteger(name, number))
        return false;
    value = number != 0;
    return true;
}

bool TMultiConfigReader::ReadInteger(const std::string &name, int &value) const
{
    Raw raw;
    if (!read(name, Kind::Integer, raw))
        return false;
    std::uint32_t v = 0;
    std::memcpy(&v, raw.bytes.data(), 4);
    value = int(v);
    return true;
}

bool TMultiConfigReader::ReadFloat(const std::string &name, double &value) const
{
    Raw raw;
    if (!read(name, Kind::Float, raw))
        return false;
    std::memcpy(&value, raw.bytes.data(), 8);
    return true;
}

bool TMultiConfigReader::ReadString(const std::string &name, std::string &value) const
{
    Raw raw;
    if (!read(name, Kind::String, raw))
        return false;
    std::string text(raw.bytes.begin(), raw.bytes.end());
    // The stored terminator (and anything a careless writer put after it).
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    value = std::move(text);
    return true;
}

// ---------------------------------------------------------------------------
// TKLTConfigManager

TKLTConfigManager::TKLTConfigManager() = default;

std::string TKLTConfigManager::SettingsPath() const
{
    return "\\Software\\Brakmoor\\" + ProductName + "\\";
}

std::string TKLTConfigManager::path(const std::string &subPath) const
{
    return SettingsPath() + subPath;
}

TMultiConfigReader TKLTConfigManager::reader(const std::string &subPath) const
{
    TMultiConfigReader r;
    if (SourceOrder == 1) {
        r.AddRoot(HKEY_LOCAL_MACHINE);
        r.AddRoot(HKEY_CURRENT_USER);
    } else {
        r.AddRoot(HKEY_CURRENT_USER);
        r.AddRoot(HKEY_LOCAL_MACHINE);
    }
    r.Paths.push_back(path(subPath));
    return r;
}

bool TKLTConfigManager::ReadBool(const std::string &name, bool &value, const std::string &subPath) const
{
    return reader(subPath).ReadBool(name, value);
}
bool TKLTConfigManager::ReadInteger(const std::string &name, int &value, const std::string &subPath) const
{
    return reader(subPath).ReadInteger(name, value);
}
bool TKLTConfigManager::ReadFloat(const std::string &name, double &value, const std::string &subPath) const
{
    return reader(subPath).ReadFloat(name, value);
}
bool TKLTConfigManager::ReadString(const std::string &name, std::string &value, const std::string &subPath) const
{
    return reader(subPath).ReadString(name, value);
}

static HKEY writeRoot(bool machine)
{
    return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool TKLTConfigManager::WriteBool(const std::string &name, bool value, bool machine, const std::string &subPath) const
{
    return WriteBoolAt(writeRoot(machine), path(subPath), name, value);
}
bool TKLTConfigManager::WriteInteger(const std::string &name, int value, bool machine, const std::string &subPath) const
{
    return WriteIntegerAt(writeRoot(machine), path(subPath), name, 32, value);
}
bool TKLTConfigManager::WriteFloat(const std::string &name, double value, bool machine,
                                   const std::string &subPath) const
{
    return WriteFloatAt(writeRoot(machine), path(subPath), name, value);
}
bool TKLTConfigManager::WriteString(const std::string &name, const std::string &value, bool machine,
                                    const std::string &subPath) const
{
    return WriteStringAt(writeRoot(machine), path(subPath), name, 32, value);
}

TKLTConfigManager &ConfigManager()
{
    static TKLTConfigManager manager;
    return manager;
}

// ---------------------------------------------------------------------------
// The program's folder

std::string ProgramFolder()
{
    return vt::platform::toNativePath("C:\\Program Files\\Vantrel");
}

std::string ProgramFile(const std::string &name)
{
    return ProgramFolder() + "/" + name;
}

std::vector<std::string> SeedProgramFolder(const std::string &seedFolder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> failed;
    std::error_code ec;
    if (seedFolder.empty() || !fs::is_directory(seedFolder, ec))
        return failed;
    const fs::path target(ProgramFolder());
    fs::create_directories(target, ec);
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(seedFolder, ec)) {
        const fs::path relative = fs::relative(entry.path(), seedFolder, ec);
        const fs::path to = target / relative;
        if (entry.is_directory(ec)) {
            fs::create_directories(to, ec);
            continue;
        }
        if (fs::exists(to, ec))
            continue; // the user's copy stays
        if (!fs::copy_file(entry.path(), to, fs::copy_options::skip_existing, ec) && ec)
            failed.push_back(relative.string());
    }
    return failed;
}

// The settings file is read only when it is a regular file of at most this.
constexpr std::size_t MaxSettingsFileBytes = std::size_t(1) << 20;

bool ReadBartPESetting(bool detected)
{
    // A settings file is small: anything that is no regular file, or larger
    // than the bound, is not read and the detected value holds.
    std::string bytes;
    if (ReadBoundedFile(ProgramFile("Quillon.ini"), MaxSettingsFileBytes, bytes) != TBoundedFileStatus::Ok)
        return detected;
    const auto ini = vt::i18n::TzoIniFile::fromText(QByteArray(bytes.data(), qsizetype(bytes.size())));
    return ini.ReadInteger("Orvask", "BartPE", detected ? 1 : 0) == 1;
}

} // namespace vt::app
