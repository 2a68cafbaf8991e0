// compare KEY1 KEY2 [/v NAME | /ve] [/oa | /od | /os | /on] [/s]
//
// Output follows reg: one line per value, "= Value: " for a value both keys
// hold alike, "< Value: " for the first key's value that the second lacks or
// holds otherwise, "> Value: " for the second key's, each followed by the
// key's full name, the value's name, type and data separated by two blanks.
// With /s the subkeys are compared too: "= Key: " for a subkey both have
// (then compared in turn), "< Key: " and "> Key: " for a subkey only one has
// (not descended into). /od (the default) prints the differences, /os the
// matches, /oa both, /on neither. Then a blank line, "Result Compared:
// Identical" or "Different" and the success line. Exit code 0 when identical,
// 2 when different, 1 on failure, also when a subkey could not be read (the
// comparison is then incomplete and no result is claimed).
#include "cli/ValueText.h"
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "regfile/RegKeyWalk.h"

#include <ostream>
#include <unordered_map>

namespace vt::cli
{

namespace
{

enum class Output { All, Differences, Matches, Nothing };

struct Value {
    std::string name;
    uint32_t code = 0;
    TRegByteArray data;
};

// A key's values in their order, or the one value /v or /ve names.
std::vector<Value> readValues(TMyRegistry &reg, const std::string *only)
{
    std::vector<Value> values;
    std::vector<std::string> names;
    if (only)
        names.push_back(*only);
    else
        reg.GetValueNames(names);
    for (const std::string &name : names) {
        Value v;
        v.name = name;
        if (reg.readValue(name, v.code, v.data))
            values.push_back(std::move(v));
    }
    return values;
}

struct Walk {
    std::ostream &out;
    Output output;
    const std::string *only; // the value /v or /ve names, else null
    bool recurse;
    bool differs = false;
    TKeyWalkReport skipped;

    void line(char mark, const std::string &text)
    {
        const bool match = mark == '=';
        differs = differs || !match;
        if (output == Output::All || (output == Output::Differences && !match) || (output == Output::Matches && match))
            out << mark << ' ' << text << '\n';
    }

    void valueLine(char mark, const std::string &key, const Value &v)
    {
        line(mark, "Value: " + key + "  " + (v.name.empty() ? std::string("(Default)") : v.name) + "  " +
                       typeName(v.code) + "  " + dataText(v.code, v.data));
    }

    void compare(TMyRegistry &left, const std::string &leftName, TMyRegistry &right, const std::string &rightName)
    {
        const std::vector<Value> leftValues = readValues(left, only);
        const std::vector<Value> rightValues = readValues(right, only);
        std::unordered_map<std::string, const Value *> rightByName;
        for (const Value &v : rightValues)
            rightByName.emplace(FoldedKeyName(v.name), &v);
        std::unordered_map<std::string, bool> leftNames;
        for (const Value &v : leftValues) {
            leftNames.emplace(FoldedKeyName(v.name), true);
            const auto other = rightByName.find(FoldedKeyName(v.name));
            if (other != rightByName.end() && other->second->code == v.code && other->second->data == v.data) {
                valueLine('=', leftName, v);
                continue;
            }
            valueLine('<', leftName, v);
            if (other != rightByName.end())
                valueLine('>', rightName, *other->second);
        }
        for (const Value &v : rightValues)
            if (!leftNames.count(FoldedKeyName(v.name)))
                valueLine('>', rightName, v);
        if (recurse)
            compareSubkeys(left, leftName, right, rightName);
    }

