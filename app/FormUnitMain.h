#pragma once
// The main window: the key tree on the left, the page control with the value
// list on the right, and every command of the program as an action.

#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTreeWidgetItem>
#include <Qsci/qsciscintilla.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/UnitRegMonitorThread.h"
#include "app/vtCommandLine.h"
#include "app/vtSearchSettings.h"
#include "core/kltRegistry.h"
#include "history/RegistryChangeHistory.h"
#include "knowledge/RegistryInfo.h"

#include <functional>
#include <optional>

#include <memory>

class QComboBox;
class QLabel;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class TformImportProgress;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolBar;
class QTreeWidget;

namespace vt::editors {
class THexView;
class TformEditString;
class TformEditMultiString;
class TformEditInteger;
class TformValueType;
class TformEditResourceRequirementsList;
class TformEditBinary;
} // namespace vt::editors

namespace vt::regfile {
struct TImportResult;
} // namespace vt::regfile
namespace vt::knowledge {
class TformOpenZTIValue;
} // namespace vt::knowledge

namespace vt::app {

class TAnimate;
class TformHelp;

// Per-node image roles of the key tree (image, selected image).
inline constexpr int NodeImageRole = Qt::UserRole + 1;
inline constexpr int NodeSelectedImageRole = Qt::UserRole + 2;

// One row of the value list; the columns hold Name, Type, Value, Size.
class TRegistryValueListItem : public QTreeWidgetItem {
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 1;
    TRegistryValueListItem() : QTreeWidgetItem(ItemType) {}

    HKEY RootKey = nullptr;
    std::string KeyPath;
    std::string ValueName; // empty for the default value
    TRegDataInfo DataInfo;
    // The whole value text; empty for a large value, whose text is built on
    // demand from Bytes (FullDataText) rather than kept beside them.
    std::string DataText;
    TRegByteArray Bytes;
    bool TextFromBytes = false;
    std::uint32_t RowColor = 0; // 0x00BBGGRR; 0 or below: normal background
    int StateImage = 0;         // 1 marks the default value's row

    // Values longer than this many characters show a cut text in the list.
    static constexpr int CellTextLimit = 4000;

    QVariant data(int column, int role) const override;
    // Column caption ": " text, one line per visible column, CR LF between;
    // the value's whole text, not the cell's cut one.
    QString Hint() const;
    // The value's whole display text, for the hint and the editors.
    std::string FullDataText() const;
};

class TformMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TformMain(QWidget *parent = nullptr);
    ~TformMain() override;

