#include "history/RegistryChangeHistory.h"

#include "core/kltRegTools.h"
#include "platform/vtPlatform.h"
#include "regfile/RegFileText.h"

#include <QCollator>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

namespace vt::history
{

const char *const HistoryCreateTableSql =
    "CREATE TABLE registry_history ([id] INTEGER PRIMARY KEY AUTOINCREMENT, [timestamp] INTEGER, [direction] "
    "INTEGER, [entrytype] INTEGER, [action] INTEGER, [rootkey] INTEGER, [key] TEXT, [value] TEXT, [datatype] "
    "INTEGER, [olddatasize] INTEGER, [newdatasize] INTEGER, [olddata] BLOB, [newdata] BLOB )";

namespace
{

constexpr const char *kInsertSql =
    "INSERT INTO registry_history "
    "(timestamp,entrytype,action,rootkey,key,value,datatype,olddatasize,newdatasize,olddata,newdata) "
    "VALUES (?,?,?,?,?,?,?,?,?,?,?)";

// The columns a load reads, in ColumnIndex order.
constexpr std::array<const char *, 12> kColumns = {"id",          "timestamp",   "entrytype", "action",
                                                   "rootkey",     "key",         "value",     "datatype",
                                                   "olddatasize", "newdatasize", "olddata",   "newdata"};
enum Col { cId, cTimestamp, cEntryType, cAction, cRootKey, cKey, cValue, cDataType, cOldSize, cNewSize, cOld, cNew };

// Days from 1601-01-01 (FILETIME) to 1899-12-30 (TDateTime).
constexpr double kFileTimeToDateTimeDays = 109205.0;
constexpr double kUnixEpochDays = 25569.0;

std::optional<int> &biasOverride()
{
    static std::optional<int> bias;
    return bias;
}

[[noreturn]] void raise(const char *what, sqlite3 *db, const std::string &sql)
{
    std::string message = what;
    if (db && sqlite3_errcode(db) != SQLITE_OK)
        message += " \"" + sql + "\" : " + sqlite3_errmsg(db);
    throw ESQLiteException(message);
}

std::string withTrailingBackslash(std::string path)
{
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path;
}

// The registry functions take the root itself as "\" and other keys without
// the trailing backslash the history keeps.
std::string accessPath(const std::string &path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '\\')
        p.pop_back();
    if (p.empty())
        p = "\\";
    return p;
}

bool isRootPath(const std::string &path)
{
    return path.find_first_not_of('\\') == std::string::npos;
}

HKEY rootFromInt(int32_t value)
{
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(value));
}
int32_t rootToInt(HKEY root)
{
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(root));
}

void splitCrLf(const std::string &text, std::vector<std::string> &lines)
{
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find("\r\n", start);
        if (pos == std::string::npos) {
            lines.push_back(text.substr(start));
            return;
        }
        lines.push_back(text.substr(start, pos - start));
        start = pos + 2;
    }
}

std::string hexPart(const char *prefix, const TMemoryStream &data)
{
    return prefix + FormatHexList(data.bytes, 0);
}

