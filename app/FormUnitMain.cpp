#include "FormUnitMain.h"

#include "app/vtAnimate.h"
#include "app/vtImageList.h"
#include "core/kltRegTools.h"
#include "core/zoStrings.h"
#include "history/gui/ChangeLogPane.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "i18n/zoMessages.h"
#include "regfile/gui/FormUnitImportProgress.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <cmath>

namespace vt::app {
namespace {

QString fromStd(const std::string &text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
std::string toStd(const QString &text) { return text.toUtf8().toStdString(); }

QString msg(const char *key) { return vt::i18n::MessageText(key); }

// Key names sort and match the way the user's locale orders them, without
// regard to case; sorting and the binary search of FindChildNode share this
// order. Qt's collator ignores the case setting in its sort keys for the C
// locale, so there the order is that of the case-folded names.
class TKeyNameOrder {
public:
    TKeyNameOrder() : m_collator(QLocale()), m_plain(QLocale().language() == QLocale::C)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    int compare(const QString &a, const QString &b) const
    {
        return m_plain ? a.toCaseFolded().compare(b.toCaseFolded()) : m_collator.compare(a, b);
    }
    // Names sorted in place; sort keys are built once per name, which is far
    // cheaper on big keys than collating for every comparison.
    void sort(std::vector<std::string> &names) const
    {
        std::vector<std::size_t> order(names.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        if (m_plain) {
            std::vector<QString> keys;
            keys.reserve(names.size());
            for (const std::string &n : names)
                keys.push_back(fromStd(n).toCaseFolded());
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
        } else {
            std::vector<QCollatorSortKey> keys;
            keys.reserve(names.size());
            for (const std::string &n : names)
                keys.push_back(m_collator.sortKey(fromStd(n)));
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return keys[a].compare(keys[b]) < 0; });
        }
        std::vector<std::string> sorted;
        sorted.reserve(names.size());
        for (std::size_t i : order)
            sorted.push_back(std::move(names[i]));
        names.swap(sorted);
    }

private:
    QCollator m_collator;
    bool m_plain;
};

const TKeyNameOrder &keyNameOrder()
{
    static const TKeyNameOrder order;
    return order;
}

void sortKeyNames(std::vector<std::string> &names) { keyNameOrder().sort(names); }

bool hasChildrenFlag(const QTreeWidgetItem *node)
{
    return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

void setHasChildren(QTreeWidgetItem *node, bool flag)
{
    node->setChildIndicatorPolicy(flag ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

int nodeImage(const QTreeWidgetItem *node) { return node->data(0, NodeImageRole).toInt(); }

// Multi-line values keep CR LF in their text; the cell shows them on one line.
class TValueDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        // The base has turned each LF into a line separator already.
        QString &text = option->text;
        if (text.contains(QChar::LineSeparator) || text.contains(QLatin1Char('\r'))) {
            text.replace(QStringLiteral("\r\u2028"), QStringLiteral(" \u00B6 "));
            text.replace(QChar::LineSeparator, QLatin1Char(' '));
            text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        }
    }
};

enum ValueColumn { colName = 0, colType, colValue, colSize, colRegistryValue, colCount };

// Types whose display text of the first bytes is the start of the whole
// value's display text.
bool hasPrefixText(TRegDataType type)
{
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
    case rdNone:
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
        return true;
    default:
        return false;
    }
}

QDateTime dateTimeFromDays(TDateTime days)
{
    const double whole = std::floor(days);
    const qint64 msecs = qint64(std::llround((days - whole) * 86400000.0));
    return QDateTime(QDate(1899, 12, 30).addDays(qint64(whole)), QTime(0, 0)).addMSecs(msecs);
}

// Short date and long time of the user's locale, without a time zone.
QString formatLastWrite(const QDateTime &dt)
{
    const QLocale locale;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(dt.time(), timeFormat.trimmed());
}

} // namespace

// ---------------------------------------------------------------------------
// TRegistryValueListItem

QVariant TRegistryValueListItem::data(int column, int role) const
{
    if (role == Qt::ToolTipRole)
        return Hint();
    if (role == Qt::BackgroundRole && RowColor > 0 && RowColor <= 0x00FFFFFF)
        return QColor(int(RowColor & 0xFF), int((RowColor >> 8) & 0xFF), int((RowColor >> 16) & 0xFF));
    return QTreeWidgetItem::data(column, role);
}

QString TRegistryValueListItem::Hint() const
{
    const QTreeWidget *tree = treeWidget();
    QStringList lines;
    for (int col : {int(colName), int(colType), int(colValue), int(colSize)}) {
        const QString caption = tree ? tree->headerItem()->text(col) : QString();
        lines << caption + QStringLiteral(": ") + (col == colValue ? fromStd(FullDataText()) : text(col));
    }
    return lines.join(QStringLiteral("\r\n"));
}

std::string TRegistryValueListItem::FullDataText() const
{
    if (!TextFromBytes)
        return DataText;
    bool ok = true;
    return ValueDisplayText(DataInfo.RegData, Bytes.data(), Bytes.size(), ok);
}

// ---------------------------------------------------------------------------
// Construction

TformMain::TformMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("formMain"));
    setWindowTitle(QStringLiteral("Vantrel"));
    resize(900, 600);

    // FormCreate
    BOOL wow64 = FALSE;
    m_IsWow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    for (HKEY root : ::RootKeyList())
        m_RootKeyList << fromStd(RootKeyToName(root));

    createActions();
    createControls();
    createMenus();
    connectActions();
    createHistoryStore();
    UpdateActionStates();
}

TformMain::~TformMain() = default;

QAction *TformMain::newAction(const char *name, const QString &caption, const QKeySequence &shortcut)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    // Shortcuts work wherever the action is shown, also with menus disabled.
    addAction(action);
    return action;
}

