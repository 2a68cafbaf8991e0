// A fresh replacement system in a temporary folder, opened for one test and
// removed afterwards.
#pragma once

#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <string>

namespace vt::test
{

class TempSystem
{
public:
    explicit TempSystem(vt::platform::SystemOptions options = {});
    ~TempSystem();
    TempSystem(const TempSystem &) = delete;
    TempSystem &operator=(const TempSystem &) = delete;

    const std::string &root() const { return m_root; }
    LONG openResult() const { return m_openResult; }
    // Closes and opens the same system again (as a new process would).
    LONG reopen();
    LONG reopen(const vt::platform::SystemOptions &options);
    void close();

private:
    std::string m_root;
    vt::platform::SystemOptions m_options;
    LONG m_openResult = 0;
};

// Enables (or disables) one privilege of the process token, as a program that
// loads hives must; false when the token does not hold it.
bool enablePrivilege(const char *name, bool on = true);

// A new empty temporary folder (removed by removeTree).
std::string makeTempDir(const char *prefix = "vt-test");
void removeTree(const std::string &path);

// A key handle closed when it goes out of scope; `&k` hands its slot to the
// functions that open one.
struct OpenKey {
    HKEY h = nullptr;
    OpenKey() = default;
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;
    ~OpenKey()
    {
        if (h)
            RegCloseKey(h);
    }
    operator HKEY() const { return h; }
    HKEY *operator&() { return &h; }
};

// Sets a REG_SZ value, creating the key; the registry's code.
LONG setSz(HKEY root, const char *path, const char *name, const std::string &text);
// A REG_SZ value's text of up to 1,023 bytes, or "<no key>" / "<no value>".
std::string readSz(HKEY root, const char *path, const char *name);

// The whole content of a file (empty when it cannot be read).
std::string fileBytes(const std::string &path);

} // namespace vt::test