// The value line of a record's data; empty for the types a file cannot carry.
std::string valueLine(const std::string &name, TRegDataType type, const TMemoryStream &data)
{
    std::string dataPart;
    switch (type) {
    case rdString: {
        const auto &b = data.bytes;
        const auto nul = std::find(b.begin(), b.end(), uint8_t(0));
        dataPart = "\"" + EscapeRegString(std::string(b.begin(), nul)) + "\"";
        break;
    }
    case rdExpandString:
        dataPart = hexPart("hex(2):", data);
        break;
    case rdBinary:
        dataPart = hexPart("hex:", data);
        break;
    case rdInteger:
    case rdCardinal: {
        uint8_t b[4] = {0, 0, 0, 0};
        std::copy_n(data.bytes.begin(), std::min<size_t>(4, data.bytes.size()), b);
        char text[16];
        std::snprintf(text, sizeof text, "%08X", unsigned(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
        dataPart = std::string("dword:") + text;
        break;
    }
    case rdLittleEndianInteger:
        dataPart = hexPart("hex(4):", data);
        break;
    case rdBigEndianInteger:
        dataPart = hexPart("hex(5):", data);
        break;
    case rdLink:
        dataPart = hexPart("hex(6):", data);
        break;
    case rdMultiString:
        dataPart = hexPart("hex(7):", data);
        break;
    case rdResourceList:
        dataPart = hexPart("hex(8):", data);
        break;
    case rdFullResourceDescriptor:
        dataPart = hexPart("hex(9):", data);
        break;
    case rdResourceRequirementsList:
        dataPart = hexPart("hex(A):", data);
        break;
    case rdInt64:
    case rdLittleEndianInt64:
        dataPart = hexPart("hex(B):", data);
        break;
    default:
        return {};
    }
    return (name.empty() ? std::string("@=") : "\"" + name + "\"=") + dataPart;
}

void writeStream(HKEY root, const std::string &path, const std::string &name, TRegDataType type,
                 const TMemoryStream &data)
{
    TMemoryStream copy = data;
    try {
        WriteStreamAt(root, accessPath(path), name, 32, type, copy);
    } catch (const std::exception &) {
        // Undo and redo skip what cannot be applied.
    }
}

void deleteKey(HKEY root, const std::string &path)
{
    // A root cannot go; asking would only empty it.
    if (!isRootPath(path))
        DeleteKeyAt(root, accessPath(path), 0);
}

void civilFromDays(int64_t z, int &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(yy + (m <= 2));
}

} // namespace

std::string HistoryTypeText(THistoryType type)
{
    return type == htKey ? "Key" : "Value";
}

std::string HistoryActionText(THistoryAction action)
{
    switch (action) {
    case haDelete:
        return "Delete";
    case haNew:
        return "New";
    case haChange:
        return "Change";
    }
    return {};
}

int StartupTimeZoneBias()
{
    if (biasOverride())
        return *biasOverride();
    static const int bias = [] {
        FILETIME utc{}, local{};
        GetSystemTimeAsFileTime(&utc);
        if (!FileTimeToLocalFileTime(&utc, &local))
            return 0;
        const auto value = [](const FILETIME &ft) {
            return int64_t(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
        };
        return int((value(utc) - value(local)) / 600000000);
    }();
    return bias;
}

void SetStartupTimeZoneBias(int minutes)
{
    biasOverride() = minutes;
}

int32_t DateTimeToHistorySeconds(TDateTime localTime, int bias)
{
    return static_cast<int32_t>(std::llround((localTime - kUnixEpochDays + bias / 1440.0) * 86400.0));
}

TDateTime HistorySecondsToDateTime(int32_t seconds, int bias)
{
    return seconds / 86400.0 + kUnixEpochDays - bias / 1440.0;
}

TDateTime LocalNow()
{
    FILETIME utc{}, local{};
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    const uint64_t ticks = uint64_t(local.dwHighDateTime) << 32 | local.dwLowDateTime;
    return double(ticks) / 864000000000.0 - kFileTimeToDateTimeDays;
}

std::string FormatHistoryTimestamp(TDateTime localTime)
{
    const int64_t secs = std::llround(localTime * 86400.0);
    int64_t days = secs / 86400;
    int64_t rest = secs % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days - 25569, y, m, d); // day 25569 is 1970-01-01
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", y, m, d, int(rest / 3600), int(rest / 60 % 60),
                  int(rest % 60));
    return text;
}

// ---------------------------------------------------------------------------
// TRegistryChange

void TRegistryChange::Assign(const TRegistryChange &source)
{
    History = source.History;
    TableIndex = source.TableIndex;
    EntryType = source.EntryType;
    Action = source.Action;
    RootKey = source.RootKey;
    KeyPath = source.KeyPath;
    Value = source.Value;
    DataType = source.DataType;
    OldData = source.OldData;
    NewData = source.NewData;
    Timestamp = source.Timestamp;
}

void TRegistryChange::SaveToDatabase()
{
    History->insertRecord(*this);
}

void TRegistryChange::DeleteFromDatabase()
{
    const std::string sql = "DELETE FROM registry_history WHERE id=?";
    sqlite3 *db = History->Database();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        raise("Could not prepare SQL statement", db, sql);
    sqlite3_bind_int64(stmt, 1, TableIndex);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        raise("Error executing SQL statement", db, sql);
}