    void compareSubkeys(TMyRegistry &left, const std::string &leftName, TMyRegistry &right,
                        const std::string &rightName)
    {
        std::vector<std::string> leftKeys, rightKeys;
        left.GetKeyNames(leftKeys);
        right.GetKeyNames(rightKeys);
        std::unordered_map<std::string, const std::string *> rightByName;
        for (const std::string &name : rightKeys)
            rightByName.emplace(FoldedKeyName(name), &name);
        std::unordered_map<std::string, bool> leftNames;
        for (const std::string &name : leftKeys) {
            leftNames.emplace(FoldedKeyName(name), true);
            const auto other = rightByName.find(FoldedKeyName(name));
            if (other == rightByName.end())
                continue;
            const std::string leftChildName = leftName + "\\" + name;
            const std::string rightChildName = rightName + "\\" + *other->second;
            line('=', "Key: " + leftChildName);
            TMyRegistry leftChild, rightChild;
            const bool leftOpen = OpenSubkeyForReading(left, name, leftChild);
            if (!leftOpen)
                skipped.skip(leftChildName, !IsAddressableKeyName(name));
            const bool rightOpen = OpenSubkeyForReading(right, *other->second, rightChild);
            if (!rightOpen)
                skipped.skip(rightChildName, !IsAddressableKeyName(*other->second));
            if (leftOpen && rightOpen)
                compare(leftChild, leftChildName, rightChild, rightChildName);
        }
        for (const std::string &name : leftKeys)
            if (!rightByName.count(FoldedKeyName(name)))
                line('<', "Key: " + leftName + "\\" + name);
        for (const std::string &name : rightKeys)
            if (!leftNames.count(FoldedKeyName(name)))
                line('>', "Key: " + rightName + "\\" + name);
    }
};

} // namespace

std::string CompareCommand::usage() const
{
    return "vantrel-cli COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [/oa | /od | /os | /on] [/s]\n"
           "\n"
           "  KeyName  ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC;\n"
           "           keys of loaded hives compare like any other\n"
           "  /v       the value ValueName only\n"
           "  /ve      the default value (the value without a name) only\n"
           "  /oa      print the differences and the matches\n"
           "  /od      print the differences only (the default)\n"
           "  /os      print the matches only\n"
           "  /on      print neither, only the result\n"
           "  /s       all subkeys and values, recursively\n"
           "  /reg:32  the 32-bit view of the registry\n"
           "  /reg:64  the 64-bit view of the registry (the default)\n"
           "\n"
           "Lines: \"=\" alike in both keys, \"<\" the first key's, \">\" the second key's.\n"
           "Exit code: 0 identical, 2 different, 1 failed.\n";
}

int CompareCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (args.size() < 2)
        return invalidSyntax(err);
    KeyArg left, right;
    if (!parseKeyArg(args[0], left) || !parseKeyArg(args[1], right))
        return invalidKeyName(err);
    bool recurse = false, valueEmpty = false, haveValue = false, outputChosen = false;
    Output output = Output::Differences;
    std::string valueName;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        if (sw == "ve" && !valueEmpty) {
            valueEmpty = true;
        } else if (sw == "s" && !recurse) {
            recurse = true;
        } else if (sw == "v" && !haveValue && i + 1 < args.size()) {
            haveValue = true;
            valueName = args[++i];
        } else if ((sw == "oa" || sw == "od" || sw == "os" || sw == "on") && !outputChosen) {
            outputChosen = true;
            output = sw == "oa"   ? Output::All
                     : sw == "os" ? Output::Matches
                     : sw == "on" ? Output::Nothing
                                  : Output::Differences;
        } else {
            return invalidSyntax(err);
        }
    }
    // One value is compared in the two keys named, not throughout a subtree.
    if ((haveValue && valueEmpty) || ((haveValue || valueEmpty) && recurse))
        return invalidSyntax(err);

    TMyRegistry leftReg, rightReg;
    for (auto [reg, key] : {std::pair{&leftReg, &left}, std::pair{&rightReg, &right}}) {
        applyView(*reg);
        reg->SetRootKey(key->root);
        if (!reg->OpenKeyReadOnly("\\" + key->path))
            return openError(err, key->root, key->path);
    }
    const std::string *only = haveValue || valueEmpty ? &valueName : nullptr;
    if (only) {
        uint32_t code = 0;
        TRegByteArray data;
        if (!leftReg.readValue(valueName, code, data) && !rightReg.readValue(valueName, code, data))
            return notFound(err);
    }
    Walk walk{out, output, only, recurse, false, {}};
    walk.compare(leftReg, left.fullName, rightReg, right.fullName);
    if (reportSkipped(err, walk.skipped))
        return 1;
    out << "\nResult Compared: " << (walk.differs ? "Different" : "Identical") << "\n";
    success(out);
    return walk.differs ? 2 : 0;
}

} // namespace vt::cli
