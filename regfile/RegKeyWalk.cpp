#include "regfile/RegKeyWalk.h"

#include <QString>

void TKeyWalkReport::skip(const std::string &fullName, bool badName)
{
    const bool nul = fullName.find('\0') != std::string::npos;
    ++(nul ? nulNames : badName ? badNames : denied);
    if (firstNames.size() < MaxNames)
        firstNames.push_back(ShowNuls(fullName));
}

std::string ShowNuls(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\0')
            out += "<NUL>";
        else
            out += c;
    }
    return out;
}

bool IsAddressableKeyName(const std::string &name)
{
    return !name.empty() && name.find_first_of(std::string_view("\\\0", 2)) == std::string::npos;
}

bool OpenSubkeyForReading(TMyRegistry &parent, const std::string &name, TMyRegistry &child)
{
    if (!IsAddressableKeyName(name) || !parent.CurrentKey())
        return false;
    child.SetBitness(parent.Bitness());
    // The full read right: a key that opens only for its values would have
    // its subkeys left out without anyone noticing.
    child.SetAccess(KEY_READ | (parent.Access() & KEY_WOW64_RES));
    child.SetRootKey(parent.CurrentKey());
    return child.OpenKey(name, false);
}

std::string FoldedKeyName(std::string_view name)
{
    std::string out(name);
    bool ascii = true;
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80)
            ascii = false;
        else if (u >= 'A' && u <= 'Z')
            c = char(u - 'A' + 'a');
    }
    if (ascii)
        return out;
    const QByteArray folded = QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), size_t(folded.size()));
}
