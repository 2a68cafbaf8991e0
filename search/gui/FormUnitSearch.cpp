#include "FormUnitSearch.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "i18n/zoMessages.h"
#include "regfile/RegFileWriter.h"
#include "regfile/gui/RegFileActions.h"
#include "search/SearchResults.h"
#include "search/gui/SearchResultsModel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace vt::search {

namespace {

using vt::i18n::MessageText;

// The message table's texts carry one %s or %d each.
QString formatMessage(const char *key, const QString &argument)
{
    QString text = MessageText(key);
    qsizetype p = text.indexOf(QLatin1String("%s"));
    if (p < 0)
        p = text.indexOf(QLatin1String("%d"));
    if (p >= 0)
        text.replace(p, 2, argument);
    return text;
}

QString withoutAmpersands(QString text)
{
    return text.remove(QLatin1Char('&'));
}

std::string toStd(const QString &s)
{
    return s.toUtf8().toStdString();
}

// Days since 30 December 1899 with the time of day as the fraction, the form
// key dates are compared in.
TDateTime toDateTime(const QDate &date, const QTime &time)
{
    return double(QDate(1899, 12, 30).daysTo(date)) + time.msecsSinceStartOfDay() / 86400000.0;
}

template <class T> T *named(T *object, const char *name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

} // namespace

TformSearch::TformSearch(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("formSearch"));
    setWindowTitle(tr("Search"));
    // Its own task-bar button and no owner window.
    setWindowFlag(Qt::Window, true);
    m_model = new TSearchResultsModel(this);
    createControls();
    createActions();
    m_pump = new QTimer(this);
    m_pump->setInterval(40);
    connect(m_pump, &QTimer::timeout, this, &TformSearch::pumpResults);
    updateRangeLabel();
    cbByDateModeChange();
}