void TRegistryChange::WriteRedoText(std::vector<std::string> &lines) const
{
    const std::string root = RootKeyToName(RootKey);
    const std::string keyLine = "[" + root + KeyPath + "]";
    if (EntryType == htKey) {
        lines.push_back(Action == haDelete ? "[-" + root + KeyPath + "]" : keyLine);
    } else {
        lines.push_back(keyLine);
        if (Action == haDelete)
            lines.push_back("\"" + Value + "\"=-");
        else if (const std::string line = valueLine(Value, DataType, NewData); !line.empty())
            splitCrLf(line, lines);
    }
    lines.emplace_back();
}

void TRegistryChange::WriteUndoText(std::vector<std::string> &lines) const
{
    const std::string root = RootKeyToName(RootKey);
    const std::string keyLine = "[" + root + KeyPath + "]";
    if (EntryType == htKey) {
        lines.push_back(Action == haDelete ? keyLine : "[-" + root + KeyPath + "]");
    } else {
        lines.push_back(keyLine);
        if (Action == haNew)
            lines.push_back("\"" + Value + "\"=-");
        else if (const std::string line = valueLine(Value, DataType, OldData); !line.empty())
            splitCrLf(line, lines);
    }
    lines.emplace_back();
}

void TRegistryChange::Redo() const
{
    if (EntryType == htKey) {
        if (Action == haDelete)
            deleteKey(RootKey, KeyPath);
        else
            CreateKeyAt(RootKey, accessPath(KeyPath), 0);
    } else if (Action == haDelete) {
        DeleteValueAt(RootKey, accessPath(KeyPath), Value, 0);
    } else {
        writeStream(RootKey, KeyPath, Value, DataType, NewData);
    }
}

void TRegistryChange::Undo() const
{
    if (EntryType == htKey) {
        if (Action == haDelete)
            CreateKeyAt(RootKey, accessPath(KeyPath), 0);
        else
            deleteKey(RootKey, KeyPath);
    } else if (Action == haNew) {
        DeleteValueAt(RootKey, accessPath(KeyPath), Value, 0);
    } else {
        writeStream(RootKey, KeyPath, Value, DataType, OldData);
    }
}

void TRegistryChange::FillListItem(THistoryRowTexts &texts) const
{
    texts[0] = std::to_string(TableIndex);
    texts[1] = FormatHistoryTimestamp(Timestamp);
    texts[2] = HistoryTypeText(EntryType);
    texts[3] = HistoryActionText(Action);
    texts[4] = RootKeyToShortName(RootKey);
    texts[5] = KeyPath;
    const bool value = EntryType == htValue;
    texts[6] = value ? Value : std::string();
    texts[7] = value ? DataTypeToName(DataType) : std::string();
}

// ---------------------------------------------------------------------------
// TRegistryChangeHistory

