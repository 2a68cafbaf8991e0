#include "vtSearchSettings.h"

#include "kltConfig.h"

#include <QDateTime>

#include <cmath>

namespace vt::app
{

static const QDate kEpoch(1899, 12, 30);

double DateTimeFromParts(const QDate &date, const QTime &time)
{
    const double days = double(kEpoch.daysTo(date));
    const double fraction = double(QTime(0, 0).msecsTo(time)) / 86400000.0;
    // Before the epoch the fraction still counts forward in the day.
    return days < 0 ? days - fraction : days + fraction;
}

void DateTimeToParts(double value, QDate &date, QTime &time)
{
    if (!std::isfinite(value) || std::fabs(value) > 3000000.0) // beyond any date a control shows
        value = 0;
    const double days = std::trunc(value);
    const double fraction = std::fabs(value - days);
    date = kEpoch.addDays(qint64(days));
    // Rounded to the millisecond, so 18:30 stays 18:30 after the trip through a double.
    const int ms = std::min(int(std::llround(fraction * 86400000.0)), 86400000 - 1);
    time = QTime(0, 0).addMSecs(ms);
}

TSearchSettings::TSearchSettings()
{
    const QDateTime now = QDateTime::currentDateTime();
    SearchDateTime1 = SearchDateTime2 = DateTimeFromParts(now.date(), now.time());
}

void TSearchSettings::Read(const TKLTConfigManager &config)
{
    config.ReadBool("SearchKeys", SearchKeys);
    config.ReadBool("SearchValues", SearchValues);
    config.ReadBool("SearchData", SearchData);
    config.ReadBool("SearchRange", SearchRange);
    config.ReadBool("SearchIgnoreCase", SearchIgnoreCase);
    config.ReadBool("SearchHighSpeed", SearchHighSpeed);
    config.ReadBool("SearchTypeStrings", SearchTypeStrings);
    config.ReadBool("SearchTypeNumerics", SearchTypeNumerics);
    config.ReadBool("SearchTypeBinary", SearchTypeBinary);
    config.ReadBool("SearchForHex", SearchForHex);
    config.ReadString("SearchTerm", SearchTerm);
    double when = 0;
    if (config.ReadFloat("SearchDateTime1", when) && std::isfinite(when))
        SearchDateTime1 = when;
    if (config.ReadFloat("SearchDateTime2", when) && std::isfinite(when))
        SearchDateTime2 = when;
    int number = 0;
    if (config.ReadInteger("SearchByDateMode", number) && number >= 0 && number < DateModeCount)
        SearchByDateMode = number;
    // Absent or out of range: the first style.
    SearchStyle = config.ReadInteger("SearchStyle", number) && number >= 0 && number <= 3 ? number : 0;
    config.ReadBool("ReplaceIgnoreCase", ReplaceIgnoreCase);
    config.ReadBool("ReplaceOverwriteExistingValues", ReplaceOverwriteExistingValues);
    config.ReadBool("ReplaceOverwriteExistingKeys", ReplaceOverwriteExistingKeys);
}

void TSearchSettings::Write(const TKLTConfigManager &config) const
{
    config.WriteBool("SearchKeys", SearchKeys);
    config.WriteBool("SearchValues", SearchValues);
    config.WriteBool("SearchData", SearchData);
    config.WriteBool("SearchRange", SearchRange);
    config.WriteBool("SearchIgnoreCase", SearchIgnoreCase);
    config.WriteBool("SearchHighSpeed", SearchHighSpeed);
    config.WriteBool("SearchTypeStrings", SearchTypeStrings);
    config.WriteBool("SearchTypeNumerics", SearchTypeNumerics);
    config.WriteBool("SearchTypeBinary", SearchTypeBinary);
    config.WriteBool("SearchForHex", SearchForHex);
    config.WriteString("SearchTerm", SearchTerm);
    config.WriteFloat("SearchDateTime1", SearchDateTime1);
    config.WriteFloat("SearchDateTime2", SearchDateTime2);
    config.WriteInteger("SearchByDateMode", SearchByDateMode);
    config.WriteInteger("SearchStyle", SearchStyle);
    config.WriteBool("ReplaceIgnoreCase", ReplaceIgnoreCase);
    config.WriteBool("ReplaceOverwriteExistingValues", ReplaceOverwriteExistingValues);
    config.WriteBool("ReplaceOverwriteExistingKeys", ReplaceOverwriteExistingKeys);
}

} // namespace vt::app
