#pragma once
// An ini-style language file held in memory. Section and key names compare
// without regard to letter case; values are the file's raw bytes, because
// whether they are UTF-8 or 8-bit text is decided by [Main] FontUTF8.

#include <QByteArray>
#include <QList>
#include <QPair>

namespace vt::i18n
{

class TzoIniFile
{
public:
    using Entry = QPair<QByteArray, QByteArray>; // key, value

    TzoIniFile() = default;
    static TzoIniFile fromText(const QByteArray &text);
    QByteArray toText() const; // CR LF line ends, sections and keys in insertion order

    bool SectionExists(const QByteArray &section) const;
    bool ValueExists(const QByteArray &section, const QByteArray &key) const;
    QByteArray ReadString(const QByteArray &section, const QByteArray &key, const QByteArray &def = {}) const;
    // Decimal or 0x-hex; anything else gives `def`.
    int ReadInteger(const QByteArray &section, const QByteArray &key, int def) const;
    // Non-zero integer, or "true"/"yes"; anything unreadable gives `def`.
    bool ReadBool(const QByteArray &section, const QByteArray &key, bool def) const;
    QList<Entry> ReadSectionValues(const QByteArray &section) const;

    void WriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value);
    void EraseSection(const QByteArray &section);

private:
    struct Section {
        QByteArray name;
        QList<Entry> entries;
    };
    const Section *find(const QByteArray &section) const;
    QList<Section> m_sections;
};

} // namespace vt::i18n

namespace vt::i18n
{

// Language file bytes to text: UTF-8 when `utf8`, else one 8-bit character per
// byte. `ok` turns false for invalid UTF-8.
QString DecodeLanguageText(const QByteArray &bytes, bool utf8, bool *ok = nullptr);
// The reverse; characters an 8-bit file cannot hold become '?'.
QByteArray EncodeLanguageText(const QString &text, bool utf8);

} // namespace vt::i18n
