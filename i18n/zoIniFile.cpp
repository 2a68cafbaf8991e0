#include "i18n/zoIniFile.h"

#include <QStringDecoder>

namespace vt::i18n
{

namespace
{

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

TzoIniFile TzoIniFile::fromText(const QByteArray &text)
{
    TzoIniFile ini;
    Section *current = nullptr;
    // Editors often save UTF-8 language files with a byte-order mark.
    const QByteArray body = text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
    for (QByteArray line : body.split('\n')) {
        line = line.trimmed(); // also drops the CR of CR LF
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            const QByteArray name = line.mid(1, line.size() - 2).trimmed();
            current = nullptr;
            for (Section &s : ini.m_sections)
                if (sameName(s.name, name))
                    current = &s;
            if (!current) {
                ini.m_sections.append(Section{name, {}});
                current = &ini.m_sections.last();
            }
            continue;
        }
        if (!current)
            continue; // keys before the first section belong nowhere
        const qsizetype eq = line.indexOf('=');
        const QByteArray key = (eq < 0 ? line : line.left(eq)).trimmed();
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1);
        // Later duplicates win, as with any ini reader that writes through.
        bool replaced = false;
        for (Entry &e : current->entries)
            if (sameName(e.first, key)) {
                e.second = value;
                replaced = true;
                break;
            }
        if (!replaced)
            current->entries.append({key, value});
    }
    return ini;
}

QByteArray TzoIniFile::toText() const
{
    QByteArray out;
    for (const Section &s : m_sections) {
        out += '[' + s.name + "]\r\n";
        for (const Entry &e : s.entries)
            out += e.first + '=' + e.second + "\r\n";
        out += "\r\n";
    }
    return out;
}

const TzoIniFile::Section *TzoIniFile::find(const QByteArray &section) const
{
    for (const Section &s : m_sections)
        if (sameName(s.name, section))
            return &s;
    return nullptr;
}

bool TzoIniFile::SectionExists(const QByteArray &section) const
{
    return find(section) != nullptr;
}

bool TzoIniFile::ValueExists(const QByteArray &section, const QByteArray &key) const
{
    if (const Section *s = find(section))
        for (const Entry &e : s->entries)
            if (sameName(e.first, key))
                return true;
    return false;
}

QByteArray TzoIniFile::ReadString(const QByteArray &section, const QByteArray &key, const QByteArray &def) const
{
    if (const Section *s = find(section))
        for (const Entry &e : s->entries)
            if (sameName(e.first, key))
                return e.second;
    return def;
}

int TzoIniFile::ReadInteger(const QByteArray &section, const QByteArray &key, int def) const
{
    const QByteArray v = ReadString(section, key).trimmed();
    bool ok = false;
    const int n = v.startsWith("0x") || v.startsWith("0X") ? v.mid(2).toInt(&ok, 16) : v.toInt(&ok, 10);
    return ok ? n : def;
}

bool TzoIniFile::ReadBool(const QByteArray &section, const QByteArray &key, bool def) const
{
    const QByteArray v = ReadString(section, key).trimmed();
    if (sameName(v, "true") || sameName(v, "yes"))
        return true;
    if (sameName(v, "false") || sameName(v, "no"))
        return false;
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

QList<TzoIniFile::Entry> TzoIniFile::ReadSectionValues(const QByteArray &section) const
{
    const Section *s = find(section);
    return s ? s->entries : QList<Entry>{};
}

void TzoIniFile::WriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    Section *target = nullptr;
    for (Section &s : m_sections)
        if (sameName(s.name, section))
            target = &s;
    if (!target) {
        m_sections.append(Section{section, {}});
        target = &m_sections.last();
    }
    for (Entry &e : target->entries)
        if (sameName(e.first, key)) {
            e.second = value;
            return;
        }
    target->entries.append({key, value});
}

void TzoIniFile::EraseSection(const QByteArray &section)
{
    m_sections.removeIf([&](const Section &s) { return sameName(s.name, section); });
}

QString DecodeLanguageText(const QByteArray &bytes, bool utf8, bool *ok)
{
    if (ok)
        *ok = true;
    if (!utf8)
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() && ok)
        *ok = false;
    return text;
}

QByteArray EncodeLanguageText(const QString &text, bool utf8)
{
    if (utf8)
        return text.toUtf8();
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out += c.unicode() < 0x100 ? char(c.unicode()) : '?';
    return out;
}

} // namespace vt::i18n
