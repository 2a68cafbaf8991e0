#pragma once
// The permanent change history: one record per recorded change, kept in the
// SQLite table registry_history and mirrored in memory for the history
// window. Every text and number reaches SQLite as a bound parameter, and the
// rows of one user operation are committed together or not at all.

#include "core/kltRegistry.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vt::history
{

// Opening, statement and query failures of the history database.
class ESQLiteException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum THistoryType : uint8_t { htKey = 0, htValue = 1 };
enum THistoryAction : uint8_t { haDelete = 0, haNew = 1, haChange = 2 };

inline constexpr const char *HistoryTableName = "registry_history";
inline constexpr const char *HistoryDatabaseLocation = "<$APPDATA>\\Brakmoor\\Vantrel\\history.sqlite";
extern const char *const HistoryCreateTableSql;

std::string HistoryTypeText(THistoryType type);
std::string HistoryActionText(THistoryAction action);

// Time-zone bias in minutes (UTC = local time + bias) as it was when the
// program started; every timestamp is converted with this one value.
int StartupTimeZoneBias();
void SetStartupTimeZoneBias(int minutes); // tests
// Local date-time (days since 1899-12-30) to seconds since 1970 UTC and back.
int32_t DateTimeToHistorySeconds(TDateTime localTime, int bias);
TDateTime HistorySecondsToDateTime(int32_t seconds, int bias);
TDateTime LocalNow();
// "yyyy-mm-dd hh:nn:ss"
std::string FormatHistoryTimestamp(TDateTime localTime);

class TRegistryChangeHistory;

// Column texts of one history list row: ID, Timestamp, Type, Action, Root,
// Key Path, Value, Type.
using THistoryRowTexts = std::array<std::string, 8>;

class TRegistryChange
{
public:
    explicit TRegistryChange(TRegistryChangeHistory *history) : History(history) {}
    virtual ~TRegistryChange() = default;

    TRegistryChangeHistory *History;
    uint32_t TableIndex = 0;
    THistoryType EntryType = htKey;
    THistoryAction Action = haDelete;
    HKEY RootKey = nullptr;
    std::string KeyPath;
    std::string Value;
    TRegDataType DataType = rdNone;
    TMemoryStream OldData;
    TMemoryStream NewData;
    TDateTime Timestamp = 0;

    void Assign(const TRegistryChange &source);
    std::string DisplayName() const { return std::to_string(TableIndex); }

    void SaveToDatabase();
    void DeleteFromDatabase();
    // Lines that redo or undo the change, in registry-file syntax; always
    // closed by one empty line.
    void WriteRedoText(std::vector<std::string> &lines) const;
    void WriteUndoText(std::vector<std::string> &lines) const;
    // Applied directly to the registry; failures are skipped silently.
    void Redo() const;
    void Undo() const;
    void FillListItem(THistoryRowTexts &texts) const;
};

class TRegistryChangeHistory
{
public:
    // Creates the folder and opens (or creates) the database; raises
    // ESQLiteException with a message a user can act on when the file cannot
    // serve as the history, without changing what the file holds.
    explicit TRegistryChangeHistory(const std::string &databasePath);
    virtual ~TRegistryChangeHistory();
    TRegistryChangeHistory(const TRegistryChangeHistory &) = delete;
    TRegistryChangeHistory &operator=(const TRegistryChangeHistory &) = delete;

    const std::string &DatabasePath() const { return m_path; }

    void LoadAll();
    void LoadQuery(const std::string &query);

    void RecordKeyDelete(HKEY root, const std::string &keyPath);
    void RecordValueDelete(HKEY root, const std::string &keyPath, const std::string &valueName);
    void RecordValueChange(HKEY root, const std::string &keyPath, const TMemoryStream &oldData, TRegDataType dataType,
                           const std::string &valueName);
    void RecordValueNew(HKEY root, const std::string &keyPath, TRegDataType dataType, const std::string &valueName);
    void RecordKeyNew(HKEY root, const std::string &keyPath);
    TRegistryChange *AddRecord(THistoryType entryType, THistoryAction action, HKEY root, const std::string &keyPath,
                               const std::string &valueName, TRegDataType dataType, const TMemoryStream *oldData,
                               const TMemoryStream *newData);

    size_t Count() const { return m_items.size(); }
    TRegistryChange *Item(size_t index) const { return m_items[index].get(); }
    void Clear() { m_items.clear(); }

    void SortById();
    void SortByTimestamp();
    void SortByEntryType();
    void SortByAction();
    void SortByRootKey();
    void SortByKeyPath();
    void SortByValue();
    void SortByDataType();
    // The sort of a history list column (0 to 7).
    void SortByColumn(int column);

    // False when the row lies outside the collection.
    bool FillListItem(size_t row, THistoryRowTexts &texts) const;

    // One user operation: every record added while the outermost scope is
    // open is committed together when it ends with Commit(); without it (an
    // exception passing) the rows leave neither the database nor the
    // collection.
    class TOperation
    {
    public:
        explicit TOperation(TRegistryChangeHistory &history);
        ~TOperation();
        TOperation(const TOperation &) = delete;
        TOperation &operator=(const TOperation &) = delete;
        void Commit();

    private:
        TRegistryChangeHistory &m_history;
        bool m_done = false;
    };

    // The thin SQLite layer, for the records and for tests.
    sqlite3 *Database() const { return m_db; }
    void ExecSql(const std::string &sql);

private:
    friend class TRegistryChange;
    void beginOperation();
    void endOperation(bool commit);
    void insertRecord(TRegistryChange &change);
    void loadFromRow(sqlite3_stmt *stmt, TRegistryChange &change);
    void recordKeyDelete(HKEY root, const std::string &keyPath);
    void recordValueRead(THistoryAction action, HKEY root, const std::string &keyPath, const std::string &valueName,
                         TRegDataType dataType, const TMemoryStream *oldData);
    void checkTable();

    std::string m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    std::vector<std::unique_ptr<TRegistryChange>> m_items;
    std::array<int, 12> m_columnIndex{};
    int m_bias = 0;
    int m_operationDepth = 0;
    bool m_operationFailed = false;
    size_t m_operationStart = 0;
};

} // namespace vt::history