TRegistryChangeHistory::TRegistryChangeHistory(const std::string &databasePath)
    : m_path(databasePath), m_bias(StartupTimeZoneBias())
{
    m_columnIndex.fill(-1);
    const std::string failed = "Failed to open database \"" + databasePath + "\" : ";
    namespace fs = std::filesystem;
    const fs::path native(vt::platform::toNativePath(databasePath));
    std::error_code ec;
    // Only a file of our own: a link could point at another program's
    // database (which would gain our table) or at a device; a FIFO would
    // block the open.
    const fs::file_status status = fs::symlink_status(native, ec);
    const bool existed = !ec && fs::exists(status);
    if (existed && fs::is_symlink(status))
        throw ESQLiteException(failed + "the file is a symbolic link; only a file of this program's own is used");
    if (existed && !fs::is_regular_file(status))
        throw ESQLiteException(failed + "the file is not a regular file");
    // The folders made here are the user's own (0700), as is the file (0600):
    // the history holds the registry's data.
    std::vector<fs::path> made;
    for (fs::path p = native.parent_path(); !p.empty() && !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
        made.push_back(p);
        if (p == p.parent_path())
            break;
    }
    ec.clear();
    if (native.has_parent_path())
        fs::create_directories(native.parent_path(), ec);
    if (ec)
        throw ESQLiteException(failed + "cannot create the folder: " + ec.message());
    for (const fs::path &p : made)
        fs::permissions(p, fs::perms::owner_all, fs::perm_options::replace, ec);

    const int rc = sqlite3_open_v2(native.string().c_str(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (!m_db)
        throw ESQLiteException(failed + "unknown error");
    if (!existed)
        fs::permissions(native, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
    try {
        if (rc != SQLITE_OK)
            throw ESQLiteException(sqlite3_errmsg(m_db));
        // A read-only file would fail at the first change, after the registry
        // was already changed; refuse it now.
        if (sqlite3_db_readonly(m_db, "main") == 1)
            throw ESQLiteException("the file is read-only");
        sqlite3_busy_timeout(m_db, 2000);
        ExecSql("PRAGMA SYNCHRONOUS=NORMAL;");
        ExecSql("PRAGMA temp_store = MEMORY;");
        checkTable();
        if (sqlite3_prepare_v2(m_db, kInsertSql, -1, &m_insert, nullptr) != SQLITE_OK)
            raise("Could not prepare SQL statement", m_db, kInsertSql);
    } catch (const std::exception &e) {
        sqlite3_finalize(m_insert);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw ESQLiteException(failed + e.what());
    }
}

TRegistryChangeHistory::~TRegistryChangeHistory()
{
    sqlite3_finalize(m_insert);
    sqlite3_close_v2(m_db);
}

void TRegistryChangeHistory::checkTable()
{
    const std::string probe =
        std::string("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '") + HistoryTableName +
        "' ";
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, probe.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        raise("Could not prepare SQL statement", m_db, probe);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        raise("Could not retrieve data", m_db, probe);
    // A database that holds anything but the history (and SQLite's own
    // counter table) belongs to another program: never add to it.
    const char *others = "select count(*) from sqlite_master where lower(tbl_name) not in ('registry_history', "
                         "'sqlite_sequence')";
    if (sqlite3_prepare_v2(m_db, others, -1, &stmt, nullptr) != SQLITE_OK)
        raise("Could not prepare SQL statement", m_db, others);
    const int otherRc = sqlite3_step(stmt);
    const sqlite3_int64 otherCount = otherRc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (otherRc != SQLITE_ROW)
        raise("Could not retrieve data", m_db, others);
    if (otherCount > 0)
        throw ESQLiteException("the database holds tables of another program; it is not this program's history");
    if (rc == SQLITE_DONE) {
        ExecSql(HistoryCreateTableSql);
        return;
    }

    // A table of that name made by something else: use it only when it has
    // every column the history writes and reads; never alter it.
    const std::string info = std::string("PRAGMA table_info(") + HistoryTableName + ")";
    if (sqlite3_prepare_v2(m_db, info.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        raise("Could not prepare SQL statement", m_db, info);
    std::vector<std::string> present;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto *name = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        present.push_back(QString::fromUtf8(name ? name : "").toLower().toStdString());
    }
    sqlite3_finalize(stmt);
    std::string missing;
    for (const char *column : kColumns)
        if (std::find(present.begin(), present.end(), column) == present.end())
            missing += missing.empty() ? column : std::string(", ") + column;
    if (!missing.empty())
        throw ESQLiteException(std::string("the table ") + HistoryTableName +
                               " was not made by this program; it lacks the columns " + missing);
}

void TRegistryChangeHistory::ExecSql(const std::string &sql)
{
    sqlite3_stmt *stmt = nullptr;
    const int prc = sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr);
    if (prc == SQLITE_BUSY)
        throw ESQLiteException("Could not prepare SQL statement \"" + sql + "\" : SQLite is Busy");
    if (prc != SQLITE_OK)
        raise("Could not prepare SQL statement", m_db, sql);
    if (!stmt)
        return; // only a comment or blanks
    int rc = sqlite3_step(stmt);
    while (rc == SQLITE_ROW) // pragmas answer with their setting
        rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
        std::string message = "Error executing SQL statement \"" + sql + "\" : " + sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        throw ESQLiteException(message);
    }
    sqlite3_finalize(stmt);
}

void TRegistryChangeHistory::beginOperation()
{
    if (m_operationDepth == 0) {
        ExecSql("BEGIN IMMEDIATE");
        m_operationStart = m_items.size();
        m_operationFailed = false;
    }
    ++m_operationDepth;
}

void TRegistryChangeHistory::endOperation(bool commit)
{
    if (!commit)
        m_operationFailed = true;
    if (--m_operationDepth > 0)
        return;
    if (!m_operationFailed) {
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            return;
        const std::string message = std::string("Error executing SQL statement \"COMMIT\" : ") + sqlite3_errmsg(m_db);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        m_items.resize(std::min(m_items.size(), m_operationStart));
        throw ESQLiteException(message);
    }
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_items.resize(std::min(m_items.size(), m_operationStart));
    if (commit)
        throw ESQLiteException("Error executing SQL : a part of the operation failed; nothing of it was recorded");
}

TRegistryChangeHistory::TOperation::TOperation(TRegistryChangeHistory &history) : m_history(history)
{
    m_history.beginOperation();
}

TRegistryChangeHistory::TOperation::~TOperation()
{
    if (!m_done)
        m_history.endOperation(false);
}

void TRegistryChangeHistory::TOperation::Commit()
{
    m_done = true;
    m_history.endOperation(true);
}

void TRegistryChangeHistory::insertRecord(TRegistryChange &c)
{
    sqlite3_stmt *s = m_insert;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    sqlite3_bind_int(s, 1, DateTimeToHistorySeconds(c.Timestamp, m_bias));
    sqlite3_bind_int(s, 2, c.EntryType);
    sqlite3_bind_int(s, 3, c.Action);
    sqlite3_bind_int(s, 4, rootToInt(c.RootKey));
    sqlite3_bind_text(s, 5, c.KeyPath.data(), int(c.KeyPath.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 6, c.Value.data(), int(c.Value.size()), SQLITE_STATIC);
    sqlite3_bind_int(s, 7, c.DataType);
    sqlite3_bind_int64(s, 8, int64_t(c.OldData.size()));
    sqlite3_bind_int64(s, 9, int64_t(c.NewData.size()));
    // An empty stream is stored as NULL, not as a blob of no bytes.
    if (c.OldData.size())
        sqlite3_bind_blob64(s, 10, c.OldData.bytes.data(), c.OldData.size(), SQLITE_STATIC);
    if (c.NewData.size())
        sqlite3_bind_blob64(s, 11, c.NewData.bytes.data(), c.NewData.size(), SQLITE_STATIC);
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) {
        std::string message =
            std::string("Error executing SQL statement \"") + kInsertSql + "\" : " + sqlite3_errmsg(m_db);
        sqlite3_reset(s);
        throw ESQLiteException(message);
    }
    sqlite3_reset(s);
    c.TableIndex = static_cast<uint32_t>(sqlite3_last_insert_rowid(m_db));
}

TRegistryChange *TRegistryChangeHistory::AddRecord(THistoryType entryType, THistoryAction action, HKEY root,
                                                   const std::string &keyPath, const std::string &valueName,
                                                   TRegDataType dataType, const TMemoryStream *oldData,
                                                   const TMemoryStream *newData)
{
    TOperation op(*this);
    auto change = std::make_unique<TRegistryChange>(this);
    change->Timestamp = LocalNow();
    change->EntryType = entryType;
    change->Action = action;
    change->RootKey = root;
    change->KeyPath = keyPath;
    change->Value = valueName;
    change->DataType = dataType;
    if (oldData)
        change->OldData.bytes = oldData->bytes;
    if (newData)
        change->NewData.bytes = newData->bytes;
    TRegistryChange *raw = change.get();
    m_items.push_back(std::move(change));
    raw->SaveToDatabase();
    op.Commit();
    return raw;
}

void TRegistryChangeHistory::recordValueRead(THistoryAction action, HKEY root, const std::string &keyPath,
                                             const std::string &valueName, TRegDataType dataType,
                                             const TMemoryStream *oldData)
{
    TMemoryStream data;
    {
        TMyRegistry reg;
        reg.SetRootKey(root);
        try {
            if (!reg.OpenKeyReadOnly(accessPath(keyPath)) || !reg.ValueExists(valueName))
                return;
            if (action == haDelete)
                dataType = reg.GetDataType(valueName);
            if (!reg.ReadBinaryToStream(valueName, data))
                return;
        } catch (const std::exception &) {
            return; // unreadable: no record, no message
        }
    }
    if (action == haDelete)
        AddRecord(htValue, haDelete, root, keyPath, valueName, dataType, &data, nullptr);
    else
        AddRecord(htValue, action, root, keyPath, valueName, dataType, oldData, &data);
}

void TRegistryChangeHistory::recordKeyDelete(HKEY root, const std::string &keyPath)
{
    std::vector<std::string> names;
    KeyNamesAt(root, accessPath(keyPath), names, false);
    for (const std::string &name : names)
        recordKeyDelete(root, keyPath + name + "\\");
    names.clear();
    ValueNamesAt(root, accessPath(keyPath), names, false);
    for (const std::string &name : names)
        recordValueRead(haDelete, root, keyPath, name, rdUnknown, nullptr);
    AddRecord(htKey, haDelete, root, keyPath, std::string(), rdNone, nullptr, nullptr);
}

void TRegistryChangeHistory::RecordKeyDelete(HKEY root, const std::string &keyPath)
{
    TOperation op(*this);
    recordKeyDelete(root, withTrailingBackslash(keyPath));
    op.Commit();
}

void TRegistryChangeHistory::RecordValueDelete(HKEY root, const std::string &keyPath, const std::string &valueName)
{
    recordValueRead(haDelete, root, withTrailingBackslash(keyPath), valueName, rdUnknown, nullptr);
}

void TRegistryChangeHistory::RecordValueChange(HKEY root, const std::string &keyPath, const TMemoryStream &oldData,
                                               TRegDataType dataType, const std::string &valueName)
{
    recordValueRead(haChange, root, withTrailingBackslash(keyPath), valueName, dataType, &oldData);
}

void TRegistryChangeHistory::RecordValueNew(HKEY root, const std::string &keyPath, TRegDataType dataType,
                                            const std::string &valueName)
{
    recordValueRead(haNew, root, withTrailingBackslash(keyPath), valueName, dataType, nullptr);
}

void TRegistryChangeHistory::RecordKeyNew(HKEY root, const std::string &keyPath)
{
    AddRecord(htKey, haNew, root, withTrailingBackslash(keyPath), std::string(), rdNone, nullptr, nullptr);
}

void TRegistryChangeHistory::LoadAll()
{
    LoadQuery(std::string("SELECT * FROM ") + HistoryTableName);
}

void TRegistryChangeHistory::LoadQuery(const std::string &query)
{
    m_columnIndex.fill(-1);
    std::string sql = query;
    const std::string token = "<$TABLENAME>";
    for (size_t pos = sql.find(token); pos != std::string::npos; pos = sql.find(token, pos))
        sql.replace(pos, token.size(), HistoryTableName);

    sqlite3_stmt *stmt = nullptr;
    const int prc = sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr);
    if (prc == SQLITE_BUSY)
        throw ESQLiteException("Could not prepare SQL statement \"" + sql + "\" : SQLite is Busy");
    if (prc != SQLITE_OK || !stmt)
        raise("Could not prepare SQL statement", m_db, sql);
    const size_t start = m_items.size();
    try {
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            auto change = std::make_unique<TRegistryChange>(this);
            loadFromRow(stmt, *change);
            m_items.push_back(std::move(change));
        }
        if (rc != SQLITE_DONE)
            raise("Could not retrieve data", m_db, sql);
    } catch (...) {
        // A load is whole or nothing.
        m_items.resize(start);
        sqlite3_finalize(stmt);
        throw;
    }
    sqlite3_finalize(stmt);
}