TformSearch::~TformSearch()
{
    m_stopRequested = true;
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void TformSearch::createControls()
{
    auto *top = new QVBoxLayout(this);
    pcSearch = named(new QTabWidget(this), "pcSearch");
    top->addWidget(pcSearch);

    // ---- Search criteria
    tsSearchCriteria = named(new QWidget, "tsSearchCriteria");
    auto *grid = new QGridLayout(tsSearchCriteria);
    lblSearchStyle = named(new QLabel(tr("Search &style:")), "lblSearchStyle");
    cbSearchStyle = named(new QComboBox, "cbSearchStyle");
    cbSearchStyle->addItems({tr("Simple substring search"), tr("Wildcard search (*, ?)"),
                             tr("Boolean search (AND, OR, NOT)"), tr("Regular expressions")});
    lblSearchStyle->setBuddy(cbSearchStyle);
    lblSearchTerm = named(new QLabel(tr("Search &for:")), "lblSearchTerm");
    editSearchTerm = named(new QLineEdit, "editSearchTerm");
    lblSearchTerm->setBuddy(editSearchTerm);
    cbHex = named(new QCheckBox(tr("Hex")), "cbHex");
    grid->addWidget(lblSearchStyle, 0, 0);
    grid->addWidget(cbSearchStyle, 0, 1, 1, 2);
    grid->addWidget(lblSearchTerm, 1, 0);
    grid->addWidget(editSearchTerm, 1, 1);
    grid->addWidget(cbHex, 1, 2);

    gbFocus = named(new QGroupBox(tr("Search in")), "gbFocus");
    auto *focus = new QVBoxLayout(gbFocus);
    cbFocusKeys = named(new QCheckBox(tr("&Keys")), "cbFocusKeys");
    cbFocusValues = named(new QCheckBox(tr("&Values")), "cbFocusValues");
    cbFocusData = named(new QCheckBox(tr("&Data")), "cbFocusData");
    for (QCheckBox *cb : {cbFocusKeys, cbFocusValues, cbFocusData}) {
        cb->setChecked(true);
        focus->addWidget(cb);
    }
    gbDataTypes = named(new QGroupBox(tr("Data types")), "gbDataTypes");
    auto *types = new QVBoxLayout(gbDataTypes);
    cbDataTypeStrings = named(new QCheckBox(tr("&Strings")), "cbDataTypeStrings");
    cbDataTypeNumerics = named(new QCheckBox(tr("&Numerics")), "cbDataTypeNumerics");
    cbDataTypeBinary = named(new QCheckBox(tr("&Binary data")), "cbDataTypeBinary");
    cbDataTypeStrings->setChecked(true);
    cbDataTypeNumerics->setChecked(true);
    for (QCheckBox *cb : {cbDataTypeStrings, cbDataTypeNumerics, cbDataTypeBinary})
        types->addWidget(cb);
    gbRange = named(new QGroupBox(tr("Range")), "gbRange");
    auto *range = new QVBoxLayout(gbRange);
    rbRangeKey = named(new QRadioButton(tr("This key &only")), "rbRangeKey");
    rbRangeComplete = named(new QRadioButton(tr("&Whole registry")), "rbRangeComplete");
    rbRangeKey->setChecked(true);
    range->addWidget(rbRangeKey);
    range->addWidget(rbRangeComplete);
    auto *groups = new QHBoxLayout;
    groups->addWidget(gbFocus);
    groups->addWidget(gbDataTypes);
    groups->addWidget(gbRange);
    grid->addLayout(groups, 2, 0, 1, 3);
    cbIgnoreCase = named(new QCheckBox(tr("&Ignore case")), "cbIgnoreCase");
    cbHighSpeed = named(new QCheckBox(tr("High speed search")), "cbHighSpeed");
    grid->addWidget(cbIgnoreCase, 3, 0, 1, 3);
    grid->addWidget(cbHighSpeed, 4, 0, 1, 3);
    lblFocus = named(new QLabel, "lblFocus");
    grid->addWidget(lblFocus, 5, 0, 1, 3);
    grid->setRowStretch(6, 1);
    pcSearch->addTab(tsSearchCriteria, tr("Search criteria"));

    // ---- ... by date
    tsByDate = named(new QWidget, "tsByDate");
    auto *dates = new QGridLayout(tsByDate);
    lblByDate = named(new QLabel(tr("Search &for keys that are")), "lblByDate");
    cbByDateMode = named(new QComboBox, "cbByDateMode");
    cbByDateMode->addItems({tr("of any date."), tr("newer than:"), tr("older than:"), tr("between:"), tr("outside of:")});
    lblByDate->setBuddy(cbByDateMode);
    dtDate1 = named(new QDateEdit(QDate::currentDate()), "dtDate1");
    dtTime1 = named(new QTimeEdit(QTime(0, 0)), "dtTime1");
    lblAnd = named(new QLabel(tr("and:")), "lblAnd");
    dtDate2 = named(new QDateEdit(QDate::currentDate()), "dtDate2");
    dtTime2 = named(new QTimeEdit(QTime(0, 0)), "dtTime2");
    for (QDateEdit *d : {dtDate1, dtDate2})
        d->setCalendarPopup(true);
    for (QTimeEdit *t : {dtTime1, dtTime2})
        t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    lblDateNote = named(new QLabel(tr("This search criterion is only available on Windows NT, Windows 2000 and Windows XP "
                                      "systems. Windows 9x and Windows ME do not support registry key dates.")),
                        "lblDateNote");
    lblDateNote->setWordWrap(true);
    dates->addWidget(lblByDate, 0, 0);
    dates->addWidget(cbByDateMode, 0, 1);
    dates->addWidget(dtDate1, 1, 0);
    dates->addWidget(dtTime1, 1, 1);
    dates->addWidget(lblAnd, 2, 0, 1, 2);
    dates->addWidget(dtDate2, 3, 0);
    dates->addWidget(dtTime2, 3, 1);
    dates->addWidget(lblDateNote, 4, 0, 1, 2);
    dates->setRowStretch(5, 1);
    pcSearch->addTab(tsByDate, tr("... by date"));

    // ---- Results
    tsResults = named(new QWidget, "tsResults");
    auto *results = new QVBoxLayout(tsResults);
    lvResults = named(new QTreeView, "lvResults");
    lvResults->setRootIsDecorated(false);
    lvResults->setUniformRowHeights(true); // 100,000 rows lay out without measuring each
    lvResults->setModel(m_model);
    lvResults->setContextMenuPolicy(Qt::CustomContextMenu);
    lvResults->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The end of a key path tells results apart; the middle gives way.
    lvResults->setTextElideMode(Qt::ElideMiddle);
    lvResults->setColumnWidth(0, 300);
    lvResults->setColumnWidth(1, 100);
    lvResults->setColumnWidth(2, 100);
    results->addWidget(lvResults);
    pcSearch->addTab(tsResults, tr("Results"));

    // ---- Replace
    tsReplace = named(new QWidget, "tsReplace");
    auto *replace = new QGridLayout(tsReplace);
    lblReplaceNote = named(new QLabel(tr("Please select the entries that should be included in the replace on the "
                                         "Results tab. Replace will only work for key and value names and string data.")),
                           "lblReplaceNote");
    lblReplaceNote->setWordWrap(true);
    lblReplaceSource = named(new QLabel(tr("Replace this:")), "lblReplaceSource");
    editReplaceSource = named(new QLineEdit, "editReplaceSource");
    lblReplaceNew = named(new QLabel(tr("With this Text:")), "lblReplaceNew");
    editReplaceNew = named(new QLineEdit, "editReplaceNew");
    cbReplaceIgnoreCase = named(new QCheckBox(tr("&Ignore case")), "cbReplaceIgnoreCase");
    cbReplaceOverwriteValues = named(new QCheckBox(tr("Overwrite existing values")), "cbReplaceOverwriteValues");
    cbReplaceOverwriteKeys = named(new QCheckBox(tr("Overwrite existing keys")), "cbReplaceOverwriteKeys");
    bnReplace = named(new QPushButton(tr("&Replace")), "bnReplace");
    replace->addWidget(lblReplaceNote, 0, 0, 1, 2);
    replace->addWidget(lblReplaceSource, 1, 0);
    replace->addWidget(editReplaceSource, 1, 1);
    replace->addWidget(lblReplaceNew, 2, 0);
    replace->addWidget(editReplaceNew, 2, 1);
    replace->addWidget(cbReplaceIgnoreCase, 3, 0, 1, 2);
    replace->addWidget(cbReplaceOverwriteValues, 4, 0, 1, 2);
    replace->addWidget(cbReplaceOverwriteKeys, 5, 0, 1, 2);
    replace->addWidget(bnReplace, 6, 1, Qt::AlignRight);
    replace->setRowStretch(7, 1);
    pcSearch->addTab(tsReplace, tr("Replace"));

    // ---- Buttons and status
    auto *buttons = new QHBoxLayout;
    animSearch = named(new QProgressBar, "animSearch");
    animSearch->setRange(0, 0); // a busy indicator
    animSearch->setMaximumWidth(120);
    animSearch->setVisible(false);
    bnSearch = named(new QPushButton(tr("Search")), "bnSearch");
    bnSearch->setDefault(true);
    bnStop = named(new QPushButton(tr("Stop")), "bnStop");
    bnStop->setEnabled(false);
    bnCancel = named(new QPushButton(tr("Cancel")), "bnCancel");
    buttons->addWidget(animSearch);
    buttons->addStretch(1);
    buttons->addWidget(bnSearch);
    buttons->addWidget(bnStop);
    buttons->addWidget(bnCancel);
    top->addLayout(buttons);
    sbSearch = named(new QStatusBar, "sbSearch");
    sbSearch->setSizeGripEnabled(false);
    top->addWidget(sbSearch);
    resize(640, 480);
}

void TformSearch::createActions()
{
    auto action = [this](const char *name, const QString &caption, const QKeySequence &shortcut = {}) {
        auto *a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) {
            a->setShortcut(shortcut);
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        }
        return a;
    };
    aSearchStart = action("aSearchStart", tr("Search"));
    aReplace = action("aReplace", tr("&Replace"));
    aSearchResultsSelectAll = action("aSearchResultsSelectAll", tr("&Select all"), QKeySequence(Qt::CTRL | Qt::Key_A));
    aSearchResultsDeSelectAll = action("aSearchResultsDeSelectAll", tr("&Deselect all"));
    aSearchResultsSelectKeys = action("aSearchResultsSelectKeys", tr("Select key results"));
    aSearchResultsDeSelectKeys = action("aSearchResultsDeSelectKeys", tr("Deselect key results"));
    aSearchResultsSelectValues = action("aSearchResultsSelectValues", tr("Select value results"));
    aSearchResultsDeSelectValues = action("aSearchResultsDeSelectValues", tr("Deselect value results"));
    aSearchResultsSelectData = action("aSearchResultsSelectData", tr("Select data results"));
    aSearchResultsDeSelectData = action("aSearchResultsDeSelectData", tr("Deselect data results"));
    aSearchResultsExportKeyContents =
        action("aSearchResultsExportKeyContents", tr("Option: Export contents of key results as well"));
    aSearchResultsExportKeyContents->setCheckable(true);
    aSearchResultsExportAll = action("aSearchResultsExportAll", tr("&Export all..."), QKeySequence(Qt::CTRL | Qt::Key_S));
    aSearchResultsExportSelected = action("aSearchResultsExportSelected", tr("Export selected &only..."));
    aSearchResultsDeleteSelected = action("aSearchResultsDeleteSelected", tr("Delete selected"));

    pmResults = named(new QMenu(this), "pmResults");
    pmResults->addActions({aSearchResultsSelectAll, aSearchResultsDeSelectAll});
    pmResults->addSeparator();
    pmResults->addActions({aSearchResultsSelectKeys, aSearchResultsDeSelectKeys, aSearchResultsSelectValues,
                           aSearchResultsDeSelectValues, aSearchResultsSelectData, aSearchResultsDeSelectData});
    pmResults->addSeparator();
    pmResults->addActions({aSearchResultsExportKeyContents, aSearchResultsExportAll, aSearchResultsExportSelected});
    pmResults->addSeparator();
    pmResults->addAction(aSearchResultsDeleteSelected);
    // The shortcuts work while the list has the focus.
    lvResults->addActions(pmResults->actions());

    constexpr unsigned keys = (1u << rkKey) | (1u << rkKey32) | (1u << rkKey64);
    constexpr unsigned values = 1u << rkValueName;
    constexpr unsigned data = (1u << rkData) | (1u << rkStringData);
    const struct {
        QAction *action;
        unsigned mask;
        bool checked;
    } checks[] = {{aSearchResultsSelectAll, ~0u, true},    {aSearchResultsDeSelectAll, ~0u, false},
                  {aSearchResultsSelectKeys, keys, true},  {aSearchResultsDeSelectKeys, keys, false},
                  {aSearchResultsSelectValues, values, true}, {aSearchResultsDeSelectValues, values, false},
                  {aSearchResultsSelectData, data, true},  {aSearchResultsDeSelectData, data, false}};
    for (const auto &c : checks)
        connect(c.action, &QAction::triggered, this, [this, c] { m_model->setChecked(c.mask, c.checked); });
    connect(aSearchResultsExportAll, &QAction::triggered, this, &TformSearch::aSearchResultsExportAllExecute);
    connect(aSearchResultsExportSelected, &QAction::triggered, this,
            &TformSearch::aSearchResultsExportSelectedExecute);
    connect(aSearchResultsDeleteSelected, &QAction::triggered, this,
            &TformSearch::aSearchResultsDeleteSelectedExecute);
    connect(aSearchStart, &QAction::triggered, this, &TformSearch::aSearchStartExecute);
    connect(aReplace, &QAction::triggered, this, &TformSearch::aReplaceExecute);

    connect(bnSearch, &QPushButton::clicked, aSearchStart, &QAction::trigger);
    // Not a dialog, so the default button does not take Return by itself.
    connect(editSearchTerm, &QLineEdit::returnPressed, aSearchStart, &QAction::trigger);
    connect(bnStop, &QPushButton::clicked, this, &TformSearch::bnStopClick);
    connect(bnCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(bnReplace, &QPushButton::clicked, aReplace, &QAction::trigger);
    connect(rbRangeKey, &QRadioButton::clicked, this, &TformSearch::updateRangeLabel);
    connect(rbRangeComplete, &QRadioButton::clicked, this, &TformSearch::updateRangeLabel);
    connect(cbByDateMode, &QComboBox::currentIndexChanged, this, &TformSearch::cbByDateModeChange);
    // Ignore case is the engine's business in the regular-expression style.
    connect(cbSearchStyle, &QComboBox::currentIndexChanged, this,
            [this](int index) { cbIgnoreCase->setEnabled(index != csRegExpr); });
    connect(lvResults, &QTreeView::doubleClicked, this, &TformSearch::lvResultsDblClick);
    connect(lvResults, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        updateMenuStates();
        pmResults->popup(lvResults->viewport()->mapToGlobal(pos));
    });
    connect(pmResults, &QMenu::aboutToShow, this, &TformSearch::updateMenuStates);
}