void TformMain::createActions()
{
    aKeyDelete = newAction("aKeyDelete", tr("&Delete key"));
    aKeyAdd = newAction("aKeyAdd", tr("&New key..."));
    aKeyRename = newAction("aKeyRename", tr("&Rename key..."));
    aValueDelete = newAction("aValueDelete", tr("&Delete value"));
    aValueRename = newAction("aValueRename", tr("&Rename value..."));
    aValueChange = newAction("aValueChange", tr("&Change data..."));
    aValueChangeType = newAction("aValueChangeType", tr("Change type"));
    aKeyCopyPath = newAction("aKeyCopyPath", tr("Copy key name to clipboard"));
    aSearch = newAction("aSearch", tr("&Search..."), QKeySequence(Qt::CTRL | Qt::Key_F));
    aKeyRefresh = newAction("aKeyRefresh", tr("&Refresh"), QKeySequence(Qt::Key_F5));
    aKeyJump = newAction("aKeyJump", tr("Jump to key..."), QKeySequence(Qt::CTRL | Qt::Key_J));
    aValueAdd = newAction("aValueAdd", tr("New"));
    aValueAddString = newAction("aValueAddString", tr("String"));
    aValueAddExpandString = newAction("aValueAddExpandString", tr("String (with placeholders)"));
    aValueAddMultiString = newAction("aValueAddMultiString", tr("String (multi-line)"));
    aValueAddInteger = newAction("aValueAddInteger", tr("Numeric value (32 bit)"));
    aValueAddLEInteger = newAction("aValueAddLEInteger", tr("Numeric value (32 bit, little endian)"));
    aValueAddBEInteger = newAction("aValueAddBEInteger", tr("Numeric value (32 bit, big endian)"));
    aValueAddInt64 = newAction("aValueAddInt64", tr("Numeric value (64 bit)"));
    aValueAddLEInt64 = newAction("aValueAddLEInt64", tr("Numeric value (64 bit, little endian)"));
    aValueAddBinary = newAction("aValueAddBinary", tr("Binary data"));
    aValueAddLink = newAction("aValueAddLink", tr("Link"));
    aValueAddResourceList = newAction("aValueAddResourceList", tr("Resource List"));
    aValueAddResourceRequirementsList =
        newAction("aValueAddResourceRequirementsList", tr("Resource Requirements List"));
    aValueAddFullResourceDescriptor = newAction("aValueAddFullResourceDescriptor", tr("Full Resource Descriptor"));
    aValueAddNone = newAction("aValueAddNone", tr("None (empty type)"));
    aSecurityInformationExportToFile =
        newAction("aSecurityInformationExportToFile", tr("Export security information to file..."));
    aSecurityInformationExportToClipboard =
        newAction("aSecurityInformationExportToClipboard", tr("Copy security information to clipboard"));
    aFileExit = newAction("aFileExit", tr("E&xit"));
    aBookmarksManage = newAction("aBookmarksManage", tr("&Manage bookmarks"), QKeySequence(Qt::CTRL | Qt::Key_M));
    aFileOpenReg = newAction("aFileOpenReg", tr("&Open registry file..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    aKeyExport = newAction("aKeyExport", tr("&Export..."));
    aFileDiffOpenReg = newAction("aFileDiffOpenReg", tr("Open registry file (&difference only)..."));
    aFileConnectReg = newAction("aFileConnectReg", tr("Connect to &remote registry..."));
    aKeyImport = newAction("aKeyImport", tr("&Import..."));
    aKeyAddBookmark = newAction("aKeyAddBookmark", tr("Add to bookmarks..."), QKeySequence(Qt::CTRL | Qt::Key_B));
    aAbout = newAction("aAbout", tr("About..."));
    aInfoDBSaveKeyInfo = newAction("aInfoDBSaveKeyInfo", tr("Save key info"));
    aInfoDBSaveValueInfo = newAction("aInfoDBSaveValueInfo", tr("Save value info"));
    aHelpContents = newAction("aHelpContents", tr("Contents"), QKeySequence(Qt::Key_F1));
    aHelpIndex = newAction("aHelpIndex", tr("Index"));
    aMenuHelp = newAction("aMenuHelp", tr("Help"));
    aValueSelectAll = newAction("aValueSelectAll", tr("Select all"), QKeySequence(Qt::CTRL | Qt::Key_A));
    aSecurityInformationGrantAll =
        newAction("aSecurityInformationGrantAll", tr("Grant all rights to everyone on this key"));
    aKeyJumpToHKCRCLSID = newAction("aKeyJumpToHKCRCLSID", tr("Jump to CLSID in HKCR"));
    aValueJumpToHKCRCLSID = newAction("aValueJumpToHKCRCLSID", tr("Jump to CLSID in HKCR"));
    aChangeLogRedoSave = newAction("aChangeLogRedoSave", tr("Save"));
    aChangeLogRedoApply = newAction("aChangeLogRedoApply", tr("Apply"));
    aChangeLogUndoSave = newAction("aChangeLogUndoSave", tr("Save"));
    aChangeLogUndoApply = newAction("aChangeLogUndoApply", tr("Apply"));
    aFileLogonUser = newAction("aFileLogonUser", tr("Open user registry (logon)..."));
    aFileOpenHive = newAction("aFileOpenHive", tr("Load hive file..."));
    aValueCreateRule = newAction("aValueCreateRule", tr("Copy OpenZTI rule to clipboard"));
    aKeyCreateRule = newAction("aKeyCreateRule", tr("Copy OpenZTI rule to clipboard"));
    aShowHistory = newAction("aShowHistory", tr("Show history..."), QKeySequence(Qt::CTRL | Qt::Key_H));
}

void TformMain::createControls()
{
    // Tool bar: search button, address box taking the remaining width, animation.
    tbMain = addToolBar(tr("Tools"));
    tbMain->setObjectName(QStringLiteral("tbMain"));
    tbMain->setMovable(false);
    tbMain->addAction(aSearch);
    cbAddress = new QComboBox(tbMain);
    cbAddress->setObjectName(QStringLiteral("cbAddress"));
    cbAddress->setEditable(true);
    cbAddress->setInsertPolicy(QComboBox::NoInsert);
    cbAddress->setCompleter(nullptr);
    cbAddress->setMaxVisibleItems(12);
    cbAddress->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // An editable combo box keeps the focus itself and hands keys to its line
    // edit directly, past the line edit's filters: watch both.
    cbAddress->installEventFilter(this);
    cbAddress->lineEdit()->installEventFilter(this);
    tbMain->addWidget(cbAddress);
    animSearch = new TAnimate(tbMain);
    animSearch->setObjectName(QStringLiteral("animSearch"));
    tbMain->addWidget(animSearch);

    auto *central = new QWidget(this);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(2);

    splitterMain = new QSplitter(Qt::Horizontal, central);
    splitterMain->setObjectName(QStringLiteral("splitterMain"));

    tvKeys = new QTreeWidget(splitterMain);
    tvKeys->setObjectName(QStringLiteral("tvKeys"));
    tvKeys->setHeaderHidden(true);
    tvKeys->setColumnCount(1);
    tvKeys->setUniformRowHeights(true);
    tvKeys->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvKeys->setContextMenuPolicy(Qt::CustomContextMenu);
    tvKeys->setDragEnabled(true);
    tvKeys->setDragDropMode(QAbstractItemView::DragOnly);
    tvKeys->setIconSize(QSize(16, 16));
    tvKeys->installEventFilter(this);

    pcMain = new QTabWidget(splitterMain);
    pcMain->setObjectName(QStringLiteral("pcMain"));
    splitterMain->addWidget(tvKeys);
    splitterMain->addWidget(pcMain);
    splitterMain->setStretchFactor(1, 1);
    splitterMain->setSizes({273, 627});

    // "Data": the value list over the hex view.
    tsData = new QWidget;
    tsData->setObjectName(QStringLiteral("tsData"));
    auto *dataLayout = new QVBoxLayout(tsData);
    dataLayout->setContentsMargins(0, 0, 0, 0);
    splitterData = new QSplitter(Qt::Vertical, tsData);
    splitterData->setObjectName(QStringLiteral("splitterData"));
    lvData = new QTreeWidget(splitterData);
    lvData->setObjectName(QStringLiteral("lvData"));
    lvData->setRootIsDecorated(false);
    lvData->setUniformRowHeights(true);
    lvData->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvData->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvData->setContextMenuPolicy(Qt::CustomContextMenu);
    lvData->setIconSize(QSize(16, 16));
    lvData->setItemDelegate(new TValueDelegate(lvData));
    lvData->setTextElideMode(Qt::ElideRight);
    lvData->setColumnCount(colCount);
    lvData->setHeaderLabels({tr("Name"), tr("Type"), tr("Value"), tr("Size"), tr("Registry Value")});
    lvData->header()->setStretchLastSection(false);
    lvData->header()->setSectionResizeMode(colValue, QHeaderView::Stretch);
    // The starting widths were made for a narrower system font than most
    // desktops use: they grow with this font, and the Type column takes at
    // least the width of the common type names.
    {
        const QFontMetrics metrics(lvData->font());
        const double scale = std::max(1.0, metrics.averageCharWidth() / 5.0);
        const int padding = 2 * metrics.averageCharWidth() + 4;
        int typeWidth = int(100 * scale);
        for (TRegDataType type : {rdNone, rdString, rdExpandString, rdBinary, rdInteger, rdBigEndianInteger, rdLink,
                                  rdMultiString, rdInt64})
            typeWidth = std::max(typeWidth, metrics.horizontalAdvance(fromStd(DisplayTypeName(type))) + padding);
        const int nameWidth =
            std::max(int(120 * scale), lvData->iconSize().width() + padding +
                                           metrics.horizontalAdvance(QStringLiteral("CurrentMajorVersionNumber")));
        lvData->setColumnWidth(colName, nameWidth);
        lvData->setColumnWidth(colType, typeWidth);
        lvData->setColumnWidth(colRegistryValue, int(150 * scale));
    }
    lvData->setColumnHidden(colSize, true);
    lvData->setColumnHidden(colRegistryValue, true);
    lvData->installEventFilter(this);
    // The hex view arrives with its own feature; until then a plain panel
    // stands in its place so that showing and hiding already follow the rows.
    lvHexDump = new QWidget(splitterData);
    lvHexDump->setObjectName(QStringLiteral("lvHexDump"));
    lvHexDump->setMinimumHeight(40);
    splitterData->addWidget(lvData);
    splitterData->addWidget(lvHexDump);
    splitterData->setStretchFactor(0, 1);
    lvHexDump->hide();
    dataLayout->addWidget(splitterData);
    pcMain->addTab(tsData, tr("Data"));

    // "Security information"
    tsInfo = new QWidget;
    tsInfo->setObjectName(QStringLiteral("tsInfo"));
    auto *infoLayout = new QVBoxLayout(tsInfo);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    tvInfo = new QTreeWidget(tsInfo);
    tvInfo->setObjectName(QStringLiteral("tvInfo"));
    tvInfo->setHeaderHidden(true);
    tvInfo->setContextMenuPolicy(Qt::CustomContextMenu);
    infoLayout->addWidget(tvInfo);
    pcMain->addTab(tsInfo, tr("Security information"));

    // "Info database"
    tsDatabaseInfo = new QWidget;
    tsDatabaseInfo->setObjectName(QStringLiteral("tsDatabaseInfo"));
    auto *dbLayout = new QVBoxLayout(tsDatabaseInfo);
    const QIcon saveIcon = style()->standardIcon(QStyle::SP_DialogSaveButton);
    aInfoDBSaveKeyInfo->setIcon(saveIcon);
    aInfoDBSaveValueInfo->setIcon(saveIcon);
    auto addMemo = [&](const QString &caption, const char *name, QAction *save) {
        auto *row = new QHBoxLayout;
        auto *label = new QLabel(caption, tsDatabaseInfo);
        row->addWidget(label, 1);
        auto *button = new QToolButton(tsDatabaseInfo);
        button->setObjectName(QString::fromLatin1(name) + QStringLiteral("Save"));
        button->setDefaultAction(save);
        button->setAutoRaise(true);
        row->addWidget(button);
        dbLayout->addLayout(row);
        auto *memo = new QPlainTextEdit(tsDatabaseInfo);
        memo->setObjectName(QString::fromLatin1(name));
        dbLayout->addWidget(memo, 1);
        return memo;
    };
    mInfoDBKey = addMemo(tr("Key information:"), "mInfoDBKey", aInfoDBSaveKeyInfo);
    mInfoDBValue = addMemo(tr("Value information:"), "mInfoDBValue", aInfoDBSaveValueInfo);
    pcMain->addTab(tsDatabaseInfo, tr("Info database"));

    // "Change logs": redo and undo logs, each with Save and Apply.
    tsChangeLogs = new QWidget;
    tsChangeLogs->setObjectName(QStringLiteral("tsChangeLogs"));
    auto *logsLayout = new QVBoxLayout(tsChangeLogs);
    logsLayout->setContentsMargins(0, 0, 0, 0);
    pcChangeLogs = new QTabWidget(tsChangeLogs);
    pcChangeLogs->setObjectName(QStringLiteral("pcChangeLogs"));
    auto addLog = [&](const QString &caption, const char *page, const char *editor, QAction *save,
                      QAction *apply) {
        auto *sheet = new QWidget;
        sheet->setObjectName(QString::fromLatin1(page));
        auto *layout = new QVBoxLayout(sheet);
        QsciScintilla *edit = vt::history::CreateChangeLogPane(sheet);
        edit->setObjectName(QString::fromLatin1(editor));
        layout->addWidget(edit, 1);
        auto *buttons = new QHBoxLayout;
        buttons->addStretch(1);
        for (QAction *action : {save, apply}) {
            auto *button = new QToolButton(sheet);
            button->setObjectName(QStringLiteral("bn") + action->objectName().mid(1));
            button->setDefaultAction(action);
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            buttons->addWidget(button);
        }
        layout->addLayout(buttons);
        pcChangeLogs->addTab(sheet, caption);
        return edit;
    };
    editRedoLog = addLog(tr("Redo log"), "tsRedoLog", "editRedoLog", aChangeLogRedoSave, aChangeLogRedoApply);
    editUndoLog = addLog(tr("Undo log"), "tsUndoLog", "editUndoLog", aChangeLogUndoSave, aChangeLogUndoApply);
    logsLayout->addWidget(pcChangeLogs);
    pcMain->addTab(tsChangeLogs, tr("Change logs"));

    tsDatabaseInfoDebug = new QWidget;
    tsDatabaseInfoDebug->setObjectName(QStringLiteral("tsDatabaseInfoDebug"));
    pcMain->addTab(tsDatabaseInfoDebug, QStringLiteral("DBG"));
    pcMain->setTabVisible(pcMain->indexOf(tsDatabaseInfoDebug), false);

    centralLayout->addWidget(splitterMain, 1);
    pg = new QProgressBar(central);
    pg->setObjectName(QStringLiteral("pg"));
    pg->setTextVisible(false);
    pg->setMaximumHeight(12);
    pg->setRange(0, 0);
    pg->setRange(0, 100);
    pg->setValue(0);
    centralLayout->addWidget(pg);
    setCentralWidget(central);

    sbar = new QStatusBar(this);
    sbar->setObjectName(QStringLiteral("sbar"));
    sbar->setSizeGripEnabled(true);
    sbarPanel0 = new QLabel(sbar);
    sbarPanel0->setObjectName(QStringLiteral("sbarPanel0"));
    sbarPanel0->setMinimumWidth(1);
    sbarPanel1 = new QLabel(sbar);
    sbarPanel1->setObjectName(QStringLiteral("sbarPanel1"));
    // 220 pixels, wider only when the date and time of the locale need it.
    sbarPanel1->setMinimumWidth(220);
    sbar->addWidget(sbarPanel0, 1);
    sbar->addPermanentWidget(sbarPanel1);
    setStatusBar(sbar);
}

void TformMain::createMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("mmMain"));

    mFile = bar->addMenu(tr("&File"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mFile->addActions({aKeyImport, aKeyExport});
    mFile->addSeparator();
    mFile->addActions({aFileOpenReg, aFileDiffOpenReg, aFileOpenHive, aFileLogonUser, aFileConnectReg});
    mFile->addSeparator();
    mFile->addAction(aShowHistory);
    mFile->addSeparator();
    mFile->addAction(aSecurityInformationExportToFile);
    mFile->addSeparator();
    mFile->addAction(aFileExit);

    mEdit = bar->addMenu(tr("&Edit"));
    mEdit->setObjectName(QStringLiteral("mEdit"));
    m_EditPermanentFirst = mEdit->addSeparator();
    mEdit->addAction(aKeyJump);
    mEdit->addSeparator();
    mEdit->addAction(aSearch);

    mBookmarks = bar->addMenu(tr("Bookmarks"));
    mBookmarks->setObjectName(QStringLiteral("mBookmarks"));
    mBookmarks->addSeparator();
    mBookmarks->addAction(aBookmarksManage);

    mLanguages = bar->addMenu(tr("&Languages"));
    mLanguages->setObjectName(QStringLiteral("mLanguages"));

    mHelp = new QMenu(aMenuHelp->text(), this);
    mHelp->setObjectName(QStringLiteral("mHelp"));
    mHelp->addActions({aHelpContents, aHelpIndex});
    mHelp->addSeparator();
    mHelp->addAction(aAbout);
    aMenuHelp->setMenu(mHelp);
    bar->addAction(aMenuHelp);

    pmValueAdd = new QMenu(this);
    pmValueAdd->setObjectName(QStringLiteral("pmValueAdd"));
    pmValueAdd->addActions({aValueAddString, aValueAddExpandString, aValueAddMultiString, aValueAddInteger,
                            aValueAddLEInteger, aValueAddBEInteger, aValueAddInt64, aValueAddLEInt64,
                            aValueAddBinary});
    pmValueAdd->addSeparator();
    pmValueAdd->addActions({aValueAddLink, aValueAddResourceList, aValueAddResourceRequirementsList,
                            aValueAddFullResourceDescriptor, aValueAddNone});
    aValueAdd->setMenu(pmValueAdd);

    pmKeys = new QMenu(this);
    pmKeys->setObjectName(QStringLiteral("pmKeys"));
    pmKeys->addAction(aKeyAdd);
    pmKeys->addSeparator();
    pmKeys->addActions({aKeyDelete, aKeyRename});
    pmKeys->addSeparator();
    pmKeys->addActions({aKeyImport, aKeyExport});
    pmKeys->addSeparator();
    pmKeys->addActions({aKeyRefresh, aKeyCopyPath, aSecurityInformationExportToClipboard, aKeyCreateRule,
                        aKeyJumpToHKCRCLSID, aSecurityInformationGrantAll, aKeyAddBookmark});

    pmValues = new QMenu(this);
    pmValues->setObjectName(QStringLiteral("pmValues"));
    pmValues->addAction(aValueAdd);
    pmValues->addSeparator();
    pmValues->addActions({aValueChange, aValueChangeType, aValueJumpToHKCRCLSID});
    pmValues->addSeparator();
    pmValues->addActions({aValueDelete, aValueRename});
    pmValues->addSeparator();
    pmValues->addAction(aValueSelectAll);
    pmValues->addSeparator();
    pmValues->addAction(aValueCreateRule);

    pmSecurity = new QMenu(this);
    pmSecurity->setObjectName(QStringLiteral("pmSecurity"));
    pmSecurity->addAction(aSecurityInformationExportToClipboard);
}

void TformMain::connectHandler(QAction *action, void (TformMain::*handler)())
{
    connect(action, &QAction::triggered, this, handler);
    m_Built.insert(action);
}

// Every action's handler is connected here, and only an action connected
// here counts as built. The others exist with caption and shortcut so that
// menus, translation and tests see them, and stay disabled until their
// feature lands.
void TformMain::connectActions()
{
    connectHandler(aFileExit, &TformMain::aFileExitExecute);
    connectHandler(aHelpContents, &TformMain::aHelpContentsExecute);
    connectHandler(aHelpIndex, &TformMain::aHelpIndexExecute);
    connectHandler(aAbout, &TformMain::aAboutExecute);
    connectHandler(aKeyExport, &TformMain::aKeyExportExecute);
    connectHandler(aKeyImport, &TformMain::aKeyImportExecute);
    connectHandler(aShowHistory, &TformMain::aShowHistoryExecute);
    m_Built.insert(aMenuHelp); // opens its menu

    connect(mFile, &QMenu::aboutToShow, this, &TformMain::UpdateActionStates);

    connect(tvKeys, &QTreeWidget::itemExpanded, this, &TformMain::tvKeysExpanding);
    connect(tvKeys, &QTreeWidget::itemClicked, this, [this] { tvKeysChange(); });
    connect(tvKeys, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *previous) {
                if (previous)
                    setNodeIcon(previous, false);
                if (current)
                    setNodeIcon(current, true);
            });
    connect(tvKeys, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // Right click selects the node under the mouse before the pop-up opens.
        if (QTreeWidgetItem *node = tvKeys->itemAt(pos); node && node != tvKeys->currentItem()) {
            tvKeys->setCurrentItem(node);
            tvKeysChange();
        }
        UpdateActionStates();
        pmKeys->popup(tvKeys->viewport()->mapToGlobal(pos));
    });

    connect(lvData, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_FillingList)
            lvDataSelect();
    });
    connect(lvData, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        UpdateActionStates();
        pmValues->popup(lvData->viewport()->mapToGlobal(pos));
    });
    connect(tvInfo, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmSecurity->popup(tvInfo->viewport()->mapToGlobal(pos)); });

    connect(cbAddress, &QComboBox::activated, this, &TformMain::cbAddressSelect);
}

