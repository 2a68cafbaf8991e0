#include "platform/hive/HiveTree.h"
#include "platform/hive/Utf8.h"

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <locale.h>

namespace vt::hive {

namespace {

// Decodes one UTF-8 (or WTF-8) sequence; invalid bytes pass as themselves.
char32_t decodeOne(std::string_view s, size_t &i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0 && cont(1)) {
        char32_t c = ((b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
        i += 2;
        return c;
    }
    if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        char32_t c = ((b0 & 0x0F) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6)
                     | (static_cast<unsigned char>(s[i + 2]) & 0x3F);
        i += 3;
        return c;
    }
    if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        char32_t c = ((b0 & 0x07) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 12)
                     | ((static_cast<unsigned char>(s[i + 2]) & 0x3F) << 6)
                     | (static_cast<unsigned char>(s[i + 3]) & 0x3F);
        i += 4;
        return c;
    }
    ++i;
    return 0xDC00 | b0; // keeps a stray byte distinct without colliding with real text
}


locale_t utf8Locale()
{
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

} // namespace

std::string upperName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    bool ascii = true;
    for (char ch : name) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        for (char ch : name)
            out.push_back((ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch);
        return out;
    }
    // Windows upper-cases by a fixed per-character table (no expansions), which
    // towupper matches for the characters registry names use.
    for (size_t i = 0; i < name.size();) {
        char32_t c = decodeOne(name, i);
        if (c < 0x10000 && (c < 0xD800 || c > 0xDFFF)) {
            auto u = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8Locale()));
            if (u < 0x10000)
                c = u;
        }
        vt::unicode::appendUtf8(out, c);
    }
    return out;
}

Key *Key::findSubkey(std::string_view upper) const
{
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), upper,
                               [](const std::unique_ptr<Key> &k, std::string_view u) { return k->upperName < u; });
    if (it != subkeys.end() && (*it)->upperName == upper)
        return it->get();
    return nullptr;
}

const Value *Key::findValue(std::string_view valueName) const
{
    return const_cast<Key *>(this)->findValue(valueName);
}

Value *Key::findValue(std::string_view valueName)
{
    const std::string upper = vt::hive::upperName(valueName);
    for (auto &v : values) {
        if (v.name.size() == valueName.size() && v.name == valueName)
            return &v;
    }
    for (auto &v : values) {
        if (vt::hive::upperName(v.name) == upper)
            return &v;
    }
    return nullptr;
}

} // namespace vt::hive