// ---------------------------------------------------------------------------
// Showing and the option controls

void TformSearch::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TformSearch::FormShow()
{
    pcSearch->setTabVisible(pcSearch->indexOf(tsReplace), false);
    if (cbSearchStyle->currentIndex() < 0)
        cbSearchStyle->setCurrentIndex(0);
    if (cbByDateMode->currentIndex() < 0)
        cbByDateMode->setCurrentIndex(0);
    // Date pickers carry dates, time pickers times: each pair is one moment.
    dtTime1->setDate(QDate(1899, 12, 30));
    dtTime2->setDate(QDate(1899, 12, 30));
    updateMenuStates();
}

void TformSearch::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TformSearch::SetSearchStart(HKEY root, const std::string &keyPath, uint8_t viewMode)
{
    m_startRoot = root;
    m_startPath = keyPath;
    m_startViewMode = viewMode;
    updateRangeLabel();
    pcSearch->setCurrentWidget(tsSearchCriteria);
    show();
    raise();
    activateWindow();
}

void TformSearch::updateRangeLabel()
{
    if (rbRangeComplete->isChecked())
        lblFocus->setText(MessageText("DialogSearchFocusAll"));
    else
        lblFocus->setText(formatMessage("DialogSearchFocusLimited",
                                        QString::fromStdString(RootKeyToName(m_startRoot) + m_startPath)));
}

