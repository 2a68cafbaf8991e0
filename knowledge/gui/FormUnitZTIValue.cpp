#include "FormUnitZTIValue.h"

#include "editors/gui/EditorModal.h"
#include "knowledge/RuleLines.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <limits>

namespace vt::knowledge
{

namespace
{

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string toStd(const QString &text)
{
    return text.toUtf8().toStdString();
}

// A label shows at most this many characters; the rule takes the whole text.
constexpr qsizetype kLabelTextLimit = 300;

} // namespace

TformOpenZTIValue::TformOpenZTIValue(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formOpenZTIValue"));
    setWindowTitle(tr("Create OpenZTI for registry value"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto *groupLocation = new QGroupBox(tr("&Location"), this);
    groupLocation->setObjectName(QStringLiteral("groupLocation"));
    auto *form = new QFormLayout(groupLocation);
    auto addLabel = [&](const QString &caption, const char *name) {
        auto *label = new QLabel(groupLocation);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setMinimumWidth(380);
        label->setMaximumWidth(380);
        form->addRow(caption, label);
        return label;
    };
    labelRootKey = addLabel(tr("Root:"), "labelRootKey");
    labelKeyPath = addLabel(tr("Path:"), "labelKeyPath");
    labelValueName = addLabel(tr("Value:"), "labelValueName");
    labelType = addLabel(tr("Type:"), "labelType");
    labelData = addLabel(tr("Data:"), "labelData");
    layout->addWidget(groupLocation);

    auto *groupDescription = new QGroupBox(tr("Description"), this);
    groupDescription->setObjectName(QStringLiteral("groupDescription"));
    auto *descriptionLayout = new QVBoxLayout(groupDescription);
    cbDescription = new QComboBox(groupDescription);
    cbDescription->setObjectName(QStringLiteral("cbDescription"));
    cbDescription->setEditable(true);
    cbDescription->setInsertPolicy(QComboBox::NoInsert);
    cbDescription->setMaxVisibleItems(20);
    for (const char *token : DescriptionTokens)
        cbDescription->addItem(QStringLiteral("<$") + QString::fromLatin1(token) + QLatin1Char('>'));
    cbDescription->setEditText(QString::fromLatin1(DefaultRuleDescription));
    descriptionLayout->addWidget(cbDescription);
    layout->addWidget(groupDescription);

    groupZTI = new QGroupBox(tr("OpenZTI command"), this);
    groupZTI->setObjectName(QStringLiteral("groupZTI"));
    auto *commandLayout = new QVBoxLayout(groupZTI);
    auto addRadio = [&](const QString &caption, const char *name) {
        auto *button = new QRadioButton(caption, groupZTI);
        button->setObjectName(QString::fromLatin1(name));
        commandLayout->addWidget(button);
        return button;
    };
    rbRegyValue = addRadio(tr("Regy&Value,"), "rbRegyValue");
    rbRegyRemove = addRadio(tr("Regy&Remove, removing the text below from the data:"), "rbRegyRemove");
    rbRegyChange = addRadio(tr("Regy&Change, changing the data back to the default below:"), "rbRegyChange");
    rbRegyFix = addRadio(tr("Regy&Fix, removing the value if the data is the same as below:"), "rbRegyFix");
    rbRegyValue->setChecked(true);
    cbVerifier = new QCheckBox(tr("using the &advanced registry parameter below:"), groupZTI);
    cbVerifier->setObjectName(QStringLiteral("cbVerifier"));
    commandLayout->addWidget(cbVerifier);
    editVerifier = new QLineEdit(groupZTI);
    editVerifier->setObjectName(QStringLiteral("editVerifier"));
    // The check field starts with the whole data text, however long.
    editVerifier->setMaxLength(std::numeric_limits<int>::max());
    commandLayout->addWidget(editVerifier);
    layout->addWidget(groupZTI);

    labelProblem = new QLabel(this);
    labelProblem->setObjectName(QStringLiteral("labelProblem"));
    labelProblem->setWordWrap(true);
    labelProblem->setStyleSheet(QStringLiteral("color: #B00000"));
    labelProblem->hide();
    layout->addWidget(labelProblem);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    bnOK = new QPushButton(tr("O&K"), this);
    bnOK->setObjectName(QStringLiteral("bnOK"));
    bnOK->setDefault(true);
    bnCancel = new QPushButton(tr("Cancel"), this);
    bnCancel->setObjectName(QStringLiteral("bnCancel"));
    connect(bnOK, &QPushButton::clicked, this, &TformOpenZTIValue::accept);
    connect(bnCancel, &QPushButton::clicked, this, &TformOpenZTIValue::reject);
    buttons->addWidget(bnOK);
    buttons->addWidget(bnCancel);
    layout->addLayout(buttons);
}

void TformOpenZTIValue::setLabel(QLabel *label, const std::string &text)
{
    QString shown =
        fromStd(text.size() > std::size_t(4 * kLabelTextLimit) ? text.substr(0, 4 * kLabelTextLimit) : text);
    // Line breaks of multi-strings are shown as the list shows them.
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(" \u00B6 "));
    shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (shown.size() > kLabelTextLimit || shown.size() < qsizetype(text.size()) / 4) {
        shown.truncate(kLabelTextLimit);
        shown += QChar(0x2026);
    }
    label->setText(label->fontMetrics().elidedText(shown, Qt::ElideMiddle, label->maximumWidth()));
    label->setToolTip(shown);
}

bool TformOpenZTIValue::Execute(HKEY root, TRegDataType type, const std::string &keyPath, const std::string &valueName,
                                const std::string &dataText, std::string &ruleLine)
{
    m_rootName = RootKeyToName(root);
    m_keyPath = keyPath;
    m_valueName = valueName;
    setLabel(labelRootKey, m_rootName);
    setLabel(labelKeyPath, m_keyPath);
    setLabel(labelValueName, m_valueName);
    setLabel(labelType, DataTypeToName(type));
    setLabel(labelData, dataText);
    // Disabled without unchecking: an earlier choice stays and still counts.
    rbRegyRemove->setEnabled(RuleCanRemoveText(type));
    editVerifier->setText(fromStd(InitialCheckText(type, valueName, dataText)));
    editVerifier->setCursorPosition(0);
    labelProblem->hide();

    if (QWidget *owner = QApplication::activeWindow(); owner && owner != this) {
        adjustSize();
        move(owner->frameGeometry().center() - rect().center());
    }
    if (vt::editors::RunEditorModal(*this) != vt::editors::mrOK)
        return false;
    ruleLine = RuleLine();
    return true;
}

std::string TformOpenZTIValue::RuleLine() const
{
    TRuleCommand command = TRuleCommand::RegyValue;
    if (rbRegyRemove->isChecked())
        command = TRuleCommand::RegyRemove;
    else if (rbRegyChange->isChecked())
        command = TRuleCommand::RegyChange;
    else if (rbRegyFix->isChecked())
        command = TRuleCommand::RegyFix;
    return FormatValueRule(command, cbVerifier->isChecked(), toStd(cbDescription->currentText()), m_rootName, m_keyPath,
                           m_valueName, toStd(editVerifier->text()));
}

void TformOpenZTIValue::accept()
{
    const bool description = HasLineBreak(toStd(cbDescription->currentText()));
    const bool check = HasLineBreak(toStd(editVerifier->text()));
    if (description || check) {
        labelProblem->setText(description ? tr("The description holds a line break; a rule line cannot hold one.")
                                          : tr("The text below the command holds a line break; a rule line "
                                               "cannot hold one."));
        labelProblem->show();
        (description ? static_cast<QWidget *>(cbDescription) : editVerifier)->setFocus();
        return;
    }
    labelProblem->hide();
    QDialog::accept();
}

} // namespace vt::knowledge
