// The history store: what a recorded session leaves in the database (read
// back by the sqlite3 shell), the texts and direct undo/redo of each record
// kind against the live registry, sorting, deletion, opening failures and
// whole-operation commits.
#include "HistoryFixture.h"

#include "regfile/RegFileReader.h"

#include <QCoreApplication>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

using namespace historytest;
using namespace vt::history;

namespace
{

std::string readFile(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void applyLines(const std::vector<std::string> &body)
{
    std::vector<std::string> lines = {"REGEDIT4", ""};
    lines.insert(lines.end(), body.begin(), body.end());
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    reader.ParseLines(lines);
}

std::vector<std::string> redoOf(const TRegistryChange &c)
{
    std::vector<std::string> lines;
    c.WriteRedoText(lines);
    return lines;
}

std::vector<std::string> undoOf(const TRegistryChange &c)
{
    std::vector<std::string> lines;
    c.WriteUndoText(lines);
    return lines;
}

} // namespace

TEST_F(HistoryTest, FirstOpenCreatesFolderAndTheExactTable)
{
    ASSERT_FALSE(fs::exists(dbPath().parent_path()));
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\Test");
    ASSERT_TRUE(fs::exists(dbPath()));
    EXPECT_EQ(shellScalar(dbPath(), "select sql from sqlite_master where name='registry_history'"),
              HistoryCreateTableSql);
    EXPECT_EQ(shellScalar(dbPath(), "select count(*) from registry_history where direction is not null"), "0");
    EXPECT_EQ(shellScalar(dbPath(), "PRAGMA integrity_check"), "ok");
}

// A session of every record kind, names that would break SQL text, read back
// row by row by another program.
TEST_F(HistoryTest, RecordedSessionReadBackByTheShell)
{
    const std::string odd = "it's \"q\" \\ \xC3\xBC'); DROP TABLE registry_history; --";
    const std::string key = "\\Software\\X";
    writeRaw(HKEY_CURRENT_USER, key, "Test", REG_DWORD, {1, 0, 0, 0});
    writeRaw(HKEY_CURRENT_USER, key + "\\" + odd, odd, REG_SZ, bytesOf("C:\\dir", true));
    writeRaw(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Y", "", REG_BINARY, {0xDE, 0xAD});

    store().RecordValueDelete(HKEY_CURRENT_USER, key, "Test");
    store().RecordValueDelete(HKEY_CURRENT_USER, key + "\\" + odd, odd);
    store().RecordKeyNew(HKEY_CURRENT_USER, key + "\\" + odd);
    writeRaw(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Y", "", REG_BINARY, {0xBE, 0xEF, 0x00});
    store().RecordValueChange(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Y", stream({0xDE, 0xAD}), rdBinary, "");
    store().RecordValueNew(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Y\\", rdBinary, "");
    store().RecordKeyNew(HKEY_CLASSES_ROOT, "");
    store().RecordValueDelete(HKEY_CURRENT_USER, key, "missing"); // leaves no row

    const QJsonArray rows =
        shellQuery(dbPath(), "select id,entrytype,action,rootkey,key,value,datatype,olddatasize,newdatasize,"
                             "hex(olddata) as old,hex(newdata) as new,typeof(olddata) as ot,typeof(newdata) as nt,"
                             "typeof(timestamp) as tt from registry_history order by id");
    struct Row {
        int entry, action;
        qint64 root;
        std::string key, value;
        int type, oldSize, newSize;
        std::string oldHex, newHex;
    };
    const std::string oddKey = "\\Software\\X\\" + odd + "\\";
    const std::vector<Row> want = {
        {1, 0, -2147483647, "\\Software\\X\\", "Test", 5, 4, 0, "01000000", ""},
        {1, 0, -2147483647, oddKey, odd, 2, 7, 0, "433A5C64697200", ""},
        {0, 1, -2147483647, oddKey, "", 1, 0, 0, "", ""},
        {1, 2, -2147483646, "\\SOFTWARE\\Y\\", "", 4, 2, 3, "DEAD", "BEEF00"},
        {1, 1, -2147483646, "\\SOFTWARE\\Y\\", "", 4, 0, 3, "", "BEEF00"},
        {0, 1, -2147483648, "\\", "", 1, 0, 0, "", ""},
    };
    ASSERT_EQ(rows.size(), qsizetype(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
        const QJsonObject r = rows[qsizetype(i)].toObject();
        const Row &w = want[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(r["id"].toInt(), int(i + 1));
        EXPECT_EQ(r["entrytype"].toInt(), w.entry);
        EXPECT_EQ(r["action"].toInt(), w.action);
        EXPECT_EQ(qint64(r["rootkey"].toDouble()), w.root);
        EXPECT_EQ(r["key"].toString().toStdString(), w.key);
        EXPECT_EQ(r["value"].toString().toStdString(), w.value);
        EXPECT_EQ(r["datatype"].toInt(), w.type);
        EXPECT_EQ(r["olddatasize"].toInt(), w.oldSize);
        EXPECT_EQ(r["newdatasize"].toInt(), w.newSize);
        EXPECT_EQ(r["old"].toString().toStdString(), w.oldHex);
        EXPECT_EQ(r["new"].toString().toStdString(), w.newHex);
        // No data is NULL, never a blob of no bytes.
        EXPECT_EQ(r["ot"].toString(), w.oldSize ? "blob" : "null");
        EXPECT_EQ(r["nt"].toString(), w.newSize ? "blob" : "null");
        EXPECT_EQ(r["tt"].toString(), "integer");
    }

    // And the same back through a load.
    reload();
    ASSERT_EQ(store().Count(), want.size());
    const TRegistryChange &c = *store().Item(1);
    EXPECT_EQ(c.TableIndex, 2u);
    EXPECT_EQ(c.KeyPath, oddKey);
    EXPECT_EQ(c.Value, odd);
    EXPECT_EQ(c.OldData.bytes, bytesOf("C:\\dir", true));
    EXPECT_TRUE(c.NewData.bytes.empty());
    EXPECT_EQ(store().Item(0)->RootKey, HKEY_CURRENT_USER);
    EXPECT_EQ(store().Item(5)->RootKey, HKEY_CLASSES_ROOT);
}

TEST_F(HistoryTest, KeyTreeIsRecordedInPostOrder)
{
    writeRaw(HKEY_CURRENT_USER, "\\Software\\A", "v", REG_SZ, bytesOf("1", true));
    writeRaw(HKEY_CURRENT_USER, "\\Software\\A\\B", "w", REG_SZ, bytesOf("2", true));
    store().RecordKeyDelete(HKEY_CURRENT_USER, "\\Software\\A");
    const QJsonArray rows = shellQuery(dbPath(), "select entrytype,action,key,value from registry_history order by id");
    const std::vector<std::string> want = {"1 0 \\Software\\A\\B\\ w", "0 0 \\Software\\A\\B\\ ",
                                           "1 0 \\Software\\A\\ v", "0 0 \\Software\\A\\ "};
    std::vector<std::string> got;
    for (const auto &v : rows) {
        const QJsonObject r = v.toObject();
        got.push_back(std::to_string(r["entrytype"].toInt()) + " " + std::to_string(r["action"].toInt()) + " " +
                      r["key"].toString().toStdString() + " " + r["value"].toString().toStdString());
    }
    EXPECT_EQ(got, want);
}

// Redo and undo text of each record kind, line by line, and what applying
// that text through the registry file reader leaves in the registry.
TEST_F(HistoryTest, RedoAndUndoTextOfEachKindApplyThroughTheReader)
{
    const std::string key = "\\Software\\X";
    const std::string head = "[HKEY_CURRENT_USER\\Software\\X\\]";
    writeRaw(HKEY_CURRENT_USER, key, "Test", REG_DWORD, {1, 0, 0, 0});
    store().RecordValueDelete(HKEY_CURRENT_USER, key, "Test");
    store().RecordValueNew(HKEY_CURRENT_USER, key, rdInteger, "Test");
    writeRaw(HKEY_CURRENT_USER, key, "Test", REG_DWORD, {2, 0, 0, 0});
    store().RecordValueChange(HKEY_CURRENT_USER, key, stream({1, 0, 0, 0}), rdInteger, "Test");
    store().RecordKeyNew(HKEY_CURRENT_USER, key + "\\K");
    store().RecordKeyDelete(HKEY_CURRENT_USER, key + "\\K");

    struct Case {
        std::vector<std::string> redo, undo;
    };
    const std::vector<Case> want = {
        {{head, "\"Test\"=-", ""}, {head, "\"Test\"=dword:00000001", ""}},
        {{head, "\"Test\"=dword:00000002", ""}, {head, "\"Test\"=-", ""}},
        {{head, "\"Test\"=dword:00000002", ""}, {head, "\"Test\"=dword:00000001", ""}},
        {{"[HKEY_CURRENT_USER\\Software\\X\\K\\]", ""}, {"[-HKEY_CURRENT_USER\\Software\\X\\K\\]", ""}},
        {{"[-HKEY_CURRENT_USER\\Software\\X\\K\\]", ""}, {"[HKEY_CURRENT_USER\\Software\\X\\K\\]", ""}},
    };
    ASSERT_EQ(store().Count(), want.size());
    // The value records hold 2 where the registry (after the change) holds 2;
    // the new-value record was made when the value held 1, so fix its data
    // the way it was saved and compare after a reload.
    reload();
    store().Item(1)->NewData.bytes = {2, 0, 0, 0};
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        const TRegistryChange &c = *store().Item(i);
        EXPECT_EQ(redoOf(c), want[i].redo);
        EXPECT_EQ(undoOf(c), want[i].undo);
    }

    uint32_t code = 0;
    std::vector<uint8_t> data;
    // Value deleted: redo removes it, undo brings back 1.
    applyLines(redoOf(*store().Item(0)));
    EXPECT_FALSE(readRaw(HKEY_CURRENT_USER, key, "Test", code, data));
    applyLines(undoOf(*store().Item(0)));
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, key, "Test", code, data));
    EXPECT_EQ(data, std::vector<uint8_t>({1, 0, 0, 0}));
    // Value changed: redo writes 2.
    applyLines(redoOf(*store().Item(2)));
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, key, "Test", code, data));
    EXPECT_EQ(code, DWORD(REG_DWORD));
    EXPECT_EQ(data, std::vector<uint8_t>({2, 0, 0, 0}));
    // Value created: undo removes it.
    applyLines(undoOf(*store().Item(1)));
    EXPECT_FALSE(readRaw(HKEY_CURRENT_USER, key, "Test", code, data));
    // Key created: redo makes it, undo takes it away.
    applyLines(redoOf(*store().Item(3)));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, key + "\\K"));
    applyLines(undoOf(*store().Item(3)));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, key + "\\K"));
    // Key deleted: undo makes it again.
    applyLines(undoOf(*store().Item(4)));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, key + "\\K"));
}

