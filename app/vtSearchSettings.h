#pragma once
// The search window's settings as the main window keeps them in the
// registry: read when the main window is shown, written when it closes.
// Each member starts as the search window's control starts.

#include <QDate>
#include <QTime>

#include <string>

namespace vt::app
{

class TKLTConfigManager;

// Days since 30 December 1899, the time of day as the fraction.
double DateTimeFromParts(const QDate &date, const QTime &time);
// The whole-day part as a date, the fraction as a time of day.
void DateTimeToParts(double value, QDate &date, QTime &time);

struct TSearchSettings {
    bool SearchKeys = true;
    bool SearchValues = true;
    bool SearchData = true;
    bool SearchRange = false; // true: "&Whole registry"; false: "This key &only"
    bool SearchIgnoreCase = false;
    bool SearchHighSpeed = false;
    bool SearchTypeStrings = true;
    bool SearchTypeNumerics = true;
    bool SearchTypeBinary = false;
    bool SearchForHex = false;
    std::string SearchTerm;
    double SearchDateTime1 = 0; // set to the present when constructed
    double SearchDateTime2 = 0;
    int SearchByDateMode = 0;
    int SearchStyle = 0; // 0..3
    bool ReplaceIgnoreCase = false;
    bool ReplaceOverwriteExistingValues = false;
    bool ReplaceOverwriteExistingKeys = false;

    TSearchSettings();
    // A value stored with the wrong type, or out of range, keeps the member
    // as it was.
    void Read(const TKLTConfigManager &config);
    void Write(const TKLTConfigManager &config) const;

    static constexpr int DateModeCount = 5; // entries of the date mode list
};

} // namespace vt::app