    // Tree kind of the node's top node: 1 local, 2 registry file, 3 remote, 0 none.
    int GetTreeKind(QTreeWidgetItem *node, QString *topCaption = nullptr) const;
    void GetNodeKey(QTreeWidgetItem *node, HKEY &root, int &viewMode, QString &treePath, std::string &keyPath) const;
    void GetSelectedKey(HKEY &root, std::string &keyPath, int &viewMode, QString &treePath) const;
    QTreeWidgetItem *AddKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex);
    QTreeWidgetItem *FindChildNode(QTreeWidgetItem *parent, const QString &name) const;
    void GoToKey(const QString &text);

    // Whether a child node already in the tree, or a row of the value list,
    // has the name, letters A to Z compared without case; the MakeUnique
    // variants append the smallest number from 1 up that no such node or row
    // has yet.
    bool ChildKeyExists(QTreeWidgetItem *node, const QString &name) const;
    void MakeUniqueKeyName(QTreeWidgetItem *node, QString &base) const;
    bool ValueNameExists(const QString &name) const;
    void MakeUniqueValueName(QString &base) const;

    void FillValueList(HKEY root, const std::string &keyPath, int viewMode);
    void RefreshValueList();

    // Opens the manual at a page ("formSearch.html") with the contents (0),
    // index (1) or search (2) beside it; says why when there is no manual.
    bool ShowHelpPage(const QString &page, int tab = 0);

    // ---- Registry file view (FormUnitMainFileView.cpp) ----
    // Adds the file as a new branch of the tree, its values compared with the
    // registry when compare holds. False, after saying why, when the file is
    // not a readable registry file.
    bool OpenRegistryFileView(const QString &fileName, bool compare);
    // Lists the values the file gave a node of a file branch.
    void ShowFileKeyValues(QTreeWidgetItem *node);

    // ---- Hive files opened for recovery (FormUnitMainRecovery.cpp) ----
    // Adds a read-only branch with the hive's live keys and the keys and values
    // deleted from it; false, after saying why, when the file is no hive.
    bool OpenHiveRecoveryView(const QString &fileName);
    // Lists a node of such a branch; false when the node is not one.
    bool ShowRecoveryKeyValues(QTreeWidgetItem *node);
    // Writes the recovered items (the branch's top node) or a key of the
    // branch with everything below it to a version 5 registry file.
    bool ExportRecoveryNode(QTreeWidgetItem *node, const QString &fileName);
    // The next node or row of the branch whose name or data holds the text,
    // after the current one; false when there is none.
    bool FindInRecoveryBranch(const QString &text);

    // Loads a node's children once (the tree's expanding event).
    void tvKeysExpanding(QTreeWidgetItem *node);
    // Key and value selection handling. The tree's current-node change runs
    // tvKeysChange, whatever moved the node.
    void tvKeysChange();
    // Makes the node current; the selection handling runs once either way.
    void SelectNode(QTreeWidgetItem *node);
    // The key whose values the list shows, as listed: every value command
    // acts on this key. Not valid while the list shows no local key.
    struct TListedKey {
        bool valid = false;
        HKEY root = nullptr;
        std::string keyPath;
        int viewMode = 0;
    };
    const TListedKey &ListedKey() const { return m_Listed; }
    void lvDataSelect();

    // The hex view's byte source: count bytes from offset, 0 beyond the end.
    void HexViewGetBytes(std::int64_t offset, std::int64_t count, std::uint8_t *out) const;
    const TRegByteArray &HexBytes() const { return m_HexBytes; }
    std::int64_t HexViewSize() const { return m_HexViewSize; }

    QTreeWidgetItem *MyComputerNode() const { return m_MyComputer; }
    QString StatusText(int panel) const;

    // Rebuilds the top nodes: "My Computer" and the root keys below it.
    void BuildKeyTree();
    // What showing the window does, as far as this window goes.
    void FormShow();

    // Names of the seven root keys in their list order.
    const QStringList &RootKeyList() const { return m_RootKeyList; }

    // Enables and disables actions; the single place for that.
    void UpdateActionStates();

    // ---- Change recorder (FormUnitMainRecorder.cpp) ----
    // Each writes its undo and redo blocks into the two change-log panes and,
    // where it records at all, one history operation. History errors end the
    // caller's operation: they pass as vt::history::ESQLiteException.
    enum class TRenamePhase { Before, After };
    void LogKeyDelete(HKEY root, const std::string &keyPath);
    void LogValueDelete(HKEY root, const std::string &keyPath, const std::string &valueName);
    void LogValueChange(HKEY root, const std::string &keyPath, const std::string &previousDataText,
                        const std::string &valueName);
    void LogKeyAdd(HKEY root, const std::string &keyPath);
    void LogKeyRename(HKEY root, const std::string &oldKeyPath, TRenamePhase phase, const std::string &newKeyPath);
    void LogValueRename(QsciScintilla *targetPane, HKEY root, const std::string &nameToDelete,
                        const std::string &nameToExport, const std::string &keyPath);
    // The store, or none when it could not be opened (HistoryError says why).
    vt::history::TRegistryChangeHistory *History() const { return m_History.get(); }
    const QString &HistoryError() const { return m_HistoryError; }

    // ---- Value editors (FormUnitMainEditors.cpp) ----
    // The row's editor by its type (the binary editor for the types shown
    // as bytes); writes and records only on OK. Returns whether the data was
    // changed. createdNow: the value was just made empty by New, so undoing
    // its first change removes it rather than restoring that empty data.
    bool ChangeValueData(TRegistryValueListItem *row, bool createdNow = false);
    // The type-change dialog, then the value rewritten in its new type.
    void ChangeValueType(TRegistryValueListItem *row);
    // A new empty value of the type under a name the user gives, then its editor.
    void AddValue(TRegDataType type);
    bool AskNewValueName(TRegDataType type, QString &name);
    // The hex editor on a value's raw bytes; any type.
    bool ChangeValueBinary(TRegistryValueListItem *row, bool createdNow = false);
    // Double click (and Enter) in the value list.
    void lvDataDblClick();
    // True while a value editor works on the list (the list's tag is 1): the
    // change monitor must not refill the list then.
    bool ValueListBusy() const { return lvDataTag > 0; }
    // The editor dialogs; the start-up code sets them, a window made alone
    // makes its own on first use.
    QPointer<vt::editors::TformEditString> formEditString;
    QPointer<vt::editors::TformEditMultiString> formEditMultiString;
    QPointer<vt::editors::TformEditInteger> formEditInteger;
    QPointer<vt::editors::TformValueType> formValueType;
    QPointer<vt::editors::TformEditResourceRequirementsList> formEditResourceRequirementsList;
    QPointer<vt::editors::TformEditBinary> formEditBinary;
    // ---- Key and value commands (FormUnitMainKeyCommands.cpp,
    // FormUnitMainValueCommands.cpp, FormUnitMainDragDrop.cpp) ----
    void aKeyAddExecute();
    void aKeyDeleteExecute();
    void aKeyRenameExecute();
    void aKeyRefreshExecute();
    void aKeyCopyPathExecute();
    void aKeyJumpExecute();
    void aKeyJumpToHKCRCLSIDExecute();
    void aValueDeleteExecute();
    void aValueRenameExecute();
    void aValueSelectAllExecute();
    void aValueJumpToHKCRCLSIDExecute();
    // What a drag out of the key tree or the value list carries; a drop takes
    // only this window's own drags.
    QMimeData *CreateDragData(QWidget *source) const;
    // Drags the tree and the list have started so far.
    int DragsStarted() const { return m_DragsStarted; }
    // Whether a long key operation runs; no second one starts meanwhile.
    bool IsBusy() const { return m_Busy; }

    // Whether the process sees two registry views (32-bit on 64-bit Windows);
    // asked once when the window is created.
    bool IsWow64() const { return m_IsWow64; }

    // ---- Imports (FormUnitMainImport.cpp) ----
    // The result in status panel 0, and in a message when lines were ignored,
    // keys failed or nothing was imported (also when quiet).
    void ShowImportResult(const vt::regfile::TImportResult &result, bool quiet = false);
    // The tree's loaded nodes brought up to date with the keys an import
    // wrote or deleted, and the list refilled.
    void ShowImportedKeys(const vt::regfile::TImportResult &result);
    // Jump to CLSID in HKCR: the node the tree shows for the class.
    void JumpToClass(const QString &clsid);

    // ---- Settings and command line (FormUnitMainSettings.cpp) ----
    // The search window's settings, read at show and written at close. The
    // search window hooks in here: ApplySearchSettings after the read,
    // CollectSearchSettings before the write, StartSearch for a search asked
    // for on the command line (which stays in PendingSearch when unhooked).
    TSearchSettings SearchSettings;
    std::function<void(const TSearchSettings &)> ApplySearchSettings;
    std::function<void(TSearchSettings &)> CollectSearchSettings;
    std::function<void(const TSearchStart &)> StartSearch;
    std::optional<TSearchStart> PendingSearch;
    int HexDumpSize = 40;
    std::string RemoteListHistory; // comma text of computer names
    std::string LastKey;           // as read at show
    bool BartPEMode() const { return m_BartPE; }
    void RestoreSettings();
    void SaveSettings();
    // The command line's import, jump and LastKey jump; false when the
    // program is to end (an import without /gui).
    bool ProcessCommandLine(const TCommandLine &commandLine);

    // ---- Bookmarks (FormUnitMainBookmarks.cpp) ----
    void OnBookmarkClick(const QString &location);
    void ExportBookmarkedKeys(const QStringList &locations);
    QString BookmarksFile() const;

    // ---- Change monitor (FormUnitMainMonitor.cpp) ----
    // Above 0 while a value editor works on the list: the monitor then
    // leaves the list alone (the editors count it up and down).
    int lvDataTag = 0;
    void OnRegistryChanged(HKEY root, const std::string &path);
    TRegMonitorThread *Monitor() const { return m_Monitor.get(); }
    void StopMonitor();

    // Restores every window's placement before this window first exists.
    void setVisible(bool visible) override;
    // ---- Rules and the info database (FormUnitMainRules.cpp) ----
    // The rule dialog; the start-up code sets it, a window made alone makes
    // its own on first use.
    QPointer<vt::knowledge::TformOpenZTIValue> formOpenZTIValue;
    void aValueCreateRuleExecute();
    void aKeyCreateRuleExecute();
    // The collection loaded from InfoDBFile() when the window was made.
    vt::knowledge::TRegistryInfo &RegistryInfo() const { return *m_RegistryInfo; }
    QString InfoDBFile() const;
    // Why the file did not read whole; empty when it did (or was missing).
    const QString &InfoDBProblem() const { return m_InfoDBProblem; }
    // The key information of a full key path (root name + key path) into
    // mInfoDBKey; run on every key selection.
    void ShowKeyInfo(const QString &fullKeyPath);
    // The value information area for the selected values.
    void ShowValueInfo();
    void aInfoDBSaveKeyInfoExecute();
    void aInfoDBSaveValueInfoExecute();
    void mInfoDBKeyKeyPress();
    void mInfoDBValueKeyPress();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createControls();
    void connectActions();

    void connectHandler(QAction *action, void (TformMain::*handler)());
    void cbAddressSelect(int index);
    void cbAddressEnter();
    void aFileExitExecute();
    void aHelpContentsExecute();

    void aHelpIndexExecute();
    void aShowHistoryExecute();
    void aAboutExecute();
    void aKeyExportExecute();
    void aKeyImportExecute();
    void aSearchExecute();    // search file: the search window for the selected key
    void searchFormShow();    // search file: the search window's hooks into this one
    void createSettings();      // settings file: start-up mode from the ini file
    void settingsFormShow();    // placements
    void bookmarksFormShow();   // bookmarks file into the menu
    void commandLineFormShow(); // command line, then a search it asks for
    void aKeyAddBookmarkExecute();
    void aBookmarksManageExecute();
    void followWithMonitor(HKEY root, const std::string &keyPath, int viewMode);
    void createHistoryStore(); // recorder file: store, pane actions
    void historyFormShow();
    void aChangeLogSave(QsciScintilla *pane);
    void aChangeLogApply(QsciScintilla *pane);
    void aFileOpenRegExecute();
    void aFileDiffOpenRegExecute();
    void aFileCloseRegExecute();
    void openRegistryFile(bool compare);
    void updateFileViewActions();
    void createRecoveryActions();
    void updateRecoveryActions();
    void aFileRecoverHiveExecute();
    void aFileRecoverExportExecute();
    void aFileRecoverFindExecute();
    bool fileRowHexBytes(const TRegistryValueListItem *row);

    void connectKeyCommands();
    // Security tab (FormUnitMainSecurity.cpp)
    void connectSecurity();
    bool securityTabVisible() const;
    void updateSecurityActionStates();
    void fillSecurityTab(HKEY root, const std::string &keyPath, int viewMode);
    QString securityReportText() const;
    void aSecurityInformationExportToClipboardExecute();
    void aSecurityInformationExportToFileExecute();
    void aSecurityInformationGrantAllExecute();
    void connectRules();      // rules file: the info database loaded, its actions
    void updateRuleStates();  // rules file: enabled states, the start-up mode's hint
    void updateKeyCommandStates();
    void updateValueCommandStates();
    bool commandKeyPress(QObject *watched, QEvent *event);
    bool dragDropEvent(QObject *watched, QEvent *event);
    void startDrag(QWidget *source);
    void dropValues(QTreeWidgetItem *target, bool copy);
    void dropKey(QTreeWidgetItem *target, bool copy);
    void showRegistryError(const QString &text, LONG code);
    void reloadChildren(QTreeWidgetItem *node);
    // Progress in pg for a walk of `total` keys through `reg`; the window
    // keeps painting, user input waits until the end.
    void startLongOperation(TMyRegistry &reg, std::uint64_t total);
    void endLongOperation();

    void mirrorPopupInEdit(QMenu *popup);
    void dropEditMirror();
    void setStatusText(int panel, const QString &text);
    void setNodeIcon(QTreeWidgetItem *node, bool selected);
    void setProgress(int position);
    void startProgress(int count);
    QTreeWidgetItem *makeKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex) const;
    // A child node for a key of the parent's view, at its sorted place among
    // the loaded children; none when the key does not exist in that view.
    QTreeWidgetItem *addExistingKeyNode(QTreeWidgetItem *parent, const QString &name);
    // Puts a new node among the parent's children in their sorted order.
    void insertNodeSorted(QTreeWidgetItem *parent, QTreeWidgetItem *node);
    // A loaded node's children made to match the registry: missing keys
    // added in order, vanished ones removed, the others kept as they are.
    void syncChildren(QTreeWidgetItem *node);
    void expandLocal(QTreeWidgetItem *node, HKEY root, int viewMode, const std::string &keyPath);
    void listDefaultPlaceholder(HKEY root, const std::string &keyPath, QList<QTreeWidgetItem *> &rows) const;
    void hideHexView();
    void connectEditors();
    void UpdateEditorActionStates();
    void aValueChangeExecute();
    void aValueChangeTypeExecute();
    void aValueModifyBinaryExecute();
    // The selected rows of registry values, first to last.
    QList<TRegistryValueListItem *> selectedValueRows() const;
    template <class T> T *editorForm(QPointer<T> &form);

    QAction *newAction(const char *name, const QString &caption, const QKeySequence &shortcut = {});