void TRegistryChangeHistory::loadFromRow(sqlite3_stmt *stmt, TRegistryChange &c)
{
    if (m_columnIndex[0] < 0) {
        const int count = sqlite3_column_count(stmt);
        for (size_t i = 0; i < kColumns.size(); ++i) {
            int found = -1;
            for (int col = 0; col < count && found < 0; ++col)
                if (sqlite3_stricmp(sqlite3_column_name(stmt, col), kColumns[i]) == 0)
                    found = col;
            if (found < 0)
                throw ESQLiteException(std::string("Field not found in dataset: ") + kColumns[i]);
            m_columnIndex[i] = found;
        }
    }
    const auto num = [&](Col col) { return static_cast<uint32_t>(sqlite3_column_int64(stmt, m_columnIndex[col])); };
    const auto text = [&](Col col) {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt, m_columnIndex[col]));
        return p ? std::string(p, size_t(sqlite3_column_bytes(stmt, m_columnIndex[col]))) : std::string();
    };
    const auto blob = [&](Col col, Col sizeCol, TMemoryStream &out) {
        out.clear();
        const int index = m_columnIndex[col];
        if (sqlite3_column_type(stmt, index) == SQLITE_NULL)
            return;
        const size_t wanted = num(sizeCol);
        const void *p = sqlite3_column_blob(stmt, index);
        const size_t have = size_t(sqlite3_column_bytes(stmt, index));
        // The size column is trusted only as far as the blob reaches.
        if (p)
            out.write(p, std::min(wanted, have));
        out.position = 0;
    };
    c.Timestamp = HistorySecondsToDateTime(static_cast<int32_t>(num(cTimestamp)), m_bias);
    c.EntryType = static_cast<THistoryType>(num(cEntryType) & 0xFF);
    c.Action = static_cast<THistoryAction>(num(cAction) & 0xFF);
    c.DataType = static_cast<TRegDataType>(num(cDataType) & 0xFF);
    c.TableIndex = num(cId);
    c.RootKey = rootFromInt(static_cast<int32_t>(num(cRootKey)));
    c.KeyPath = text(cKey);
    c.Value = text(cValue);
    blob(cOld, cOldSize, c.OldData);
    blob(cNew, cNewSize, c.NewData);
}