TEST_F(HistoryTest, ValueLineOfEachType)
{
    struct Case {
        TRegDataType type;
        std::string name;
        std::vector<uint8_t> data;
        std::vector<std::string> lines; // between the key line and the closing empty line
    };
    std::vector<uint8_t> long40(40, 0xAB);
    const std::string first =
        "\"L\"=hex:AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,\\";
    const std::vector<Case> cases = {
        {rdString, "S", bytesOf("C:\\dir", true), {"\"S\"=\"C:\\\\dir\""}},
        {rdString, "", bytesOf("say \"hi\"", true), {"@=\"say \\\"hi\\\"\""}},
        {rdString, "q\"\\", bytesOf("x", true), {"\"q\"\\\"=\"x\""}}, // the name is not escaped
        {rdExpandString, "E", bytesOf("%a%", true), {"\"E\"=hex(2):25,61,25,00"}},
        {rdInteger, "D", {0xFF, 0, 0, 0x80}, {"\"D\"=dword:800000FF"}},
        {rdCardinal, "C", {1}, {"\"C\"=dword:00000001"}},
        {rdLittleEndianInteger, "L4", {1, 2, 3, 4}, {"\"L4\"=hex(4):01,02,03,04"}},
        {rdBigEndianInteger, "B", {1, 2, 3, 4}, {"\"B\"=hex(5):01,02,03,04"}},
        {rdLink, "K", {0x41}, {"\"K\"=hex(6):41"}},
        {rdMultiString, "M", {'a', 0, 'b', 0, 0}, {"\"M\"=hex(7):61,00,62,00,00"}},
        {rdResourceList, "R", {1}, {"\"R\"=hex(8):01"}},
        {rdFullResourceDescriptor, "F", {1}, {"\"F\"=hex(9):01"}},
        {rdResourceRequirementsList, "Q", {1}, {"\"Q\"=hex(A):01"}},
        {rdInt64, "I", {1, 0, 0, 0, 0, 0, 0, 0}, {"\"I\"=hex(B):01,00,00,00,00,00,00,00"}},
        {rdLittleEndianInt64, "J", {2}, {"\"J\"=hex(B):02"}},
        {rdNone, "N", {1, 2}, {}},
        {rdUnknown, "U", {1, 2}, {}},
        {rdBinary, "L", long40, {first, "  AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB,AB"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name + " type " + std::to_string(int(c.type)));
        TRegistryChange change(nullptr);
        change.EntryType = htValue;
        change.Action = haChange;
        change.RootKey = HKEY_CURRENT_USER;
        change.KeyPath = "\\K\\";
        change.Value = c.name;
        change.DataType = c.type;
        change.NewData = stream(c.data);
        std::vector<std::string> want = {"[HKEY_CURRENT_USER\\K\\]"};
        want.insert(want.end(), c.lines.begin(), c.lines.end());
        want.emplace_back();
        EXPECT_EQ(redoOf(change), want);
    }
}

TEST_F(HistoryTest, DefaultValueAndRootKeyRecords)
{
    writeRaw(HKEY_CURRENT_USER, "\\Software\\D", "", REG_SZ, bytesOf("x", true));
    store().RecordValueDelete(HKEY_CURRENT_USER, "\\Software\\D", "");
    store().RecordKeyNew(HKEY_LOCAL_MACHINE, "");
    reload();
    EXPECT_EQ(redoOf(*store().Item(0)), (std::vector<std::string>{"[HKEY_CURRENT_USER\\Software\\D\\]", "\"\"=-", ""}));
    EXPECT_EQ(undoOf(*store().Item(0)),
              (std::vector<std::string>{"[HKEY_CURRENT_USER\\Software\\D\\]", "@=\"x\"", ""}));
    EXPECT_EQ(store().Item(1)->KeyPath, "\\");
    // Undoing the creation of a root must not empty it.
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Keep"));
    store().Item(1)->Undo();
    EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Keep"));
}

// Undo and redo of every record kind straight against the registry, with a
// whole key tree taken back in the window's order (last record first).
TEST_F(HistoryTest, UndoAndRedoAgainstTheLiveRegistry)
{
    const std::string a = "\\Software\\A";
    writeRaw(HKEY_CURRENT_USER, a, "v", REG_SZ, bytesOf("one", true));
    writeRaw(HKEY_CURRENT_USER, a + "\\B", "w", REG_MULTI_SZ, {'x', 0, 0});
    writeRaw(HKEY_CURRENT_USER, a + "\\B\\C", "", REG_NONE, {7});
    store().RecordKeyDelete(HKEY_CURRENT_USER, a);
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, a));
    reload();
    ASSERT_EQ(store().Count(), 6u);

    for (size_t i = store().Count(); i-- > 0;)
        store().Item(i)->Undo();
    uint32_t code = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, a, "v", code, data));
    EXPECT_EQ(code, DWORD(REG_SZ));
    EXPECT_EQ(data, bytesOf("one", true));
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, a + "\\B", "w", code, data));
    EXPECT_EQ(code, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(data, std::vector<uint8_t>({'x', 0, 0}));
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, a + "\\B\\C", "", code, data));
    EXPECT_EQ(code, DWORD(REG_NONE));
    EXPECT_EQ(data, std::vector<uint8_t>({7}));

    // Redo in the same order: the key itself goes first, with everything.
    store().Item(5)->Redo();
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, a));
    for (size_t i = store().Count(); i-- > 0;)
        store().Item(i)->Redo(); // nothing left to delete: silently skipped
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, a));

    // Values: created, changed.
    const std::string k = "\\Software\\V";
    writeRaw(HKEY_CURRENT_USER, k, "n", REG_DWORD, {5, 0, 0, 0});
    store().RecordValueNew(HKEY_CURRENT_USER, k, rdInteger, "n");
    writeRaw(HKEY_CURRENT_USER, k, "n", REG_DWORD, {6, 0, 0, 0});
    store().RecordValueChange(HKEY_CURRENT_USER, k, stream({5, 0, 0, 0}), rdInteger, "n");
    TRegistryChange &created = *store().Item(store().Count() - 2);
    TRegistryChange &changed = *store().Item(store().Count() - 1);
    changed.Undo();
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, k, "n", code, data));
    EXPECT_EQ(data, std::vector<uint8_t>({5, 0, 0, 0}));
    changed.Redo();
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, k, "n", code, data));
    EXPECT_EQ(data, std::vector<uint8_t>({6, 0, 0, 0}));
    created.Undo();
    EXPECT_FALSE(readRaw(HKEY_CURRENT_USER, k, "n", code, data));
    created.Redo();
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, k, "n", code, data));
    EXPECT_EQ(data, std::vector<uint8_t>({5, 0, 0, 0}));
    // A key created: undo deletes it with what is below, redo makes it again.
    store().RecordKeyNew(HKEY_CURRENT_USER, k);
    store().Item(store().Count() - 1)->Undo();
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, k));
    store().Item(store().Count() - 1)->Redo();
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, k));
}