void TformSearch::cbByDateModeChange()
{
    const int mode = cbByDateMode->currentIndex();
    const bool first = mode > dmAnyDate, second = mode == dmBetween || mode == dmOutside;
    dtDate1->setVisible(first);
    dtTime1->setVisible(first);
    lblAnd->setVisible(second);
    dtDate2->setVisible(second);
    dtTime2->setVisible(second);
}

void TformSearch::updateMenuStates()
{
    const bool rows = m_model->rowCount() > 0;
    aSearchResultsExportAll->setEnabled(rows);
    aSearchResultsExportSelected->setEnabled(rows);
    aSearchResultsDeleteSelected->setEnabled(m_model->anyChecked());
}

QString TformSearch::StatusText() const
{
    return sbSearch->currentMessage();
}

void TformSearch::setStatus(const QString &text)
{
    sbSearch->showMessage(text);
}

TSearchOptions TformSearch::currentOptions(const std::string &pattern) const
{
    TSearchOptions o;
    o.Pattern = pattern;
    o.Style = TCompareStyle(std::max(0, cbSearchStyle->currentIndex()));
    o.IgnoreCase = cbIgnoreCase->isChecked();
    o.Keys = cbFocusKeys->isChecked();
    o.Values = cbFocusValues->isChecked();
    o.Data = cbFocusData->isChecked();
    o.TypeStrings = cbDataTypeStrings->isChecked();
    o.TypeNumerics = cbDataTypeNumerics->isChecked();
    o.TypeBinary = cbDataTypeBinary->isChecked();
    o.HighSpeed = cbHighSpeed->isChecked();
    o.DateMode = uint8_t(std::max(0, cbByDateMode->currentIndex()));
    o.Date1 = toDateTime(dtDate1->date(), dtTime1->time());
    o.Date2 = toDateTime(dtDate2->date(), dtTime2->time());
    return o;
}

