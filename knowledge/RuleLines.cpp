#include "RuleLines.h"

namespace vt::knowledge
{

const std::array<const char *, DescriptionTokenCount> DescriptionTokens = {
    "REG_CLASSID",
    "REG_INTERFACE",
    "REG_TYPELIB",
    "REG_ROOTCLASS",
    "REG_BHO",
    "REG_DPF",
    "REG_IEEXTENSION",
    "REG_IEMENUEXT",
    "REG_IETOOLBAR",
    "REG_EXPLORERBAR",
    "REG_SETTINGS",
    "REG_GLOBALSETTINGS",
    "REG_USERSETTINGS",
    "REG_ACTIVEXSETTINGS",
    "REG_IESEARCHHOOK",
    "REG_RASPROFILE",
    "REG_APPID",
    "REG_FILEEXTENSION",
    "REG_AUTORUN",
    "REG_UNINSTALL",
    "REG_MODULEUSAGE",
    "REG_SHAREDDLL",
    "REG_IESEARCHURL",
    "REG_IESEARCHBAR",
    "REG_IESEARCHPAGE",
    "REG_IESTARTPAGE",
    "REG_IEDEFAULTPAGE",
    "REG_TCPHIJACK",
    "REG_PROTOCOLFILTER",
    "REG_SERVICE",
    "FILE_LIBRARY",
    "FILE_DATA",
    "FILE_EXE",
    "FILE_AD",
    "FILE_INSTSTUB",
    "FILE_INSTALLER",
    "FILE_UNINSTALLER",
    "FILE_WEBPAGE",
    "FILE_TEXT",
    "FILE_SYSTEM",
    "FILE_SOUND",
    "FILE_DPF",
    "FILE_HELP",
    "FILE_DIALEREXE",
    "FILE_BADBOOKMARK",
    "FILE_TEMP",
    "FILE_LINK",
    "FILE_PICTURE",
    "FILE_LOG",
    "FILE_PROG",
    "FILE_AUTOSTART",
    "FILE_UNINSTALLER",
    "FILE_DESKTOPLINK",
    "FILE_GROUPENTRY",
    "FILE_STARTMENUITEM",
    "FILE_QUICKLAUNCH",
    "FILE_CONFIGURATION",
    "FILE_SERVICE",
    "FILE_ADS",
    "DIR_PROG",
    "DIR_DOWNLOAD",
    "DIR_PROGGROUP",
    "DIR_TEMP",
    "DIR_PERSONAL",
    "DIR_APPDATA",
    "DIR_COMMON_APPDATA",
    "DIR_COMMON_DOCS",
    "DIR_COMMON_FILES",
    "BROWSER_TRACKINGCOOKIE",
    "BROWSER_COOKIE",
    "BROWSER_CACHE",
    "BROWSER_BOOKMARK",
    "BROWSER_BOOKMARKGROUP",
    "BROWSER_PAGE",
    "API_WINSOCK",
};

namespace
{

void appendQuoted(std::string &line, std::string_view field)
{
    line += '"';
    line += field;
    line += '"';
}

} // namespace

std::string FormatValueRule(TRuleCommand command, bool verifier, std::string_view description,
                            std::string_view rootName, std::string_view keyPath, std::string_view valueName,
                            std::string_view checkText)
{
    std::string line;
    switch (command) {
    case TRuleCommand::RegyValue:
        line = "RegyValue:";
        break;
    case TRuleCommand::RegyRemove:
        line = "RegyRemove:";
        break;
    case TRuleCommand::RegyChange:
        line = "RegyChange:";
        break;
    case TRuleCommand::RegyFix:
        line = "RegyFix:";
        break;
    }
    appendQuoted(line, description);
    line += ',';
    line += rootName;
    line += ',';
    appendQuoted(line, keyPath);
    line += ',';
    if (command == TRuleCommand::RegyChange || command == TRuleCommand::RegyFix) {
        line += '"';
        line += valueName;
        line += '=';
        line += checkText;
        line += '"';
        return line;
    }
    appendQuoted(line, valueName);
    if (command == TRuleCommand::RegyRemove || verifier) {
        line += ',';
        appendQuoted(line, checkText);
    }
    return line;
}

std::string FormatKeyRule(HKEY root, const std::string &keyPath)
{
    const std::string rootName = RootKeyToName(root);
    HKEY splitRoot = nullptr;
    std::string parentPath, keyName;
    if (!SplitValuePath(rootName + keyPath, splitRoot, parentPath, keyName)) {
        parentPath = keyPath;
        keyName.clear();
    }
    std::string line = "RegyKey:\"description\",";
    line += rootName;
    line += ',';
    appendQuoted(line, parentPath);
    line += ',';
    appendQuoted(line, keyName);
    return line;
}

std::string InitialCheckText(TRegDataType type, std::string_view valueName, std::string_view dataText)
{
    std::string text(valueName);
    text += '=';
    if (type != rdMultiString) {
        text += dataText;
        return text;
    }
    for (std::size_t i = 0; i < dataText.size(); ++i) {
        const char c = dataText[i];
        if (c == '\r' || c == '\n') {
            text += ' ';
            if (c == '\r' && i + 1 < dataText.size() && dataText[i + 1] == '\n')
                ++i;
        } else {
            text += c;
        }
    }
    return text;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool RuleCanRemoveText(TRegDataType type)
{
    return type == rdString || type == rdExpandString || type == rdMultiString;
}

} // namespace vt::knowledge
