#include "vtCommandLine.h"

#include "core/kltRegistry.h"

#include <array>

namespace vt::app
{

namespace
{

const QString kAny = QStringLiteral("-/");
const QString kSlash = QStringLiteral("/");

struct TSwitchDef {
    const char *name;
    bool slashOnly;
};

// Every switch, with the characters it accepts.
constexpr std::array kSwitches{
    TSwitchDef{"allhives", false},
    TSwitchDef{"s", true},
    TSwitchDef{"gui", true},
    TSwitchDef{"nolastjump", false},
    TSwitchDef{"search", false},
    TSwitchDef{"style=substring", false},
    TSwitchDef{"style=wildcard", false},
    TSwitchDef{"style=boolean", false},
    TSwitchDef{"style=regexp", false},
    TSwitchDef{"focus=all", false},
    TSwitchDef{"focus=keys", false},
    TSwitchDef{"focus=values", false},
    TSwitchDef{"focus=data", false},
    TSwitchDef{"nofocus=keys", false},
    TSwitchDef{"nofocus=values", false},
    TSwitchDef{"nofocus=data", false},
    TSwitchDef{"type=all", false},
    TSwitchDef{"type=string", false},
    TSwitchDef{"type=numeric", false},
    TSwitchDef{"type=binary", false},
    TSwitchDef{"notype=string", false},
    TSwitchDef{"notype=numeric", false},
    TSwitchDef{"notype=binary", false},
    TSwitchDef{"ignorecase", false},
    TSwitchDef{"noignorecase", false},
};

} // namespace

TProgramOptions SplitProgramOptions(const QStringList &arguments)
{
    TProgramOptions out;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--system")) {
            if (i + 1 >= arguments.size()) {
                out.error = QStringLiteral("--system needs a folder");
                break;
            }
            out.systemRoot = arguments[++i].toStdString();
        } else if (a.startsWith(QLatin1String("--system="))) {
            out.systemRoot = a.mid(9).toStdString();
        } else if (a == QLatin1String("--as-system")) {
            out.asSystem = true;
        } else if (a == QLatin1String("--as-user")) {
            out.asUser = true;
        } else if (a == QLatin1String("--help")) {
            out.help = true;
        } else if (a == QLatin1String("--open")) {
            if (i + 1 >= arguments.size()) {
                out.error = QStringLiteral("--open needs a file");
                break;
            }
            out.openFiles << arguments[++i];
        } else if (a.startsWith(QLatin1String("--open="))) {
            out.openFiles << a.mid(7);
        } else if (a == QLatin1String("--version")) {
            out.version = true;
        } else {
            out.params << a;
        }
    }
    return out;
}

bool IsSwitch(const QString &param, const QString &name, const QString &chars)
{
    return param.size() == name.size() + 1 && chars.contains(param.front()) &&
           QStringView(param).mid(1).compare(name, Qt::CaseInsensitive) == 0;
}

bool IsKnownSwitch(const QString &param)
{
    for (const TSwitchDef &s : kSwitches)
        if (IsSwitch(param, QLatin1String(s.name), s.slashOnly ? kSlash : kAny))
            return true;
    return false;
}

TCommandLine ParseCommandLine(const QStringList &params)
{
    TCommandLine cl;
    cl.params = params;
    auto given = [&](const char *name, const QString &chars = kAny) {
        for (const QString &p : params)
            if (IsSwitch(p, QLatin1String(name), chars))
                return true;
        return false;
    };
    cl.allHives = given("allhives");
    cl.silent = given("s", kSlash);
    cl.gui = given("gui", kSlash);
    cl.noLastJump = given("nolastjump");

    // A native path begins with the switch character "/": only the known
    // switches stay out of the joined text, so /home/me/fix.reg (also split at
    // a blank) is a file, and so is a name with a dash that is no switch.
    QStringList parts;
    for (const QString &p : params)
        if (!IsKnownSwitch(p))
            parts << p;
    cl.joined = parts.join(QLatin1Char(' '));
    if (cl.joined.endsWith(QLatin1Char(' ')))
        cl.joined.chop(1);

    if (given("search")) {
        TSearchStart s;
        // Tested in this order: the last one named here wins.
        const char *styles[] = {"style=substring", "style=wildcard", "style=boolean", "style=regexp"};
        for (int i = 0; i < 4; ++i)
            if (given(styles[i]))
                s.style = i;
        if (given("focus=all"))
            s.focusKeys = s.focusValues = s.focusData = true;
        if (given("focus=keys"))
            s.focusKeys = true;
        if (given("focus=values"))
            s.focusValues = true;
        if (given("focus=data"))
            s.focusData = true;
        if (given("nofocus=keys"))
            s.focusKeys = false;
        if (given("nofocus=values"))
            s.focusValues = false;
        if (given("nofocus=data"))
            s.focusData = false;
        if (given("type=all"))
            s.typeStrings = s.typeNumerics = s.typeBinary = true;
        if (given("type=string"))
            s.typeStrings = true;
        if (given("type=numeric"))
            s.typeNumerics = true;
        if (given("type=binary"))
            s.typeBinary = true;
        if (given("notype=string"))
            s.typeStrings = false;
        if (given("notype=numeric"))
            s.typeNumerics = false;
        if (given("notype=binary"))
            s.typeBinary = false;
        if (given("ignorecase"))
            s.ignoreCase = true;
        if (given("noignorecase"))
            s.ignoreCase = false;
        // The first two parameters are positional, whatever they look like.
        const QString range = params.value(0);
        s.term = params.value(1);
        if (range == QLatin1String("*")) {
            s.wholeRegistry = true;
        } else {
            s.wholeRegistry = false;
            const qsizetype slash = range.indexOf(QLatin1Char('\\'));
            if (slash < 0) {
                // A root alone is that root; any other word names no key.
                s.root = ParseRootName(range.toStdString());
                s.keyPath = s.root ? std::string() : range.toStdString();
            } else {
                s.root = ParseRootName(range.left(slash).toStdString());
                s.keyPath = range.mid(slash).toStdString();
            }
        }
        cl.search = s;
    }
    return cl;
}

} // namespace vt::app

namespace vt::app
{

static TCommandLine &programCommandLine()
{
    static TCommandLine commandLine;
    return commandLine;
}

void SetProgramCommandLine(const TCommandLine &commandLine)
{
    programCommandLine() = commandLine;
}

const TCommandLine &ProgramCommandLine()
{
    return programCommandLine();
}

} // namespace vt::app