// ---------------------------------------------------------------------------
// Searching

void TformSearch::aSearchStartExecute()
{
    if (m_searching)
        return;
    const QString term = editSearchTerm->text();
    if (cbHex->isChecked() && !ValidHexTerm(toStd(term))) {
        vt::i18n::ShowMessageDialog(tr("Please enter a valid hex term first!"), vt::i18n::TMsgDlgType::Error,
                                    vt::i18n::mbOK);
        editSearchTerm->setFocus();
        return;
    }
    const std::string pattern = cbHex->isChecked() ? HexTermToText(toStd(term)) : toStd(term);
    const TSearchOptions options = currentOptions(pattern);
    std::shared_ptr<TSearchWalk> walk;
    try {
        walk = std::make_shared<TSearchWalk>(options);
    } catch (const ERegExpr &e) {
        // Said before anything is walked, with PCRE2's own words and position.
        vt::i18n::ShowMessageDialog(tr("The regular expression cannot be used: %1.").arg(QString::fromUtf8(e.what())),
                                    vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        editSearchTerm->setFocus();
        return;
    }

    m_searching = true;
    m_highSpeed = options.HighSpeed;
    animSearch->setVisible(true);
    if (OnSearchRunning)
        OnSearchRunning(true);
    if (m_highSpeed)
        setCursor(Qt::BusyCursor);
    m_startTime = QDateTime::currentMSecsSinceEpoch();
    m_stopRequested = false;
    m_model->clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.clear();
        m_walkStatus.clear();
        m_walkStatusChanged = false;
    }
    lvResults->setColumnHidden(2, !options.Data);
    lvResults->setColumnHidden(1, !options.Values && !options.Data);
    if (options.Data)
        lvResults->setColumnWidth(2, 100);
    if (options.Values || options.Data)
        lvResults->setColumnWidth(1, 100);
    bnStop->setEnabled(true);
    pcSearch->setCurrentWidget(tsResults);
    if (m_highSpeed)
        setStatus(MessageText("DialogSearchHighSpeedStatus"));

    m_walk = walk;
    walk->StopFlag = &m_stopRequested;
    walk->IsWow64 = IsWow64;
    walk->OnResult = [this](TSearchListItem &&row) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(std::move(row));
    };
    walk->OnStatus = [this](HKEY root, const std::string &path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_walkStatus.assign(RootKeyToName(root)).append(path);
        m_walkStatusChanged = true;
    };
    const bool whole = rbRangeComplete->isChecked();
    const HKEY root = m_startRoot;
    const std::string path = m_startPath;
    const uint8_t view = m_startViewMode;
    m_worker = QThread::create([walk, whole, root, path, view] {
        try {
            if (whole)
                walk->SearchRegistry();
            else
                walk->SearchBranch(root, path, view);
        } catch (...) {
            // A failure of the walk itself ends it; the rows so far stay.
        }
    });
    connect(m_worker, &QThread::finished, this, &TformSearch::searchFinished, Qt::QueuedConnection);
    m_sinceMerge.start();
    m_pump->start();
    m_worker->start();
}

