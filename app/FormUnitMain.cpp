// The main window: its actions, controls, menus and the handlers that belong
// to no single part of it.

#include "FormUnitMainShared.h"

#include "app/FormUnitAbout.h"
#include "app/FormUnitHelp.h"
#include "app/vtProgramData.h"
#include "app/vtAnimate.h"
#include "core/zoStrings.h"
#include "editors/gui/vzoHexView.h"
#include "history/gui/ChangeLogPane.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/FormUnitImportProgress.h"
#include "regfile/gui/RegFileActions.h"
#include "security/zoSecurity.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vt::app {

using namespace mainform;

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
    aFileCloseReg = newAction("aFileCloseReg", tr("&Close registry file"));
    aValueModifyBinary = newAction("aValueModifyBinary", tr("Modify binary data..."));
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

    tvKeys = new mainform::TDragSourceTree(splitterMain);
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
    lvData = new mainform::TDragSourceTree(splitterData);
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
    lvHexDump = new vt::editors::THexView(splitterData);
    lvHexDump->setObjectName(QStringLiteral("lvHexDump"));
    lvHexDump->setMinimumHeight(40);
    lvHexDump->OnGetBinaryData = [this](std::int64_t first, std::int64_t count, std::uint8_t *data) {
        HexViewGetBytes(first, count, data);
    };
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
    auto addMemo = [&](const QString &caption, const char *name, const char *buttonName, QAction *save) {
        auto *row = new QHBoxLayout;
        auto *label = new QLabel(caption, tsDatabaseInfo);
        row->addWidget(label, 1);
        auto *button = new QToolButton(tsDatabaseInfo);
        button->setObjectName(QString::fromLatin1(buttonName));
        button->setDefaultAction(save);
        button->setAutoRaise(true);
        row->addWidget(button);
        dbLayout->addLayout(row);
        auto *memo = new QPlainTextEdit(tsDatabaseInfo);
        memo->setObjectName(QString::fromLatin1(name));
        dbLayout->addWidget(memo, 1);
        return memo;
    };
    mInfoDBKey = addMemo(tr("Key information:"), "mInfoDBKey", "bnInfoDBSaveKeyInfo", aInfoDBSaveKeyInfo);
    mInfoDBValue = addMemo(tr("Value information:"), "mInfoDBValue", "bnInfoDBSaveValueInfo",
                           aInfoDBSaveValueInfo);
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
    m_FileCloseSeparator = pmKeys->addSeparator();
    pmKeys->addAction(aFileCloseReg);
    createRecoveryActions();

    pmValues = new QMenu(this);
    pmValues->setObjectName(QStringLiteral("pmValues"));
    pmValues->addAction(aValueAdd);
    pmValues->addSeparator();
    pmValues->addActions({aValueChange, aValueChangeType, aValueModifyBinary, aValueJumpToHKCRCLSID});
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
    connectHandler(aFileOpenReg, &TformMain::aFileOpenRegExecute);
    connectHandler(aFileDiffOpenReg, &TformMain::aFileDiffOpenRegExecute);
    connectHandler(aFileCloseReg, &TformMain::aFileCloseRegExecute);
    connectHandler(aSearch, &TformMain::aSearchExecute);
    connectHandler(aKeyAddBookmark, &TformMain::aKeyAddBookmarkExecute);
    connectHandler(aBookmarksManage, &TformMain::aBookmarksManageExecute);
    m_Built.insert(aMenuHelp); // opens its menu
    connectEditors();
    connectKeyCommands();
    connectSecurity();
    connectRules();

    connect(mFile, &QMenu::aboutToShow, this, &TformMain::UpdateActionStates);

    connect(tvKeys, &QTreeWidget::itemExpanded, this, &TformMain::tvKeysExpanding);
    // A click on the node already listed lists it again; a click that moved
    // the current node was handled by the change itself.
    connect(tvKeys, &QTreeWidget::itemClicked, this, [this] {
        if (m_KeyChanges == m_KeyChangesAtPress)
            tvKeysChange();
    });
    // Whatever moves the current node (keys, type-ahead, the mouse, code),
    // the list, the address box, the status bar and every command's target
    // follow it here, so that what is listed is what commands act on.
    connect(tvKeys, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *previous) {
                if (previous)
                    setNodeIcon(previous, false);
                if (current)
                    setNodeIcon(current, true);
                tvKeysChange();
            });
    connect(tvKeys, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // Right click selects the node under the mouse before the pop-up opens.
        if (QTreeWidgetItem *node = tvKeys->itemAt(pos); node && node != tvKeys->currentItem())
            SelectNode(node);
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
    updateFileViewActions();
    if (!m_Shown)
        return;
    QTreeWidgetItem *node = tvKeys->currentItem();
    const bool localKey = node && node->parent() && GetTreeKind(node) == 1;
    aKeyExport->setEnabled(localKey);
    aKeyAddBookmark->setEnabled(node && GetTreeKind(node) == 1);
    updateKeyCommandStates();
    updateValueCommandStates();
    updateSecurityActionStates();
    updateRuleStates();
    // The change logs and the history window are always at hand.
    for (QAction *action : {aChangeLogRedoSave, aChangeLogRedoApply, aChangeLogUndoSave, aChangeLogUndoApply,
                            aShowHistory})
        action->setEnabled(true);
    UpdateEditorActionStates();
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
    // The language joins here as that feature arrives.
    settingsFormShow();
    pcMain->setTabVisible(pcMain->indexOf(tsInfo), vt::security_info::SecurityFunctionsAvailable());
    pcMain->setCurrentWidget(tsData);
    UpdateActionStates();
    searchFormShow(); // its hooks take the settings and a command-line search below
    RestoreSettings();
    BuildKeyTree();
    bookmarksFormShow();
    commandLineFormShow();
    tsData->show();
    historyFormShow();
}

// ---------------------------------------------------------------------------
// Handlers of this window

void TformMain::aFileExitExecute() { close(); }

void TformMain::aHelpContentsExecute() { ShowHelpPage(QStringLiteral("index.html"), 0); }

void TformMain::aHelpIndexExecute() { ShowHelpPage(QStringLiteral("index.html"), 1); }

bool TformMain::ShowHelpPage(const QString &page, int tab)
{
    const QString helpFile = ApplicationHelpFile();
    const QString collection = ManualCollectionFor(helpFile);
    QString error;
    if (collection.isEmpty()) {
        error = tr("The manual for the help file %1 is not installed.").arg(helpFile);
    } else {
        if (!formHelp || formHelp->property("collection").toString() != collection) {
            auto help = std::make_unique<TformHelp>(this);
            if (help->OpenCollection(collection, &error)) {
                help->setProperty("collection", collection);
                delete formHelp;
                formHelp = help.release();
            }
        }
        if (formHelp && error.isEmpty() && formHelp->ShowPage(page, TformHelp::Tab(tab)))
            return true;
        if (error.isEmpty())
            error = tr("The manual %1 has no pages.").arg(collection);
    }
    vt::i18n::ShowMessageDialog(error, vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    return false;
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
    vt::regfile::TImportResult result;
    bool chosen = false;
    try {
        chosen = ::aKeyImportExecute(this, *formImportProgress, &result);
    } catch (const std::exception &e) {
        // The result holds the error and how far the import went.
        chosen = true;
        if (result.Error.empty())
            result.Error = e.what();
    }
    if (!chosen)
        return;
    // Said in the status bar; a message only when something went amiss.
    ShowImportResult(result, true);
    if (result.Applied)
        ShowImportedKeys(result);
}

void TformMain::aAboutExecute()
{
    TformAbout about(this);
    about.exec();
}

} // namespace vt::app