// The fixed bias taken at start-up applies to every timestamp, whatever its
// date: a summer and a winter record keep their local difference, and a run
// started under standard time shows a record made under daylight time one
// hour earlier.
TEST(HistoryTime, FixedBiasAcrossDaylightSavingChange)
{
    const TDateTime july = 45488.5;    // 2024-07-15 12:00 local
    const TDateTime january = 45306.5; // 2024-01-15 12:00 local
    const int summerBias = -120, winterBias = -60;
    EXPECT_EQ(DateTimeToHistorySeconds(july, summerBias), 1721037600);    // 10:00 UTC
    EXPECT_EQ(DateTimeToHistorySeconds(january, summerBias), 1705312800); // the same bias in winter
    EXPECT_EQ(DateTimeToHistorySeconds(july, summerBias) - DateTimeToHistorySeconds(january, summerBias),
              int32_t((july - january) * 86400));
    EXPECT_EQ(FormatHistoryTimestamp(HistorySecondsToDateTime(1721037600, summerBias)), "2024-07-15 12:00:00");
    EXPECT_EQ(FormatHistoryTimestamp(HistorySecondsToDateTime(1721037600, winterBias)), "2024-07-15 11:00:00");
    EXPECT_EQ(FormatHistoryTimestamp(HistorySecondsToDateTime(0, 0)), "1970-01-01 00:00:00");
    EXPECT_EQ(FormatHistoryTimestamp(45351.99999), "2024-02-29 23:59:59");
}