void TformSearch::bnStopClick()
{
    m_stopRequested = true;
}

void TformSearch::pumpResults()
{
    std::vector<TSearchListItem> batch;
    QString status;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Each merge moves the rows listed so far, so a long list takes new
        // rows in batches of at least a quarter of its size (or after a
        // quarter of a second): the work per row stays flat however many
        // arrive, and the list never waits long for them.
        const size_t listed = size_t(m_model->rowCount());
        if (!m_searching || m_pending.size() >= listed / 4 || m_sinceMerge.elapsed() >= 250) {
            batch.swap(m_pending);
            m_sinceMerge.restart();
        }
        if (m_walkStatusChanged)
            status = QString::fromStdString(m_walkStatus);
        m_walkStatusChanged = false;
    }
    m_model->addRows(std::move(batch));
    if (!status.isEmpty() && !m_highSpeed)
        setStatus(formatMessage("DialogSearchStatus", status));
}

void TformSearch::searchFinished()
{
    if (m_worker) {
        m_worker->wait();
        m_worker->deleteLater();
        m_worker = nullptr;
    }
    m_pump->stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_walkStatusChanged = false;
    }
    m_searching = false; // the last rows go in whatever their number
    pumpResults();
    const qint64 elapsed = (QDateTime::currentMSecsSinceEpoch() - m_startTime) / 1000;
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(elapsed / 3600, 2, 10, QLatin1Char('0'))
                             .arg(elapsed / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(elapsed % 60, 2, 10, QLatin1Char('0'));
    const QString outcome = m_stopRequested ? MessageText("DialogSearchStopped")
                                            : formatMessage("DialogSearchFinished", QString::number(m_model->rowCount()));
    QString status = outcome + QStringLiteral(" (") + time + QStringLiteral(")");
    // Texts the regular expression could not decide may hold matches.
    if (m_walk && m_walk->Undecided())
        status += QLatin1Char(' ') + tr("Failed: the regular expression could not be decided for %1 names or data "
                                        "(%2); they are not listed.")
                                         .arg(m_walk->Undecided())
                                         .arg(QString::fromStdString(m_walk->UndecidedReason()));
    m_walk.reset();
    setStatus(status);
    bnStop->setEnabled(false);
    unsetCursor();
    animSearch->setVisible(false);
    if (OnSearchRunning)
        OnSearchRunning(false);
    editReplaceSource->setText(editSearchTerm->text());
    editReplaceNew->clear();
    pcSearch->setTabVisible(pcSearch->indexOf(tsReplace), m_model->rowCount() > 0);
    m_searching = false;
}

