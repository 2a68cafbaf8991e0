// The main window's side of the rule generator and the info database: rules
// for the selected values or key onto the clipboard, and the "Info database"
// tab that follows the selected key and value.

#include "FormUnitMainShared.h"

#include "app/kltConfig.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/RegistryInfo.h"
#include "knowledge/RuleLines.h"
#include "knowledge/gui/FormUnitZTIValue.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QToolButton>

namespace vt::app
{

using namespace mainform;

namespace
{

std::vector<std::string> memoLines(const QPlainTextEdit *memo)
{
    std::vector<std::string> lines;
    const QString text = memo->toPlainText();
    if (text.isEmpty())
        return lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines.push_back(toStd(line));
    return lines;
}

QString linesText(const std::vector<std::string> &lines)
{
    QStringList shown;
    for (const std::string &line : lines)
        shown << fromStd(line);
    return shown.join(QLatin1Char('\n'));
}

// The row that stands for a default value the key does not have.
bool standsForValue(const TRegistryValueListItem *row)
{
    return !(row->StateImage == 1 && row->ValueName.empty() && row->DataInfo.DataType == 0 &&
             row->DataInfo.RegData == rdString);
}

void warnLineBreak(const QString &name)
{
    vt::i18n::ShowMessageDialog(msg("DialogRuleLineBreak", {name}), vt::i18n::TMsgDlgType::Warning, vt::i18n::mbOK);
}

} // namespace

// ---------------------------------------------------------------------------
// Start-up

void TformMain::connectRules()
{
    connectHandler(aValueCreateRule, &TformMain::aValueCreateRuleExecute);
    connectHandler(aKeyCreateRule, &TformMain::aKeyCreateRuleExecute);
    connectHandler(aInfoDBSaveKeyInfo, &TformMain::aInfoDBSaveKeyInfoExecute);
    connectHandler(aInfoDBSaveValueInfo, &TformMain::aInfoDBSaveValueInfoExecute);
    connect(mInfoDBKey, &QPlainTextEdit::textChanged, this, &TformMain::mInfoDBKeyKeyPress);
    connect(mInfoDBValue, &QPlainTextEdit::textChanged, this, &TformMain::mInfoDBValueKeyPress);
    connect(lvData, &QTreeWidget::itemSelectionChanged, this, &TformMain::ShowValueInfo);

    m_RegistryInfo = std::make_unique<vt::knowledge::TRegistryInfo>();
    const std::string file = toStd(InfoDBFile());
    try {
        m_RegistryInfo->LoadFromFile(file);
    } catch (const std::exception &e) {
        // What was read stays; the file itself is kept aside before the
        // first save replaces it, so nothing of it is lost.
        m_InfoDBProblem = tr("The info database %1 could not be read to its end (%2); %3 items were read. "
                             "Before it is next saved, it will be kept as %4.")
                              .arg(fromStd(file), QString::fromUtf8(e.what()))
                              .arg(m_RegistryInfo->Count())
                              .arg(fromStd(vt::knowledge::DamagedFileName(file)));
        // Said once, when the window's event loop runs.
        QMetaObject::invokeMethod(
            this,
            [this] { vt::i18n::ShowMessageDialog(m_InfoDBProblem, vt::i18n::TMsgDlgType::Warning, vt::i18n::mbOK); },
            Qt::QueuedConnection);
    }
    for (auto *button : {findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveKeyInfo")),
                         findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveValueInfo"))})
        if (button)
            button->hide();
    mInfoDBValue->setReadOnly(true);
}

QString TformMain::InfoDBFile() const
{
    return fromStd(ProgramFile("Vantrel.rdb"));
}

// The preinstallation-environment mode (BartPEMode) keeps both save buttons
// disabled with their hint; that mode is decided when the window is made.
void TformMain::updateRuleStates()
{
    aKeyCreateRule->setEnabled(tvKeys->currentItem() != nullptr);
    aValueCreateRule->setEnabled(true);
    const bool preinstallation = BartPEMode();
    const QString hint = preinstallation ? tr("Not available in BartPE") : QString();
    aInfoDBSaveKeyInfo->setEnabled(!preinstallation);
    aInfoDBSaveValueInfo->setEnabled(!preinstallation && !mInfoDBValue->isReadOnly());
    for (QAction *action : {aInfoDBSaveKeyInfo, aInfoDBSaveValueInfo})
        action->setToolTip(preinstallation ? hint : action->text());
}

// ---------------------------------------------------------------------------
// Rules

void TformMain::aValueCreateRuleExecute()
{
    std::string text;
    bool refused = false;
    if (!formOpenZTIValue)
        formOpenZTIValue = new vt::knowledge::TformOpenZTIValue(this);
    for (TRegistryValueListItem *row : selectedValueRows()) {
        if (!standsForValue(row))
            continue;
        // A line break would split the rule in the rule file.
        if (vt::knowledge::HasLineBreak(row->ValueName) || vt::knowledge::HasLineBreak(row->KeyPath)) {
            refused = true;
            warnLineBreak(fromStd(vt::knowledge::HasLineBreak(row->ValueName)
                                      ? row->ValueName
                                      : RootKeyToName(row->RootKey) + row->KeyPath));
            continue;
        }
        std::string line;
        // The whole text: the list's cell is cut for large values.
        if (formOpenZTIValue->Execute(row->RootKey, row->DataInfo.RegData, row->KeyPath, row->ValueName,
                                      row->FullDataText(), line)) {
            text += line;
            text += "\r\n";
        }
    }
    // A refused value leaves the clipboard as it was unless other rules were made.
    if (!text.empty() || !refused)
        QGuiApplication::clipboard()->setText(fromStd(text));
}

void TformMain::aKeyCreateRuleExecute()
{
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    if (vt::knowledge::HasLineBreak(keyPath)) {
        warnLineBreak(fromStd(RootKeyToName(root) + keyPath));
        return;
    }
    QGuiApplication::clipboard()->setText(fromStd(vt::knowledge::FormatKeyRule(root, keyPath)));
}

// ---------------------------------------------------------------------------
// Info database

void TformMain::ShowKeyInfo(const QString &fullKeyPath)
{
    for (const char *name : {"bnInfoDBSaveKeyInfo", "bnInfoDBSaveValueInfo"})
        if (auto *button = findChild<QToolButton *>(QString::fromLatin1(name)))
            button->hide();
    m_ShowingInfo = true;
    mInfoDBKey->clear();
    if (const vt::knowledge::TRegistryInfoItem *item = m_RegistryInfo->FindKeyItem(toStd(fullKeyPath)))
        mInfoDBKey->setPlainText(linesText(item->Info));
    m_ShowingInfo = false;
    ShowValueInfo();
}

// The value area is backed by items with the key and the value's name; it
// stands for exactly one named value.
static TRegistryValueListItem *infoValueRow(const QList<TRegistryValueListItem *> &rows)
{
    if (rows.size() != 1 || rows.front()->ValueName.empty())
        return nullptr;
    return rows.front();
}

void TformMain::ShowValueInfo()
{
    const TRegistryValueListItem *row = infoValueRow(selectedValueRows());
    m_ShowingInfo = true;
    mInfoDBValue->clear();
    mInfoDBValue->setReadOnly(!row);
    if (row) {
        if (const vt::knowledge::TRegistryInfoItem *item =
                m_RegistryInfo->FindValueItem(RootKeyToName(row->RootKey) + row->KeyPath, row->ValueName))
            mInfoDBValue->setPlainText(linesText(item->Info));
    }
    m_ShowingInfo = false;
    if (auto *button = findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveValueInfo")))
        button->hide();
    aInfoDBSaveValueInfo->setEnabled(!BartPEMode() && row);
}

void TformMain::mInfoDBKeyKeyPress()
{
    if (m_ShowingInfo)
        return;
    if (auto *button = findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveKeyInfo")))
        button->show();
}

void TformMain::mInfoDBValueKeyPress()
{
    if (m_ShowingInfo)
        return;
    if (auto *button = findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveValueInfo")))
        button->show();
}

// Writes the collection; false, after saying why, when the file could not be
// written (the items in memory keep their new text).
static bool saveInfoDB(vt::knowledge::TRegistryInfo &info, const QString &file)
{
    try {
        // A system made before the program's folder existed lacks it.
        QDir().mkpath(QFileInfo(file).absolutePath());
        info.SaveToFile(toStd(file));
        return true;
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        return false;
    }
}

void TformMain::aInfoDBSaveKeyInfoExecute()
{
    if (BartPEMode())
        return;
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    const std::string key = RootKeyToName(root) + keyPath;
    vt::knowledge::TRegistryInfoItem *item = m_RegistryInfo->FindKeyItem(key);
    if (!item)
        item = &m_RegistryInfo->Add(key);
    item->Info = memoLines(mInfoDBKey);
    if (saveInfoDB(*m_RegistryInfo, InfoDBFile()))
        if (auto *button = findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveKeyInfo")))
            button->hide();
}

void TformMain::aInfoDBSaveValueInfoExecute()
{
    const TRegistryValueListItem *row = infoValueRow(selectedValueRows());
    if (BartPEMode() || !row)
        return;
    const std::string key = RootKeyToName(row->RootKey) + row->KeyPath;
    vt::knowledge::TRegistryInfoItem *item = m_RegistryInfo->FindValueItem(key, row->ValueName);
    if (!item)
        item = &m_RegistryInfo->Add(key, row->ValueName);
    item->Info = memoLines(mInfoDBValue);
    if (saveInfoDB(*m_RegistryInfo, InfoDBFile()))
        if (auto *button = findChild<QToolButton *>(QStringLiteral("bnInfoDBSaveValueInfo")))
            button->hide();
}

} // namespace vt::app