TEST_F(HistoryTest, TimestampsSurviveTheDatabase)
{
    SetStartupTimeZoneBias(-120);
    const TDateTime before = LocalNow();
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\T");
    const double stored = store().Item(0)->Timestamp;
    EXPECT_NEAR(stored, before, 5.0 / 86400);
    const qint64 seconds =
        qint64(shellQuery(dbPath(), "select timestamp from registry_history")[0].toObject()["timestamp"].toDouble());
    EXPECT_EQ(seconds, DateTimeToHistorySeconds(stored, -120));
    reload();
    EXPECT_NEAR(store().Item(0)->Timestamp, stored, 0.51 / 86400);
}

TEST_F(HistoryTest, SortingByEachColumn)
{
    auto add = [&](uint32_t id, double time, THistoryType t, THistoryAction a, HKEY root, const char *path,
                   const char *value, TRegDataType type) {
        store().AddRecord(t, a, root, path, value, type, nullptr, nullptr);
        TRegistryChange &c = *store().Item(store().Count() - 1);
        c.TableIndex = id;
        c.Timestamp = time;
    };
    add(1, 45000.0, htKey, haNew, HKEY_LOCAL_MACHINE, "\\software\\b\\", "", rdNone);
    add(2, 45002.0, htValue, haDelete, HKEY_CLASSES_ROOT, "\\SOFTWARE\\A\\", "Zed", rdString);
    add(3, 45001.0, htValue, haChange, HKEY_DYN_DATA, "\\Software\\c\\", "alpha", rdBinary);
    add(4, 45000.0 + 0.2 / 86400, htKey, haDelete, HKEY_CURRENT_USER, "\\software\\a\\", "", rdNone);
    auto ids = [&] {
        std::string out;
        for (size_t i = 0; i < store().Count(); ++i)
            out += std::to_string(store().Item(i)->TableIndex);
        return out;
    };
    const std::map<int, std::vector<std::string>> want = {
        {0, {"4321"}}, {1, {"2314", "2341"}}, {2, {"14", "41"}},     {3, {"2413", "4213"}},
        {4, {"2413"}}, {5, {"2413", "4213"}}, {6, {"1432", "4132"}}, {7, {"1423", "4123"}},
    };
    for (const auto &[column, accepted] : want) {
        store().SortByColumn(column);
        const std::string got = ids();
        SCOPED_TRACE(column);
        // Ties come in no particular order; only the prefix that is decided counts.
        bool ok = false;
        for (const std::string &a : accepted)
            ok = ok || got.compare(0, a.size(), a) == 0;
        EXPECT_TRUE(ok) << got;
    }
}