// ---------------------------------------------------------------------------
// The result list

void TformSearch::lvResultsDblClick(const QModelIndex &index)
{
    if (!index.isValid() || !OnGoToResult)
        return;
    const TSearchListItem &row = m_model->rows()[size_t(index.row())];
    OnGoToResult(QString::fromStdString(row.Caption), QString::fromStdString(row.ValueName));
}

std::vector<std::string> TformSearch::exportHeader() const
{
    const QLocale locale;
    auto moment = [&](const QDate &d, const QTime &t) -> QString {
        return locale.toString(d, QLocale::ShortFormat) + QLatin1Char(' ') + locale.toString(t, QLocale::LongFormat);
    };
    std::vector<QString> lines;
    const QDateTime now = QDateTime::currentDateTime();
    lines.push_back(tr("Search results from ") + moment(now.date(), now.time()));
    lines.push_back(withoutAmpersands(lblSearchStyle->text()) + QLatin1Char(' ') + cbSearchStyle->currentText());
    lines.push_back(withoutAmpersands(lblSearchTerm->text()) + QLatin1Char(' ') + editSearchTerm->text());
    QString date = withoutAmpersands(lblByDate->text()) + QLatin1Char(' ') + cbByDateMode->currentText() +
                   QLatin1Char(' ');
    const int mode = cbByDateMode->currentIndex();
    if (mode > dmAnyDate)
        date += moment(dtDate1->date(), dtTime1->time());
    if (mode == dmBetween || mode == dmOutside)
        date += QLatin1Char(' ') + lblAnd->text() + QLatin1Char(' ') + moment(dtDate2->date(), dtTime2->time());
    lines.push_back(date);
    auto checked = [](std::initializer_list<QCheckBox *> boxes) {
        QStringList names;
        for (QCheckBox *b : boxes)
            if (b->isChecked())
                names << withoutAmpersands(b->text());
        return names.join(QStringLiteral(", "));
    };
    lines.push_back(gbFocus->title() + QStringLiteral(": ") + checked({cbFocusKeys, cbFocusValues, cbFocusData}));
    lines.push_back(gbDataTypes->title() + QStringLiteral(": ") +
                    checked({cbDataTypeStrings, cbDataTypeNumerics, cbDataTypeBinary}));
    lines.push_back(gbRange->title() + QStringLiteral(": ") +
                    (rbRangeComplete->isChecked() ? withoutAmpersands(rbRangeComplete->text())
                                                  : QString::fromStdString(RootKeyToName(m_startRoot) + m_startPath)));
    if (cbIgnoreCase->isChecked())
        lines.push_back(withoutAmpersands(cbIgnoreCase->text()));
    std::vector<std::string> out;
    for (const QString &l : lines)
        out.push_back(toStd(l));
    return out;
}

