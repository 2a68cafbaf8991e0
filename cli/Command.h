// The command-line tool's verbs: one class per verb, each testable in
// process with its own input and output streams.
#pragma once

#include "platform/win32.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class TMyRegistry;
struct TKeyWalkReport;

namespace vt::cli
{

class Command
{
public:
    virtual ~Command() = default;

    // args are the words after the verb. Returns the exit code.
    virtual int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) = 0;

    // Upper-case verb name as shown in messages ("QUERY").
    virtual std::string name() const = 0;
    virtual std::string usage() const = 0;
    // Whether the verb only reads the registry: its success does not hang on
    // writing back hives it did not change (another process's changes that
    // wait in the journal, a loaded hive on a full medium).
    virtual bool readsOnly() const { return false; }

    // Where Yes/No answers come from; std::cin unless set.
    void setInput(std::istream *in) { m_in = in; }

protected:
    // Prints the question and reads Yes/No answers; end of input is No.
    bool confirm(const std::string &question, std::ostream &out);

    // Prints the usage when the words ask for it ("/?" or "/h" alone).
    bool usageAsked(const std::vector<std::string> &args, std::ostream &out) const;

    int invalidSyntax(std::ostream &err) const;
    int invalidKeyName(std::ostream &err) const;
    int notFound(std::ostream &err) const;
    int success(std::ostream &out) const;
    int cancelled(std::ostream &out) const;
    static int failure(std::ostream &err, LONG code);
    // What a walk left out, on stderr; returns 1, or 0 when nothing was left out.
    static int reportSkipped(std::ostream &err, const TKeyWalkReport &report);
    // Enables one privilege of the process token, as reg does before the
    // verbs that need it; false when the token does not hold it.
    static bool enablePrivilege(const char *name);

    // "/reg:32" and "/reg:64" choose the registry view; true when sw is one
    // of them, with bad set when a view was already chosen.
    bool takeViewSwitch(const std::string &sw, bool &bad);
    void applyView(TMyRegistry &reg) const;
    // The words that are not a view switch; false for a second view switch.
    bool takeWords(const std::vector<std::string> &args, std::vector<std::string> &words);
    // Always an explicit view: the tool is a 64-bit program, as reg is on
    // 64-bit Windows, whatever the system's own default for programs.
    REGSAM viewFlags() const { return m_bitness == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
    uint8_t m_bitness = 64;
    bool m_viewChosen = false;
    // A key that did not open: "not found" when it is missing, else the reason.
    int openError(std::ostream &err, HKEY root, const std::string &path) const;

    std::istream *m_in = nullptr;
};

// A key given on the command line: ROOT\path with any of the short or full
// root names, letters in any case.
struct KeyArg {
    HKEY root = nullptr;
    std::string path;     // below the root, no leading or trailing backslash
    std::string fullName; // root's full name, then "\" and the path as given
};
bool parseKeyArg(const std::string &text, KeyArg &key);

// A switch ("/v", "-V") without its lead character, lower-cased; empty when
// the word is not a switch.
std::string switchName(const std::string &word);

// The system's text for an error code, as "ERROR: " lines print it.
std::string errorText(LONG code);

// "1 key", "2 keys".
std::string counted(size_t count, const char *singular, const char *plural);

} // namespace vt::cli