public:
    // Controls, named as the design names them.
    QToolBar *tbMain = nullptr;
    QComboBox *cbAddress = nullptr;
    TAnimate *animSearch = nullptr;
    QSplitter *splitterMain = nullptr;
    QTreeWidget *tvKeys = nullptr;
    QTabWidget *pcMain = nullptr;
    QWidget *tsData = nullptr;
    QSplitter *splitterData = nullptr;
    QTreeWidget *lvData = nullptr;
    vt::editors::THexView *lvHexDump = nullptr;
    QWidget *tsInfo = nullptr;
    QTreeWidget *tvInfo = nullptr;
    QWidget *tsDatabaseInfo = nullptr;
    QPlainTextEdit *mInfoDBKey = nullptr;
    QPlainTextEdit *mInfoDBValue = nullptr;
    QWidget *tsChangeLogs = nullptr;
    QTabWidget *pcChangeLogs = nullptr;
    QsciScintilla *editRedoLog = nullptr;
    QsciScintilla *editUndoLog = nullptr;
    QWidget *tsDatabaseInfoDebug = nullptr;
    QProgressBar *pg = nullptr;
    QStatusBar *sbar = nullptr;
    QLabel *sbarPanel0 = nullptr;
    QLabel *sbarPanel1 = nullptr;

    QMenu *mFile = nullptr;
    QMenu *mEdit = nullptr;
    QMenu *mBookmarks = nullptr;
    QMenu *mLanguages = nullptr;
    QMenu *mHelp = nullptr;
    QMenu *pmKeys = nullptr;
    QMenu *pmValues = nullptr;
    QMenu *pmSecurity = nullptr;
    QMenu *pmValueAdd = nullptr;

    // Actions in the order of the action list.
    QAction *aKeyDelete = nullptr, *aKeyAdd = nullptr, *aKeyRename = nullptr, *aValueDelete = nullptr,
            *aValueRename = nullptr, *aValueChange = nullptr, *aValueChangeType = nullptr, *aKeyCopyPath = nullptr,
            *aSearch = nullptr, *aKeyRefresh = nullptr, *aKeyJump = nullptr, *aValueAdd = nullptr,
            *aValueAddString = nullptr, *aValueAddExpandString = nullptr, *aValueAddMultiString = nullptr,
            *aValueAddInteger = nullptr, *aValueAddLEInteger = nullptr, *aValueAddBEInteger = nullptr,
            *aValueAddInt64 = nullptr, *aValueAddLEInt64 = nullptr, *aValueAddBinary = nullptr,
            *aValueAddLink = nullptr, *aValueAddResourceList = nullptr, *aValueAddResourceRequirementsList = nullptr,
            *aValueAddFullResourceDescriptor = nullptr, *aValueAddNone = nullptr,
            *aSecurityInformationExportToFile = nullptr, *aSecurityInformationExportToClipboard = nullptr,
            *aFileExit = nullptr, *aBookmarksManage = nullptr, *aFileOpenReg = nullptr, *aKeyExport = nullptr,
            *aFileDiffOpenReg = nullptr, *aFileConnectReg = nullptr, *aKeyImport = nullptr,
            *aKeyAddBookmark = nullptr, *aAbout = nullptr, *aInfoDBSaveKeyInfo = nullptr,
            *aInfoDBSaveValueInfo = nullptr, *aHelpContents = nullptr, *aHelpIndex = nullptr, *aMenuHelp = nullptr,
            *aValueSelectAll = nullptr, *aSecurityInformationGrantAll = nullptr, *aKeyJumpToHKCRCLSID = nullptr,
            *aValueJumpToHKCRCLSID = nullptr, *aChangeLogRedoSave = nullptr, *aChangeLogRedoApply = nullptr,
            *aChangeLogUndoSave = nullptr, *aChangeLogUndoApply = nullptr, *aFileLogonUser = nullptr,
            *aFileOpenHive = nullptr, *aValueCreateRule = nullptr, *aKeyCreateRule = nullptr,
            *aShowHistory = nullptr, *aValueModifyBinary = nullptr;
    // Closes the registry file branch of the selected node (its pop-up only).
    QAction *aFileCloseReg = nullptr;
    // Hive files opened for recovery: open, export and find in the branch.
    QAction *aFileRecoverHive = nullptr, *aFileRecoverExport = nullptr, *aFileRecoverFind = nullptr;

    // Windows this one shows; set by the start-up code, may stay empty.
    QPointer<QWidget> formHistory;
    QPointer<QWidget> formSearch;
    QPointer<QWidget> formBookmarks;
    QPointer<TformImportProgress> formImportProgress;

