#pragma once
// The search window: options, the walk on a worker thread with its rows
// handed over in batches, the result list with export, delete and the jump
// to the main window, and the replace page.

#include "platform/win32.h"
#include "search/SearchEngine.h"

#include <QElapsedTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class QThread;
class QTimeEdit;
class QTimer;
class QTreeView;

namespace vt::search {

class TSearchResultsModel;

class TformSearch : public QWidget {
    Q_OBJECT
public:
    explicit TformSearch(QWidget *parent = nullptr);
    ~TformSearch() override;

    // Stores where a search below one key starts (path as the main window
    // gives it: leading backslash, none at the end, empty for a root), shows
    // the page "Search criteria" and brings the window to the front.
    void SetSearchStart(HKEY root, const std::string &keyPath, uint8_t viewMode);

    // Set by the main window: jump to a key (the Key column) and, when the
    // value name is not empty, select that value.
    std::function<void(const QString &key, const QString &valueName)> OnGoToResult;
    // Set by the main window: its own search animation on or off.
    std::function<void(bool running)> OnSearchRunning;
    // Whether HKLM\SOFTWARE is walked once per view in a whole-registry search.
    bool IsWow64 = false;

    bool Searching() const { return m_searching; }
    TSearchResultsModel *Results() const { return m_model; }
    QString StatusText() const;

    // Actions (also reachable through the result list's context menu).
    void aSearchStartExecute();
    void bnStopClick();
    void aSearchResultsExportAllExecute();
    void aSearchResultsExportSelectedExecute();
    void aSearchResultsDeleteSelectedExecute();
    void aReplaceExecute();

    // Controls, named as the design names them.
    QTabWidget *pcSearch = nullptr;
    QWidget *tsSearchCriteria = nullptr, *tsByDate = nullptr, *tsResults = nullptr, *tsReplace = nullptr;
    QLabel *lblSearchStyle = nullptr, *lblSearchTerm = nullptr, *lblFocus = nullptr;
    QComboBox *cbSearchStyle = nullptr;
    QLineEdit *editSearchTerm = nullptr;
    QCheckBox *cbHex = nullptr;
    QGroupBox *gbFocus = nullptr, *gbDataTypes = nullptr, *gbRange = nullptr;
    QCheckBox *cbFocusKeys = nullptr, *cbFocusValues = nullptr, *cbFocusData = nullptr;
    QCheckBox *cbDataTypeStrings = nullptr, *cbDataTypeNumerics = nullptr, *cbDataTypeBinary = nullptr;
    QRadioButton *rbRangeKey = nullptr, *rbRangeComplete = nullptr;
    QCheckBox *cbIgnoreCase = nullptr, *cbHighSpeed = nullptr;
    QLabel *lblByDate = nullptr, *lblAnd = nullptr, *lblDateNote = nullptr;
    QComboBox *cbByDateMode = nullptr;
    QDateEdit *dtDate1 = nullptr, *dtDate2 = nullptr;
    QTimeEdit *dtTime1 = nullptr, *dtTime2 = nullptr;
    QTreeView *lvResults = nullptr;
    QMenu *pmResults = nullptr;
    QLabel *lblReplaceNote = nullptr, *lblReplaceSource = nullptr, *lblReplaceNew = nullptr;
    QLineEdit *editReplaceSource = nullptr, *editReplaceNew = nullptr;
    QCheckBox *cbReplaceIgnoreCase = nullptr, *cbReplaceOverwriteValues = nullptr, *cbReplaceOverwriteKeys = nullptr;
    QPushButton *bnReplace = nullptr;
    QPushButton *bnSearch = nullptr, *bnStop = nullptr, *bnCancel = nullptr;
    QProgressBar *animSearch = nullptr;
    QStatusBar *sbSearch = nullptr;

    QAction *aSearchStart = nullptr, *aReplace = nullptr, *aSearchResultsSelectAll = nullptr,
            *aSearchResultsDeSelectAll = nullptr, *aSearchResultsSelectKeys = nullptr,
            *aSearchResultsDeSelectKeys = nullptr, *aSearchResultsSelectValues = nullptr,
            *aSearchResultsDeSelectValues = nullptr, *aSearchResultsSelectData = nullptr,
            *aSearchResultsDeSelectData = nullptr, *aSearchResultsExportKeyContents = nullptr,
            *aSearchResultsExportAll = nullptr, *aSearchResultsExportSelected = nullptr,
            *aSearchResultsDeleteSelected = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void createActions();
    void FormShow();
    void cbByDateModeChange();
    void updateRangeLabel();
    void updateMenuStates();
    void lvResultsDblClick(const QModelIndex &index);
    void pumpResults();
    void searchFinished();
    void exportResults(bool checkedOnly);
    std::vector<std::string> exportHeader() const;
    void setStatus(const QString &text);
    TSearchOptions currentOptions(const std::string &pattern) const;

    TSearchResultsModel *m_model = nullptr;
    HKEY m_startRoot = HKEY_LOCAL_MACHINE;
    std::string m_startPath;
    uint8_t m_startViewMode = 0;

    // The walk on its worker and what it hands over.
    QThread *m_worker = nullptr;
    std::shared_ptr<TSearchWalk> m_walk; // the running or last search, for its undecided count
    QTimer *m_pump = nullptr;
    std::atomic<bool> m_stopRequested{false};
    bool m_searching = false;
    std::mutex m_mutex;
    std::vector<TSearchListItem> m_pending;
    std::string m_walkStatus; // full name of the key being searched
    bool m_walkStatusChanged = false;
    qint64 m_startTime = 0;
    QElapsedTimer m_sinceMerge;
    bool m_highSpeed = false;
};

} // namespace vt::search