// ---- Sorting -----------------------------------------------------------------

namespace
{

template <class Less> void sortItems(std::vector<std::unique_ptr<TRegistryChange>> &items, Less less)
{
    std::stable_sort(items.begin(), items.end(),
                     [&](const std::unique_ptr<TRegistryChange> &a, const std::unique_ptr<TRegistryChange> &b) {
                         return less(*a, *b);
                     });
}

// Case-insensitive in the user's locale; one sort key per record keeps a
// sort of many records cheap. The text is case-folded first because not every
// collation backend honours case insensitivity (the POSIX one does not).
template <class Field> void sortByText(std::vector<std::unique_ptr<TRegistryChange>> &items, Field field)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QCollatorSortKey, std::unique_ptr<TRegistryChange>>> keyed;
    keyed.reserve(items.size());
    for (auto &item : items) {
        const std::string &text = field(*item);
        keyed.emplace_back(collator.sortKey(QString::fromUtf8(text.data(), qsizetype(text.size())).toCaseFolded()),
                           std::move(item));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    for (size_t i = 0; i < items.size(); ++i)
        items[i] = std::move(keyed[i].second);
}

} // namespace

void TRegistryChangeHistory::SortById()
{
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) { return a.TableIndex > b.TableIndex; });
}

void TRegistryChangeHistory::SortByTimestamp()
{
    constexpr double halfSecond = 0.5 / 86400.0;
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) {
        return a.Timestamp - b.Timestamp >= halfSecond;
    });
}

