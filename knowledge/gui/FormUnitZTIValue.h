#pragma once
// The rule dialog: shows a value's location, takes a description and the
// rule command, and builds the OpenZTI line. Created once at start-up and
// kept for the whole run, so the description, the command and the check box
// keep their state from one use to the next.

#include "core/kltRegistry.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vt::knowledge
{

class TformOpenZTIValue : public QDialog
{
    Q_OBJECT
public:
    explicit TformOpenZTIValue(QWidget *parent = nullptr);

    // Fills the labels and the check field, shows the dialog modally (through
    // the editors' modal seam) and on OK returns true with the rule line.
    bool Execute(HKEY root, TRegDataType type, const std::string &keyPath, const std::string &valueName,
                 const std::string &dataText, std::string &ruleLine);
    // The line the dialog's present state makes.
    std::string RuleLine() const;

    void accept() override; // refused while a field holds a line break

    QLabel *labelRootKey = nullptr;
    QLabel *labelKeyPath = nullptr;
    QLabel *labelValueName = nullptr;
    QLabel *labelType = nullptr;
    QLabel *labelData = nullptr;
    QComboBox *cbDescription = nullptr;
    QGroupBox *groupZTI = nullptr;
    QRadioButton *rbRegyValue = nullptr;
    QRadioButton *rbRegyRemove = nullptr;
    QRadioButton *rbRegyChange = nullptr;
    QRadioButton *rbRegyFix = nullptr;
    QCheckBox *cbVerifier = nullptr;
    QLineEdit *editVerifier = nullptr;
    QLabel *labelProblem = nullptr; // why OK was refused
    QPushButton *bnOK = nullptr;
    QPushButton *bnCancel = nullptr;

private:
    void setLabel(QLabel *label, const std::string &text);

    // What the labels show, kept whole (a label shows a cut form of long texts).
    std::string m_rootName;
    std::string m_keyPath;
    std::string m_valueName;
};

} // namespace vt::knowledge