TEST_F(HistoryTest, DeletedRecordIsGoneAndItsIdNeverComesBack)
{
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\One");
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Two");
    store().Item(1)->DeleteFromDatabase();
    EXPECT_EQ(store().Count(), 2u); // stays until the next load
    reload();
    ASSERT_EQ(store().Count(), 1u);
    EXPECT_EQ(store().Item(0)->KeyPath, "\\One\\");
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Three");
    EXPECT_EQ(store().Item(1)->TableIndex, 3u);
}

// A failure in the middle of one operation leaves none of its rows, in the
// file and in memory; earlier operations stay.
TEST_F(HistoryTest, OneOperationIsAllRowsOrNone)
{
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Before");
    store().ExecSql("CREATE TRIGGER boom BEFORE INSERT ON registry_history WHEN NEW.value = 'boom' "
                    "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const std::string a = "\\Software\\Big";
    for (int i = 0; i < 20; ++i)
        writeRaw(HKEY_CURRENT_USER, a + "\\S" + std::to_string(i), "v", REG_SZ, bytesOf("x", true));
    writeRaw(HKEY_CURRENT_USER, a + "\\S7", "boom", REG_SZ, bytesOf("x", true));
    EXPECT_THROW(store().RecordKeyDelete(HKEY_CURRENT_USER, a), ESQLiteException);
    EXPECT_EQ(store().Count(), 1u);
    EXPECT_EQ(shellScalar(dbPath(), "select count(*) from registry_history"), "1");
    // The store goes on working after the failed operation.
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\After");
    EXPECT_EQ(shellScalar(dbPath(), "select count(*) from registry_history"), "2");
}

// Files that cannot serve as the history: a clear message, and the file keeps
// every byte it had.
TEST_F(HistoryTest, UnusableDatabaseFilesAreReportedAndLeftAlone)
{
    fs::create_directories(m_dir / "cases");
    const fs::path blocked = m_dir / "cases" / "file-not-folder";
    std::ofstream(blocked) << "x";
    const fs::path damaged = m_dir / "cases" / "damaged.sqlite";
    std::string junk(4096, '\x5A');
    junk.replace(0, 16, "SQLite format 3");
    std::ofstream(damaged, std::ios::binary) << junk;
    const fs::path foreign = m_dir / "cases" / "foreign.sqlite";
    shellQuery(foreign, "CREATE TABLE Registry_History (id INTEGER PRIMARY KEY, what TEXT); "
                        "INSERT INTO Registry_History (what) VALUES ('keep me')");
    const fs::path text = m_dir / "cases" / "notes.txt";
    std::ofstream(text) << "just some text, not a database at all, long enough to be read as a header....";
    // A database of another program, also behind a link, never gains the table.
    const fs::path other = m_dir / "cases" / "other.sqlite";
    shellQuery(other, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('mine')");
    const fs::path linked = m_dir / "cases" / "linked.sqlite";
    fs::create_symlink(other, linked);
    const fs::path toNull = m_dir / "cases" / "null.sqlite";
    fs::create_symlink("/dev/null", toNull);
    const fs::path fifo = m_dir / "cases" / "fifo.sqlite";
    ASSERT_EQ(std::system(("mkfifo '" + fifo.string() + "'").c_str()), 0);

    struct Case {
        fs::path path;
        std::string needle;
    };
    const std::vector<Case> cases = {
        {blocked / "history.sqlite", "cannot create the folder"},
        {damaged, "not a database"},
        {foreign, "lacks the columns"},
        {text, "not a database"},
        {other, "tables of another program"},
        {linked, "symbolic link"},
        {toNull, "symbolic link"},
        {fifo, "not a regular file"},
        {"/dev/null", "not a regular file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.string());
        const bool plain = fs::is_regular_file(fs::symlink_status(c.path));
        const std::string before = plain ? readFile(c.path) : std::string();
        try {
            TRegistryChangeHistory h(c.path.string());
            ADD_FAILURE() << "opened";
        } catch (const ESQLiteException &e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("Failed to open database \"" + c.path.string() + "\" : ", 0), 0u) << message;
            EXPECT_NE(message.find(c.needle), std::string::npos) << message;
        }
        EXPECT_EQ(plain ? readFile(c.path) : std::string(), before);
    }
    EXPECT_EQ(shellScalar(foreign, "select what from Registry_History"), "keep me");
    EXPECT_EQ(shellScalar(other, "select t from notes"), "mine");
    EXPECT_EQ(shellScalar(other, "select count(*) from sqlite_master where name = 'registry_history'"), "0");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(linked)));
}