private:
    QTreeWidgetItem *m_MyComputer = nullptr;
    QStringList m_RootKeyList;
    TRegByteArray m_HexBytes;
    std::int64_t m_HexViewSize = 0;
    QList<QAction *> m_EditMirror;
    // Actions whose feature is built; every other one stays disabled.
    QSet<QAction *> m_Built;
    QAction *m_EditPermanentFirst = nullptr;
    QTreeWidgetItem *m_IconSelected = nullptr;
    bool m_Shown = false;
    bool m_PlacementsRestored = false;
    bool m_IsWow64 = false;
    bool m_FillingList = false;
    bool m_OpeningFile = false;
    QAction *m_FileCloseSeparator = nullptr;
    bool m_Busy = false;
    std::uint64_t m_ProgressDone = 0;
    TListedKey m_Listed;
    int m_DragsStarted = 0;
    // Counts runs of the key selection handling; a click that moved the
    // current node needs no second run.
    std::uint64_t m_KeyChanges = 0;
    std::uint64_t m_KeyChangesAtPress = 0;
    std::unique_ptr<vt::history::TRegistryChangeHistory> m_History;
    QString m_HistoryError;
    bool m_BartPE = false;
    bool m_BookmarksWritable = true;
    std::unique_ptr<TRegMonitorThread> m_Monitor;
    QPointer<TformHelp> formHelp; // made when first asked for; a child of this window
    std::unique_ptr<vt::knowledge::TRegistryInfo> m_RegistryInfo;
    QString m_InfoDBProblem;
    bool m_ShowingInfo = false; // memos filled by the program, not typed into
};

} // namespace vt::app