// Starting states; the key and value commands refine them as they arrive.
void TformMain::UpdateActionStates()
{
    for (QAction *action : {aKeyDelete, aKeyAdd, aKeyRename, aValueDelete, aValueRename, aValueChange,
                            aValueChangeType, aKeyRefresh, aKeyExport, aKeyJumpToHKCRCLSID})
        action->setEnabled(false);
    // A command whose feature is not built yet is greyed, never enabled and silent.
    for (QAction *action : findChildren<QAction *>(Qt::FindDirectChildrenOnly))
        if (!m_Built.contains(action))
            action->setEnabled(false);
    if (!m_Shown)
        return;
    QTreeWidgetItem *node = tvKeys->currentItem();
    const bool localKey = node && node->parent() && GetTreeKind(node) == 1;
    aKeyExport->setEnabled(localKey);
    aSecurityInformationExportToFile->setEnabled(false);
    aSecurityInformationExportToClipboard->setEnabled(false);
    // The change logs and the history window are always at hand.
    for (QAction *action : {aChangeLogRedoSave, aChangeLogRedoApply, aChangeLogUndoSave, aChangeLogUndoApply,
                            aShowHistory})
        action->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Showing

void TformMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_Shown)
        FormShow();
}

void TformMain::FormShow()
{
    m_Shown = true;
    // Restoring settings and placements, the language, the bookmarks and the
    // command line join here as those features arrive.
    pcMain->setTabVisible(pcMain->indexOf(tsInfo), true);
    pcMain->setCurrentWidget(tsData);
    UpdateActionStates();
    BuildKeyTree();
    tsData->show();
    historyFormShow();
}