void TRegistryChangeHistory::SortByEntryType()
{
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) { return a.EntryType < b.EntryType; });
}

void TRegistryChangeHistory::SortByAction()
{
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) { return a.Action < b.Action; });
}

void TRegistryChangeHistory::SortByRootKey()
{
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) {
        return rootToInt(a.RootKey) < rootToInt(b.RootKey);
    });
}

void TRegistryChangeHistory::SortByKeyPath()
{
    sortByText(m_items, [](const TRegistryChange &c) -> const std::string & { return c.KeyPath; });
}

void TRegistryChangeHistory::SortByValue()
{
    sortByText(m_items, [](const TRegistryChange &c) -> const std::string & { return c.Value; });
}

void TRegistryChangeHistory::SortByDataType()
{
    sortItems(m_items, [](const TRegistryChange &a, const TRegistryChange &b) { return a.DataType < b.DataType; });
}

void TRegistryChangeHistory::SortByColumn(int column)
{
    switch (column) {
    case 0:
        SortById();
        break;
    case 1:
        SortByTimestamp();
        break;
    case 2:
        SortByEntryType();
        break;
    case 3:
        SortByAction();
        break;
    case 4:
        SortByRootKey();
        break;
    case 5:
        SortByKeyPath();
        break;
    case 6:
        SortByValue();
        break;
    case 7:
        SortByDataType();
        break;
    default:
        break;
    }
}

bool TRegistryChangeHistory::FillListItem(size_t row, THistoryRowTexts &texts) const
{
    if (row >= m_items.size())
        return false;
    m_items[row]->FillListItem(texts);
    return true;
}

} // namespace vt::history
