#pragma once
// "Change History": every record of the history store in a virtual list,
// with undo, redo, saving as registry files and deleting of the selected
// records. Created once at start-up; it works on the main window's store and
// keeps no data of its own.

#include <QAbstractTableModel>
#include <QMainWindow>

#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QTreeView;

namespace vt::history
{

class TRegistryChangeHistory;
class TRegistryChange;

// Row i is record i of the store's collection in its current order; the row
// count changes only when the window reloads.
class THistoryListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit THistoryListModel(QObject *parent = nullptr);
    void setHistory(TRegistryChangeHistory *history);
    void setRowCount(int rows);
    void repaint();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    TRegistryChangeHistory *m_history = nullptr;
    int m_rows = 0;
};

class TformHistory : public QMainWindow
{
    Q_OBJECT
public:
    explicit TformHistory(QWidget *parent = nullptr);

    // The main window hands over its store, or the reason it has none.
    void SetHistory(TRegistryChangeHistory *history, const QString &unavailableReason = QString());
    TRegistryChangeHistory *History() const { return m_history; }

    void RefreshList();
    void UpdateActions();

    QTreeView *lvHistory = nullptr;
    THistoryListModel *model = nullptr;
    QLabel *lblUnavailable = nullptr;
    QToolBar *tbHistory = nullptr;
    QMenu *mFile = nullptr;
    QMenu *mEdit = nullptr;
    QMenu *pmHistory = nullptr;
    QAction *aUndoSaveReg4 = nullptr, *aRedoSaveReg4 = nullptr, *aUndoSelected = nullptr, *aRedoSelected = nullptr,
            *aDeleteSelected = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void aUndoSaveReg4Execute();
    void aRedoSaveReg4Execute();
    void aUndoSelectedExecute();
    void aRedoSelectedExecute();
    void aDeleteSelectedExecute();
    void lvHistoryColumnClick(int column);
    // Selected rows from the last to the first.
    std::vector<int> selectedRowsDescending() const;
    // The selected records by id: newest first for undo, oldest first for
    // redo, whatever order the list shows them in.
    std::vector<const TRegistryChange *> selectedChanges(bool newestFirst) const;
    void saveSelected(bool undo);
    void showError(const std::exception &e);

    TRegistryChangeHistory *m_history = nullptr;
};

} // namespace vt::history