// The folders and the file the history makes are the user's own.
TEST_F(HistoryTest, MadeFilesAndFoldersAreTheUsersOwn)
{
    ASSERT_FALSE(fs::exists(dbPath().parent_path()));
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\Test");
    EXPECT_EQ(fs::status(dbPath()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dbPath().parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

// ---- A killed writer --------------------------------------------------------

namespace
{
constexpr int kRowsPerOperation = 400;
}

// Run only as the child of the test below: records operations until killed.
TEST(HistoryKill, DISABLED_ChildWriter)
{
    const QByteArray path = qgetenv("VT_HISTORY_KILL_DB");
    if (path.isEmpty())
        GTEST_SKIP() << "only run by HistoryKill.KilledWriterLeavesWholeOperations";
    TRegistryChangeHistory h(path.toStdString());
    const std::string round = qgetenv("VT_HISTORY_KILL_ROUND").toStdString();
    const TMemoryStream data = stream(std::vector<uint8_t>(300, 0x42));
    for (int op = 0;; ++op) {
        TRegistryChangeHistory::TOperation scope(h);
        const std::string key = "\\Op" + round + "_" + std::to_string(op) + "\\";
        for (int i = 0; i < kRowsPerOperation; ++i)
            h.AddRecord(htValue, haDelete, HKEY_CURRENT_USER, key, "v" + std::to_string(i), rdBinary, &data, nullptr);
        scope.Commit();
        h.Clear();
    }
}

TEST(HistoryKill, KilledWriterLeavesWholeOperations)
{
    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() / ("vt-history-kill-" + std::to_string(rd()));
    fs::create_directories(dir);
    const fs::path db = dir / "history.sqlite";
    const QString self = QString::fromStdString(fs::read_symlink("/proc/self/exe").string());
    std::mt19937 random(rd());
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_HISTORY_KILL_DB"), QString::fromStdString(db.string()));
        env.insert(QStringLiteral("VT_HISTORY_KILL_ROUND"), QString::number(round));
        child.setProcessEnvironment(env);
        child.start(self, {QStringLiteral("--gtest_filter=HistoryKill.DISABLED_ChildWriter"),
                           QStringLiteral("--gtest_also_run_disabled_tests")});
        ASSERT_TRUE(child.waitForStarted());
        child.waitForFinished(int(200 + random() % 500)); // the writer never ends on its own
        ASSERT_EQ(child.state(), QProcess::Running) << child.readAllStandardOutput().toStdString();
        child.kill();
        child.waitForFinished();
    }
    EXPECT_EQ(shellScalar(db, "PRAGMA integrity_check"), "ok");
    const QJsonArray groups = shellQuery(db, "select key, count(*) as n from registry_history group by key");
    EXPECT_FALSE(groups.isEmpty());
    for (const auto &g : groups)
        EXPECT_EQ(g.toObject()["n"].toInt(), kRowsPerOperation) << g.toObject()["key"].toString().toStdString();
    std::error_code ec;
    fs::remove_all(dir, ec);
}