void TformMain::BuildKeyTree()
{
    tvKeys->setUpdatesEnabled(false);
    tvKeys->clear();
    m_IconSelected = nullptr;
    m_MyComputer = new QTreeWidgetItem(QStringList{msg("MyComputer")});
    m_MyComputer->setData(0, NodeImageRole, int(imgComputer));
    m_MyComputer->setData(0, NodeSelectedImageRole, int(imgComputer));
    m_MyComputer->setIcon(0, ImageListIcon(imgComputer));
    tvKeys->addTopLevelItem(m_MyComputer);
    for (const QString &name : std::as_const(m_RootKeyList))
        AddKeyNode(m_MyComputer, name, 0);
    m_MyComputer->setExpanded(true);
    tvKeys->setUpdatesEnabled(true);
}

// ---------------------------------------------------------------------------
// Tree nodes

int TformMain::GetTreeKind(QTreeWidgetItem *node, QString *topCaption) const
{
    if (topCaption)
        topCaption->clear();
    if (!node)
        return 0;
    while (node->parent())
        node = node->parent();
    if (topCaption)
        *topCaption = node->text(0);
    switch (nodeImage(node)) {
    case imgComputer:
        return 1;
    case imgRegistryFile:
        return 2;
    case imgRemoteComputer:
        return 3;
    default:
        return 0;
    }
}