void TformSearch::exportResults(bool checkedOnly)
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("sdExportResults"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Win 9x/NT4 registry files (v4) (*.reg)")});
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    const std::optional<vt::regfile::TFileChoice> choice = vt::regfile::RunFileDialog(dialog);
    if (!choice)
        return;
    std::vector<const TSearchListItem *> rows;
    for (const TSearchListItem &row : m_model->rows())
        if (!checkedOnly || row.Checked)
            rows.push_back(&row);
    try {
        TRegFileOutput output(toStd(choice->fileName));
        ExportSearchResults(rows, exportHeader(), aSearchResultsExportKeyContents->isChecked(), output);
        output.commit();
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformSearch::aSearchResultsExportAllExecute()
{
    exportResults(false);
}

void TformSearch::aSearchResultsExportSelectedExecute()
{
    exportResults(true);
}

void TformSearch::aSearchResultsDeleteSelectedExecute()
{
    if (m_searching || !m_model->anyChecked())
        return;
    if (vt::i18n::ShowMessageDialog(tr("Are you sure you want to delete the selected search results?"),
                                    vt::i18n::TMsgDlgType::Confirmation, vt::i18n::mbYesNo) != vt::i18n::mrYes)
        return;
    const TRowsOutcome outcome = DeleteSearchResults(m_model->rows());
    m_model->removeRows(outcome.Removed);
    if (outcome.Failed)
        setStatus(formatMessage("DialogSearchFailedStatus", QString::number(outcome.Failed)));
}

void TformSearch::aReplaceExecute()
{
    if (m_searching)
        return;
    setCursor(Qt::BusyCursor);
    animSearch->setVisible(true);
    TReplaceOptions options;
    options.Source = toStd(editReplaceSource->text());
    options.NewText = toStd(editReplaceNew->text());
    options.IgnoreCase = cbReplaceIgnoreCase->isChecked();
    options.OverwriteValues = cbReplaceOverwriteValues->isChecked();
    options.OverwriteKeys = cbReplaceOverwriteKeys->isChecked();
    const TRowsOutcome outcome = ReplaceInSearchResults(m_model->rows(), options);
    m_model->removeRows(outcome.Removed);
    m_model->rowsChanged();
    QString status = formatMessage("DialogSearchReplaceStatus", QString::number(outcome.Replacements));
    if (outcome.Failed)
        status += QLatin1Char(' ') + formatMessage("DialogSearchFailedStatus", QString::number(outcome.Failed));
    setStatus(status);
    animSearch->setVisible(false);
    unsetCursor();
    pcSearch->setCurrentWidget(tsResults);
}

} // namespace vt::search