void TformMain::GetNodeKey(QTreeWidgetItem *node, HKEY &root, int &viewMode, QString &treePath,
                           std::string &keyPath) const
{
    root = HKEY_LOCAL_MACHINE;
    viewMode = 0;
    treePath.clear();
    keyPath.clear();
    if (!node)
        return;
    const int image = nodeImage(node);
    viewMode = image == imgFolder32 ? 1 : image == imgFolder64 ? 2 : 0;
    QStringList captions;
    for (QTreeWidgetItem *n = node; n; n = n->parent())
        captions.prepend(n->text(0));
    treePath = captions.join(QLatin1Char('\\'));
    if (captions.size() >= 2)
        root = NameToRootKey(toStd(captions[1]));
    QString path;
    for (qsizetype i = 2; i < captions.size(); ++i)
        path += QLatin1Char('\\') + captions[i];
    keyPath = toStd(path);
}

void TformMain::GetSelectedKey(HKEY &root, std::string &keyPath, int &viewMode, QString &treePath) const
{
    GetNodeKey(tvKeys->currentItem(), root, viewMode, treePath, keyPath);
}

QTreeWidgetItem *TformMain::makeKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex) const
{
    if (name.isEmpty())
        return nullptr;
    int image = pairIndex == 1 ? imgFolder32 : imgFolder;
    int selected = pairIndex == 1 ? imgFolder32Open : imgFolderOpen;
    if (pairIndex == 0 && parent) {
        const int parentImage = nodeImage(parent);
        if (parentImage >= imgFolder32 && parentImage <= imgFolder64Open) {
            image = parentImage;
            selected = parent->data(0, NodeSelectedImageRole).toInt();
        }
    }
    auto *node = new QTreeWidgetItem(QStringList{name});
    node->setData(0, NodeImageRole, image);
    node->setData(0, NodeSelectedImageRole, selected);
    node->setIcon(0, ImageListIcon(image));
    setHasChildren(node, true);
    return node;
}

QTreeWidgetItem *TformMain::AddKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex)
{
    QTreeWidgetItem *node = makeKeyNode(parent, name, pairIndex);
    if (!node)
        return nullptr;
    if (parent)
        parent->addChild(node);
    else
        tvKeys->addTopLevelItem(node);
    return node;
}

void TformMain::setNodeIcon(QTreeWidgetItem *node, bool selected)
{
    const int image = node->data(0, selected ? NodeSelectedImageRole : NodeImageRole).toInt();
    node->setIcon(0, ImageListIcon(image));
}

QTreeWidgetItem *TformMain::FindChildNode(QTreeWidgetItem *parent, const QString &name) const
{
    if (!parent)
        return nullptr;
    const int count = parent->childCount();
    // Children are loaded in sorted order, so a binary search finds the first
    // candidate; nodes added later by a jump sit at the end, out of order,
    // hence the plain scan when the search misses.
    const TKeyNameOrder &order = keyNameOrder();
    int lo = 0, hi = count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (order.compare(parent->child(mid)->text(0), name) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (int i = lo; i < count && order.compare(parent->child(i)->text(0), name) == 0; ++i)
        if (parent->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
            return parent->child(i);
    for (int i = 0; i < count; ++i)
        if (parent->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
            return parent->child(i);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Expanding

void TformMain::tvKeysExpanding(QTreeWidgetItem *node)
{
    if (!node || !hasChildrenFlag(node) || node->childCount() > 0)
        return;
    HKEY root;
    int viewMode;
    QString treePath;
    std::string keyPath;
    const int kind = GetTreeKind(node);
    GetNodeKey(node, root, viewMode, treePath, keyPath);
    if (kind == 1)
        expandLocal(node, root, viewMode, keyPath);
    // Remote trees list their keys once remote connections exist; registry
    // file trees are built completely when the file is opened.
}

void TformMain::expandLocal(QTreeWidgetItem *node, HKEY root, int viewMode, const std::string &keyPath)
{
    TMyRegistry64 reg;
    std::vector<std::string> names;
    QList<QTreeWidgetItem *> children;
    const bool wasEnabled = tvKeys->updatesEnabled();
    tvKeys->setUpdatesEnabled(false);
    try {
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly(keyPath + '\\')) {
            reg.GetKeyNames(names);
            setHasChildren(node, !names.empty());
            reg.CloseKey();
        } else {
            setHasChildren(node, false);
        }
        sortKeyNames(names);
        startProgress(int(names.size()));
        const bool hidesWow = keyPath == "\\SOFTWARE" || keyPath == "\\SOFTWARE\\Classes";
        children.reserve(qsizetype(names.size()) + 1);
        for (std::size_t i = 0; i < names.size(); ++i) {
            setProgress(int(i));
            const std::string &name = names[i];
            if (hidesWow && name == "Wow6432Node")
                continue;
            QTreeWidgetItem *child = makeKeyNode(node, fromStd(name), 0);
            if (!child)
                continue;
            children.append(child);
            if (reg.OpenKeyReadOnly(keyPath + '\\' + name)) {
                setHasChildren(child, reg.HasSubKeys());
                reg.CloseKey();
            }
            if (keyPath.empty() && name == "SOFTWARE" && m_IsWow64) {
                child->setData(0, NodeImageRole, int(imgFolder64));
                child->setData(0, NodeSelectedImageRole, int(imgFolder64Open));
                child->setIcon(0, ImageListIcon(imgFolder64));
                children.append(makeKeyNode(node, fromStd(name), 1));
            }
        }
    } catch (...) {
        // Whatever was listed stays; the node that failed shows no children.
        if (!children.isEmpty())
            setHasChildren(children.last(), false);
    }
    node->addChildren(children);
    tvKeys->setUpdatesEnabled(wasEnabled);
}

// ---------------------------------------------------------------------------
// Progress

void TformMain::startProgress(int count)
{
    // A range of 0..0 would show Qt's busy bar; one step or none keeps a range
    // with nothing to show.
    pg->setMinimum(0);
    pg->setMaximum(count > 1 ? count - 1 : std::max(pg->maximum(), 1));
    pg->setValue(0);
}

void TformMain::setProgress(int position)
{
    // Painting the bar for every one of many thousand entries costs more
    // than the listing; every 256th step and the last one are enough to see.
    if ((position & 0xFF) == 0 || position == pg->maximum())
        pg->setValue(position);
}

// ---------------------------------------------------------------------------
// Selecting a key

void TformMain::setStatusText(int panel, const QString &text)
{
    (panel == 0 ? sbarPanel0 : sbarPanel1)->setText(text);
}

QString TformMain::StatusText(int panel) const { return (panel == 0 ? sbarPanel0 : sbarPanel1)->text(); }

void TformMain::tvKeysChange()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    // The info database tab follows the key once that database exists.

    setStatusText(0, treePath);
    if (node) {
        int entry = cbAddress->findText(treePath, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (entry < 0) {
            cbAddress->addItem(ImageListIcon(nodeImage(node)), treePath);
            entry = cbAddress->count() - 1;
        }
        cbAddress->setCurrentIndex(entry);
    }

    const int kind = GetTreeKind(node);
    if (kind == 1) {
        if (node == m_MyComputer) {
            lvData->clear();
        } else {
            FillValueList(root, keyPath, viewMode);
        }
        setStatusText(1, QString());
        try {
            TMyRegistry64 reg;
            reg.SetViewMode(std::uint8_t(viewMode));
            reg.SetRootKey(root);
            TRegKeyInfo info;
            if (reg.OpenKeyReadOnly(keyPath) && reg.GetKeyInfo(info)) {
                const TDateTime when = KeyTimeToDateTime(info.LastWriteTime);
                if (when > 0)
                    setStatusText(1, tr("Last write access: ") + formatLastWrite(dateTimeFromDays(when)));
            }
        } catch (...) {
            // Browsing never reports registry errors.
        }
        // The security tab is filled here once security information exists.
    } else {
        tvInfo->clear();
        m_FillingList = true;
        lvData->clear();
        if (kind == 3) {
            QList<QTreeWidgetItem *> rows;
            listDefaultPlaceholder(root, keyPath, rows);
            lvData->addTopLevelItems(rows);
        }
        m_FillingList = false;
    }
    lvDataSelect();
}

// ---------------------------------------------------------------------------
// The value list

void TformMain::listDefaultPlaceholder(HKEY root, const std::string &keyPath, QList<QTreeWidgetItem *> &rows) const
{
    auto *row = new TRegistryValueListItem;
    const QString notDefined = msg("DialogDataNotDefined");
    row->setText(colName, msg("DialogValueDefault"));
    row->setText(colType, QStringLiteral("REG_SZ"));
    row->setText(colValue, notDefined);
    row->setText(colSize, QStringLiteral("0"));
    row->setIcon(colName, ImageListIcon(imgText));
    row->StateImage = 1;
    row->RootKey = root;
    row->KeyPath = keyPath;
    row->DataInfo.RegData = rdString;
    row->DataInfo.DataSize = 0;
    row->DataText = toStd(notDefined);
    rows.append(row);
}

void TformMain::FillValueList(HKEY root, const std::string &keyPath, int viewMode)
{
    // The change monitor for the listed key is started and stopped here once
    // it exists.
    m_FillingList = true;
    const bool wasEnabled = lvData->updatesEnabled();
    lvData->setUpdatesEnabled(false);
    lvData->clear();

    QList<QTreeWidgetItem *> rows;
    TMyRegistry64 reg;
    bool opened = false;
    try {
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        opened = reg.OpenKeyReadOnly(keyPath);
    } catch (...) {
        opened = false;
    }
    if (opened) {
        std::vector<std::string> names;
        try {
            reg.GetValueNames(names);
        } catch (...) {
            names.clear();
        }
        sortKeyNames(names);
        startProgress(int(names.size()));

        TDataTexts texts;
        texts.notDefined = toStd(msg("DialogDataNotDefined"));
        texts.notSupported = toStd(msg("DialogDataNotSupported"));
        texts.binaryZero = toStd(msg("DialogDataBinaryZero"));
        texts.error = toStd(msg("DialogDataError"));
        const QString defaultCaption = msg("DialogValueDefault");

        const bool hasDefault =
            std::any_of(names.begin(), names.end(), [](const std::string &n) { return n.empty(); });
        if (!hasDefault)
            listDefaultPlaceholder(root, keyPath, rows);
        rows.reserve(rows.size() + qsizetype(names.size()));

        TRegByteArray data;
        for (std::size_t i = 0; i < names.size(); ++i) {
            setProgress(int(i));
            const std::string &name = names[i];
            auto *row = new TRegistryValueListItem;
            rows.append(row);
            row->RootKey = root;
            row->KeyPath = keyPath;
            row->ValueName = name;
            if (name.empty()) {
                row->setText(colName, defaultCaption);
                row->StateImage = 1;
            } else {
                row->setText(colName, fromStd(name));
            }
            try {
                // One query gives type, size and data. The registry looks a
                // value up by a walk over the key's values, so on keys with
                // thousands of values every further query per row would cost
                // as much as the whole listing.
                std::uint32_t code = 0;
                const bool read = reg.readValue(name, code, data);
                TRegDataInfo info;
                if (read) {
                    info.RegData = CodeToDataType(code);
                    info.DataType = code;
                    info.DataSize = std::int32_t(data.size());
                }
                row->DataInfo = info;
                row->setIcon(colName, ImageListIcon(DataTypeImageIndex(info.RegData)));
                std::string typeText = DisplayTypeName(info.RegData);
                std::string valueText;
                bool ok = read;
                // A large value shows the text of its first bytes only: Qt
                // lays out a cell's whole text, which for megabytes freezes
                // the window. Its whole text is built from its bytes when the
                // hint or an editor asks for it.
                const bool large = read && data.size() > std::size_t(TRegistryValueListItem::CellTextLimit) &&
                                   hasPrefixText(info.RegData);
                if (read && (info.RegData == rdUnknown || info.RegData == rdCardinal))
                    valueText = texts.notSupported;
                else if (read)
                    valueText = ValueDisplayText(
                        info.RegData, data.data(),
                        large ? std::size_t(TRegistryValueListItem::CellTextLimit) : data.size(), ok, texts);
                if (!ok) {
                    typeText = "N/A";
                    valueText = texts.error;
                }
                QString cell = fromStd(valueText);
                if (large && ok) {
                    row->Bytes = std::move(data);
                    data = TRegByteArray();
                    row->TextFromBytes = true;
                } else {
                    row->DataText = std::move(valueText);
                }
                if (cell.size() > TRegistryValueListItem::CellTextLimit || row->TextFromBytes) {
                    cell.truncate(TRegistryValueListItem::CellTextLimit - 1);
                    if (cell.endsWith(QChar::ReplacementCharacter)) // a character cut at the end of the bytes
                        cell.chop(1);
                    cell += QChar(0x2026);
                }
                row->setText(colType, fromStd(typeText));
                row->setText(colValue, cell);
                row->setText(colSize, QString::number(read ? info.DataSize : -1));
            } catch (...) {
                // The row stays as far as it was filled.
            }
        }
        try {
            reg.CloseKey();
        } catch (...) {
        }
    }
    lvData->addTopLevelItems(rows);
    pg->setValue(0);
    lvData->setUpdatesEnabled(wasEnabled);
    m_FillingList = false;
}

void TformMain::RefreshValueList()
{
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    FillValueList(root, keyPath, viewMode);
}

void TformMain::hideHexView()
{
    lvHexDump->hide();
}

void TformMain::lvDataSelect()
{
    m_HexViewSize = 0;
    m_HexBytes.clear();

    QTreeWidgetItem *current = lvData->currentItem();
    if (!current || !current->isSelected()) {
        const QList<QTreeWidgetItem *> selected = lvData->selectedItems();
        current = selected.isEmpty() ? nullptr : selected.first();
    }
    auto *row = current && current->type() == TRegistryValueListItem::ItemType
                    ? static_cast<TRegistryValueListItem *>(current)
                    : nullptr;
    bool show = false;
    if (row) {
        switch (row->DataInfo.RegData) {
        case rdNone:
        case rdString:
        case rdExpandString:
        case rdBinary:
        case rdBigEndianInteger:
        case rdLink:
        case rdMultiString:
        case rdResourceList:
        case rdFullResourceDescriptor:
        case rdResourceRequirementsList:
        case rdInt64:
        case rdLittleEndianInt64: {
            QTreeWidgetItem *node = tvKeys->currentItem();
            const int kind = GetTreeKind(node);
            if (kind == 1) {
                HKEY root;
                std::string keyPath;
                int viewMode;
                QString treePath;
                GetSelectedKey(root, keyPath, viewMode, treePath);
                try {
                    TMyRegistry64 reg;
                    reg.SetViewMode(std::uint8_t(viewMode));
                    reg.SetRootKey(row->RootKey);
                    if (reg.OpenKeyReadOnly(row->KeyPath)) {
                        m_HexViewSize = std::max<std::int32_t>(row->DataInfo.DataSize, 0);
                        m_HexBytes.resize(std::size_t(m_HexViewSize));
                        const std::int32_t got = m_HexBytes.empty()
                                                     ? 0
                                                     : reg.ReadBinaryData(row->ValueName, m_HexBytes.data(),
                                                                          std::int32_t(m_HexBytes.size()));
                        m_HexBytes.resize(std::size_t(std::max(got, 0)));
                        show = true;
                    }
                } catch (...) {
                    // A value that changed meanwhile shows what could be read.
                    show = true;
                }
            } else if (kind == 3) {
                show = true;
            }
            // Rows of registry file trees bring their bytes with that feature.
            break;
        }
        default:
            break;
        }
    }
    if (show)
        lvHexDump->show();
    else
        hideHexView();
    UpdateActionStates();
}

void TformMain::HexViewGetBytes(std::int64_t offset, std::int64_t count, std::uint8_t *out) const
{
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t at = offset + i;
        out[i] = at >= 0 && at < std::int64_t(m_HexBytes.size()) ? m_HexBytes[std::size_t(at)] : 0;
    }
}

// ---------------------------------------------------------------------------
// Going to a key

void TformMain::GoToKey(const QString &input)
{
    QString text = input;
    // "My Computer\" or a computer name in front of the root goes.
    if (!text.startsWith(QStringLiteral("HK"))) {
        const qsizetype slash = text.indexOf(QLatin1Char('\\'));
        if (slash >= 0 && slash == text.indexOf(QStringLiteral("\\HK")))
            text.remove(0, slash + 1);
    }
    if (text.endsWith(QLatin1Char('\\')))
        text.chop(1);

    auto split = [](const QString &t, QStringList &elements, HKEY &root, std::string &rest) {
        elements = t.split(QLatin1Char('\\'));
        root = NameToRootKey(toStd(elements.first()));
        const qsizetype slash = t.indexOf(QLatin1Char('\\'));
        rest = toStd(slash >= 0 ? t.mid(slash) : t);
    };
    QStringList elements;
    HKEY root;
    std::string rest;
    split(text, elements, root, rest);
    if (!KeyExistsAt(root, rest, 0)) {
        // Pasted paths often carry blanks around their separators.
        text.replace(QStringLiteral("\\ "), QStringLiteral("\\"));
        text.replace(QStringLiteral(" \\"), QStringLiteral("\\"));
    }
    split(text, elements, root, rest);

    bool exists = false;
    try {
        TMyRegistry64 reg;
        reg.SetRootKey(root);
        exists = reg.KeyExists(rest);
    } catch (...) {
        exists = false;
    }

    QTreeWidgetItem *start = nullptr;
    if ((exists || elements.size() == 1) && m_MyComputer) {
        for (int i = 0; i < m_MyComputer->childCount(); ++i)
            if (m_MyComputer->child(i)->text(0).compare(elements.first(), Qt::CaseInsensitive) == 0)
                start = m_MyComputer->child(i);
    }
    if (start) {
        tvKeysExpanding(start);
        const bool wasEnabled = tvKeys->updatesEnabled();
        tvKeys->setUpdatesEnabled(false);
        QTreeWidgetItem *current = start;
        for (qsizetype i = 1; i < elements.size(); ++i) {
            // Two backslashes in a row name no key: stay at the last one found.
            if (elements[i].isEmpty())
                break;
            QTreeWidgetItem *next = FindChildNode(current, elements[i]);
            if (!next)
                next = AddKeyNode(current, elements[i], 0);
            tvKeysExpanding(next);
            current = next;
        }
        for (QTreeWidgetItem *up = current->parent(); up; up = up->parent())
            up->setExpanded(true);
        tvKeys->setCurrentItem(current);
        tvKeys->setUpdatesEnabled(wasEnabled);
        tvKeys->scrollToItem(current);
        tvKeys->setFocus(Qt::OtherFocusReason);
    }
    tvKeysChange();
}

// ---------------------------------------------------------------------------
// Address box

void TformMain::cbAddressSelect(int index)
{
    QString text = cbAddress->itemText(index);
    const qsizetype slash = text.indexOf(QLatin1Char('\\'));
    const QString myComputer = m_MyComputer ? m_MyComputer->text(0) : msg("MyComputer");
    if (slash >= 0 && text.left(slash).compare(myComputer, Qt::CaseInsensitive) == 0)
        text.remove(0, slash + 1);
    GoToKey(text);
}

void TformMain::cbAddressEnter() { GoToKey(cbAddress->currentText()); }

// ---------------------------------------------------------------------------
// Focus, keys and the "&Edit" mirror

void TformMain::dropEditMirror()
{
    for (QAction *action : std::as_const(m_EditMirror)) {
        mEdit->removeAction(action);
        if (action->parent() == mEdit)
            delete action;
    }
    m_EditMirror.clear();
}

void TformMain::mirrorPopupInEdit(QMenu *popup)
{
    dropEditMirror();
    for (QAction *action : popup->actions()) {
        QAction *copy = action;
        if (action->isSeparator()) {
            copy = new QAction(mEdit);
            copy->setSeparator(true);
        } else if (action->menu()) {
            // Submenus are not copied: the entry stands alone.
            copy = new QAction(action->text(), mEdit);
            copy->setObjectName(action->objectName() + QStringLiteral("Mirror"));
            copy->setEnabled(action->isEnabled());
            connect(copy, &QAction::triggered, action, &QAction::trigger);
        }
        mEdit->insertAction(m_EditPermanentFirst, copy);
        m_EditMirror.append(copy);
    }
    mEdit->setEnabled(true);
}

bool TformMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == tvKeys || watched == lvData) {
        if (event->type() == QEvent::FocusIn) {
            mirrorPopupInEdit(watched == tvKeys ? pmKeys : pmValues);
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            // Opening a menu or leaving the window is not leaving the list.
            if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
                reason != Qt::ActiveWindowFocusReason) {
                dropEditMirror();
                mEdit->setEnabled(false);
            }
        } else if (watched == tvKeys && event->type() == QEvent::KeyRelease) {
            switch (static_cast<QKeyEvent *>(event)->key()) {
            case Qt::Key_Left:
            case Qt::Key_Up:
            case Qt::Key_Right:
            case Qt::Key_Down:
                tvKeysChange();
                break;
            default:
                break;
            }
        }
    } else if (cbAddress && (watched == cbAddress || watched == cbAddress->lineEdit()) &&
               event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cbAddressEnter();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Handlers of this window

void TformMain::aFileExitExecute() { close(); }

static QString helpFile()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Help/English.chm"));
}

void TformMain::aHelpContentsExecute()
{
    const QString file = helpFile();
    if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        QMessageBox::warning(this, windowTitle(), tr("The help file %1 cannot be opened.").arg(file));
}

void TformMain::aHelpIndexExecute()
{
    // The index page lives in the same file; a viewer outside Windows opens it
    // at its start.
    aHelpContentsExecute();
}

void TformMain::aShowHistoryExecute()
{
    if (formHistory) {
        formHistory->show();
        formHistory->raise();
        formHistory->activateWindow();
    }
}

void TformMain::aKeyExportExecute()
{
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    if (!root)
        return;
    try {
        ::aKeyExportExecute(this, root, keyPath, viewMode == 2);
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformMain::aKeyImportExecute()
{
    if (!formImportProgress)
        return;
    try {
        ::aKeyImportExecute(this, *formImportProgress);
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
    RefreshValueList();
}

void TformMain::aAboutExecute()
{
    QMessageBox::about(this, tr("About Vantrel"),
                       QStringLiteral("Vantrel %1\n\n").arg(QCoreApplication::applicationVersion()) +
                           tr("An editor and analyser for the Windows registry."));
}

} // namespace vt::app
