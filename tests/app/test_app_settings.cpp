// The settings store over both sources, window placements across two starts
// of the windows, LastKey, and the command line.

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "app/vtCommandLine.h"
#include "app/vtSearchSettings.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"
#include "search/gui/FormUnitSearch.h"
#include "search/gui/SearchResultsModel.h"
#include "tests/support/TempSystem.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

#include <cstring>
#include <fstream>

using namespace vt::app;

namespace
{

const std::string kSettings = "\\Software\\Brakmoor\\Vantrel\\";

void writeRaw(HKEY root, const std::string &path, const std::string &name, uint32_t code,
              const std::vector<uint8_t> &bytes)
{
    TMyRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    reg.writeValue(name, code, bytes);
}

std::vector<uint8_t> text(const std::string &s)
{
    std::vector<uint8_t> b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

std::vector<uint8_t> dword(uint32_t v)
{
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

// A registry file that creates HKEY_CURRENT_USER\Software\<key>.
QString writeRegFile(const QTemporaryDir &dir, const QString &name, const char *key)
{
    const QString file = dir.filePath(name);
    QFile f(file);
    if (f.open(QIODevice::WriteOnly))
        f.write(QByteArray("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\") + key + "]\r\n\"A\"=dword:00000001\r\n");
    return file;
}

std::vector<uint8_t> float8(double v)
{
    std::vector<uint8_t> b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}

class Settings : public ::testing::Test
{
protected:
    vt::test::TempSystem sys;
    void SetUp() override
    {
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        TMultiConfigReader::ReloadUserBranches();
        SetProgramCommandLine({});
        vt::i18n::clearAnswers();
    }
    void TearDown() override { SetProgramCommandLine({}); }
};

// The machine's value wins over the user's one; with the other source order
// the user's wins. A root HKEY_USERS stands for every user's branch.
TEST_F(Settings, MachineBranchHasTheLastWord)
{
    TKLTConfigManager config;
    writeRaw(HKEY_LOCAL_MACHINE, kSettings, "SearchTerm", REG_SZ, text("machine"));
    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchTerm", REG_SZ, text("user"));
    writeRaw(HKEY_CURRENT_USER, kSettings, "OnlyUser", REG_SZ, text("mine"));
    std::string value;
    ASSERT_TRUE(config.ReadString("SearchTerm", value));
    EXPECT_EQ(value, "machine");
    ASSERT_TRUE(config.ReadString("OnlyUser", value));
    EXPECT_EQ(value, "mine");
    EXPECT_FALSE(config.ReadString("Nowhere", value));
    EXPECT_EQ(value, "mine") << "a miss leaves the value alone";

    config.SourceOrder = 0;
    ASSERT_TRUE(config.ReadString("SearchTerm", value));
    EXPECT_EQ(value, "user");

    // Writes go to the user's branch only.
    ASSERT_TRUE(config.WriteString("SearchTerm", "typed"));
    config.SourceOrder = 1;
    ASSERT_TRUE(config.ReadString("SearchTerm", value));
    EXPECT_EQ(value, "machine");
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKeyReadOnly(kSettings));
    EXPECT_EQ(reg.ReadString("SearchTerm"), "typed");

    TMultiConfigReader users;
    users.AddRoot(HKEY_USERS);
    users.Paths.push_back(kSettings);
    ASSERT_TRUE(users.ReadString("OnlyUser", value));
    EXPECT_EQ(value, "mine");
}

// Each kind reads only its own stored type; anything else is absent.
TEST_F(Settings, ValuesOfTheWrongTypeCountAsAbsent)
{
    struct Case {
        const char *name;
        uint32_t type;
        std::vector<uint8_t> bytes;
        char kind; // b, i, f, s
        bool found;
    };
    const std::vector<Case> cases = {
        {"BoolDword", REG_DWORD, dword(7), 'b', true},
        {"BoolText", REG_SZ, text("1"), 'b', false},
        {"IntDword", REG_DWORD, dword(0xFFFFFFFF), 'i', true},
        {"IntQword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 'i', false},
        {"IntBigEndian", REG_DWORD_BIG_ENDIAN, dword(1), 'i', false},
        {"IntShort", REG_DWORD, {1, 0}, 'i', false},
        {"FloatBinary", REG_BINARY, float8(45000.5), 'f', true},
        {"FloatSeven", REG_BINARY, {1, 2, 3, 4, 5, 6, 7}, 'f', false},
        {"FloatDword", REG_DWORD, dword(1), 'f', false},
        {"TextSz", REG_SZ, text("x"), 's', true},
        {"TextExpand", REG_EXPAND_SZ, text("x"), 's', false},
        {"TextMulti", REG_MULTI_SZ, {'x', 0, 0}, 's', false},
    };
    for (const Case &c : cases)
        writeRaw(HKEY_CURRENT_USER, kSettings, c.name, c.type, c.bytes);
    const TKLTConfigManager &config = ConfigManager();
    for (const Case &c : cases) {
        bool b = false;
        int i = 0;
        double f = 0;
        std::string s;
        bool found = false;
        switch (c.kind) {
        case 'b':
            found = config.ReadBool(c.name, b);
            break;
        case 'i':
            found = config.ReadInteger(c.name, i);
            break;
        case 'f':
            found = config.ReadFloat(c.name, f);
            break;
        default:
            found = config.ReadString(c.name, s);
        }
        EXPECT_EQ(found, c.found) << c.name;
    }
    bool b = false;
    ASSERT_TRUE(config.ReadBool("BoolDword", b));
    EXPECT_TRUE(b);
    int i = 0;
    ASSERT_TRUE(config.ReadInteger("IntDword", i));
    EXPECT_EQ(i, -1);
    double f = 0;
    ASSERT_TRUE(config.ReadFloat("FloatBinary", f));
    EXPECT_EQ(f, 45000.5);
}

// The search window's settings: defaults, a damaged style, and a date-time
// that comes back as its day and its time of day.
TEST_F(Settings, SearchSettingsKeepTypeRulesAndDates)
{
    TSearchSettings defaults;
    EXPECT_TRUE(defaults.SearchKeys && defaults.SearchValues && defaults.SearchData);
    EXPECT_FALSE(defaults.SearchIgnoreCase || defaults.SearchTypeBinary || defaults.SearchRange);

    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchIgnoreCase", REG_SZ, text("1"));
    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchStyle", REG_DWORD, dword(9));
    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchByDateMode", REG_DWORD, dword(3));
    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchKeys", REG_DWORD, dword(0));
    TSearchSettings read;
    read.SearchStyle = 2;
    read.Read(ConfigManager());
    EXPECT_FALSE(read.SearchIgnoreCase);
    EXPECT_EQ(read.SearchStyle, 0) << "out of range: the first style";
    EXPECT_EQ(read.SearchByDateMode, 3);
    EXPECT_FALSE(read.SearchKeys);

    read.SearchDateTime2 = DateTimeFromParts(QDate(2024, 2, 29), QTime(18, 30));
    read.SearchTerm = "needle";
    read.Write(ConfigManager());
    TSearchSettings again;
    again.Read(ConfigManager());
    QDate date;
    QTime time;
    DateTimeToParts(again.SearchDateTime2, date, time);
    EXPECT_EQ(date, QDate(2024, 2, 29));
    EXPECT_EQ(time, QTime(18, 30));
    EXPECT_EQ(again.SearchTerm, "needle");
    DateTimeToParts(std::nan(""), date, time);
    EXPECT_EQ(date, QDate(1899, 12, 30));
}

// Placements: a maximised window saves only its state; a placement off every
// screen or with a negative size falls back to what the window had.
TEST_F(Settings, PlacementsRefuseDamagedValues)
{
    QWidget form;
    form.setObjectName(QStringLiteral("formProbe"));
    form.move(50, 60);
    form.resize(400, 300);
    const std::string sub = "UI\\Forms\\formProbe";
    TKLTConfigManager &config = ConfigManager();
    EXPECT_EQ(config.FormPath(&form), kSettings + sub);
    config.SaveFormPlacement(&form);
    int v = 0;
    ASSERT_TRUE(config.ReadInteger("Width", v, sub));
    EXPECT_EQ(v, 400);

    form.setWindowState(Qt::WindowMaximized);
    config.WriteInteger("Width", 123, false, sub); // a trace to prove no bounds are written
    config.SaveFormPlacement(&form);
    ASSERT_TRUE(config.ReadInteger("WindowState", v, sub));
    EXPECT_EQ(v, 2);
    ASSERT_TRUE(config.ReadInteger("Width", v, sub));
    EXPECT_EQ(v, 123);

    QWidget other;
    other.setObjectName(QStringLiteral("formProbe"));
    other.move(10, 20);
    other.resize(200, 100);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        int left, top, width, height;
        QRect want;
    };
    const std::vector<Case> cases = {
        {30, 40, 250, 150, QRect(30, 40, 250, 150)},
        {screen.right() + 5000, 40, 250, 150, QRect(10, 20, 200, 100)},
        {30, -9000, 250, 150, QRect(10, 20, 200, 100)},
        {30, 40, -250, 0, QRect(30, 40, 200, 100)},
        {30, 40, 250000000, 150, QRect(30, 40, 200, 150)},
    };
    for (const Case &c : cases) {
        other.setWindowState(Qt::WindowNoState);
        other.move(10, 20);
        other.resize(200, 100);
        config.WriteInteger("Left", c.left, false, sub);
        config.WriteInteger("Top", c.top, false, sub);
        config.WriteInteger("Width", c.width, false, sub);
        config.WriteInteger("Height", c.height, false, sub);
        config.WriteInteger("WindowState", 0, false, sub);
        config.RestoreFormPlacement(&other);
        EXPECT_EQ(QRect(other.pos(), other.size()), c.want) << c.left << "," << c.top << " " << c.width;
    }
}

// Two starts of the windows: the main window's placement and the selected
// key come back, and the second start selects LastKey unless told not to.
TEST_F(Settings, PlacementAndLastKeySurviveARestart)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\Vt Last\\Deep"));
    {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->show();
        w->move(70, 80);
        w->resize(640, 480);
        w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vt Last\\Deep"));
        ASSERT_TRUE(w->close());
    }
    std::string lastKey;
    ASSERT_TRUE(ConfigManager().ReadString("LastKey", lastKey));
    EXPECT_EQ(lastKey, "HKEY_CURRENT_USER\\Software\\Vt Last\\Deep");
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->show();
        EXPECT_EQ(w->pos(), QPoint(70, 80));
        EXPECT_EQ(w->size(), QSize(640, 480));
        ASSERT_TRUE(w->tvKeys->currentItem());
        EXPECT_EQ(w->tvKeys->currentItem()->text(0), QStringLiteral("Deep"));
        w->close();
    }
    TCommandLine noJump = ParseCommandLine({QStringLiteral("/nolastjump")});
    SetProgramCommandLine(noJump);
    {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->show();
        EXPECT_EQ(w->tvKeys->currentItem(), nullptr);
        EXPECT_EQ(w->StatusText(0), QString());
        // Closing with nothing selected remembers the machine's root.
        w->close();
    }
    ASSERT_TRUE(ConfigManager().ReadString("LastKey", lastKey));
    EXPECT_EQ(lastKey, "HKEY_LOCAL_MACHINE");
}

// The machine's search term wins at every start and reaches the search
// window; what its field shows at the end goes to the user's branch. A
// search asked for on the command line sets the window's options and runs
// from its key.
TEST_F(Settings, SearchSettingsAndSearchStartReachTheSearchWindow)
{
    writeRaw(HKEY_LOCAL_MACHINE, kSettings, "SearchTerm", REG_SZ, text("machine"));
    writeRaw(HKEY_CURRENT_USER, kSettings, "SearchTypeBinary", REG_DWORD, {0, 0, 0, 0});
    writeRaw(HKEY_CURRENT_USER, "\\Software\\VtFind\\the needle", "", REG_SZ, text(""));
    {
        TApplicationForms forms;
        auto *search = qobject_cast<vt::search::TformSearch *>(forms.formMain()->formSearch.data());
        ASSERT_NE(search, nullptr);
        forms.formMain()->show();
        EXPECT_EQ(search->editSearchTerm->text(), "machine");
        EXPECT_FALSE(search->cbDataTypeBinary->isChecked());
        search->editSearchTerm->setText("typed");
        forms.formMain()->close();
    }
    std::string user;
    ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, kSettings, "SearchTerm", 32, user));
    EXPECT_EQ(user, "typed");

    SetProgramCommandLine(
        ParseCommandLine({"HKEY_CURRENT_USER\\Software\\VtFind", "needle", "/search", "/type=binary"}));
    {
        TApplicationForms forms;
        auto *search = qobject_cast<vt::search::TformSearch *>(forms.formMain()->formSearch.data());
        ASSERT_NE(search, nullptr);
        forms.formMain()->show();
        EXPECT_EQ(search->editSearchTerm->text(), "needle");
        EXPECT_TRUE(search->cbDataTypeBinary->isChecked());
        EXPECT_TRUE(search->rbRangeKey->isChecked());
        EXPECT_TRUE(search->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !search->Searching(); }, 20000));
        EXPECT_EQ(search->Results()->rowCount(), 1) << "the key found below the command line's key";
        forms.formMain()->close();
    }
}

// "BartPE" in Quillon.ini decides the start-up mode; without a usable value
// the detected answer stands.
TEST_F(Settings, SharedIniFileDecidesTheStartUpMode)
{
    QDir().mkpath(QString::fromStdString(ProgramFolder()));
    const QString ini = QString::fromStdString(ProgramFile("Quillon.ini"));
    struct Case {
        const char *content; // nullptr: no file
        bool detected, want;
    };
    const std::vector<Case> cases = {
        {nullptr, false, false},
        {nullptr, true, true},
        {"[Orvask]\r\nBartPE=1\r\n", false, true},
        {"[Orvask]\r\nBartPE=0\r\n", true, false},
        {"[orvask]\r\nbartpe=2\r\n", true, false},
        {"[Other]\r\nBartPE=1\r\n", true, true},
        {"[Orvask]\r\nBartPE=yes\r\n", false, false},
    };
    for (const Case &c : cases) {
        QFile::remove(ini);
        if (c.content) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
        }
        EXPECT_EQ(ReadBartPESetting(c.detected), c.want) << (c.content ? c.content : "no file") << c.detected;
    }
    QFile::remove(ini);

    // A settings file that is no regular file or too large is not read (a
    // FIFO would block the start, a device never ends): the detected mode
    // holds, at once.
    struct Hostile {
        const char *what;
        std::function<void()> make;
    } hostile[] = {
        {"fifo", [&] { ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {ini}), 0); }},
        {"link to /dev/zero", [&] { ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), ini)); }},
        {"folder", [&] { ASSERT_TRUE(QDir().mkdir(ini)); }},
        {"huge",
         [&] {
             QFile f(ini);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("[Orvask]\r\nBartPE=1\r\n");
             ASSERT_TRUE(f.resize((qint64(1) << 20) + 1)); // over the 1 MiB bound
         }},
    };
    for (const Hostile &h : hostile) {
        SCOPED_TRACE(h.what);
        h.make();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(ReadBartPESetting(false));
        EXPECT_TRUE(ReadBartPESetting(true));
        EXPECT_LT(t.elapsed(), 1000);
        QDir().rmdir(ini);
        QFile::remove(ini);
    }

    SetProgramCommandLine(ParseCommandLine({"-allhives"}));
    TformMain w;
    EXPECT_TRUE(w.BartPEMode());
}

// Argument lists and what they ask for.
TEST(CommandLine, ArgumentListsToOutcome)
{
    struct Case {
        QStringList args;
        QString joined;
        bool silent, gui, noLastJump, allHives, search;
    };
    const std::vector<Case> cases = {
        {{}, "", false, false, false, false, false},
        {{"C:\\My", "Files\\Test.reg", "/s"}, "C:\\My Files\\Test.reg", true, false, false, false, false},
        {{"C:\\My", "Files\\Test.reg", "/S", "/GUI"}, "C:\\My Files\\Test.reg", true, true, false, false, false},
        // "-s" is no switch: it is part of the name, and asks no question away.
        {{"fix.reg", "-s"}, "fix.reg -s", false, false, false, false, false},
        {{"fix.reg", "-gui"}, "fix.reg -gui", false, false, false, false, false},
        // A native path begins with the switch character.
        {{"/home/me/My", "Files/fix.reg", "/s"}, "/home/me/My Files/fix.reg", true, false, false, false, false},
        {{"/nolastjump"}, "", false, false, true, false, false},
        {{"-NoLastJump"}, "", false, false, true, false, false},
        {{"fix.reg", "-allhives"}, "fix.reg", false, false, false, true, false},
        {{"HKEY_LOCAL_MACHINE\\SOFTWARE", "term", "/search", "/style=regexp"},
         "HKEY_LOCAL_MACHINE\\SOFTWARE term",
         false,
         false,
         false,
         false,
         true},
        {{"HKEY_LOCAL_MACHINE\\SOFTWARE", "term", "-search"},
         "HKEY_LOCAL_MACHINE\\SOFTWARE term",
         false,
         false,
         false,
         false,
         true},
        {{"a ", ""}, "a  ", false, false, false, false, false},
        {{"/s/"}, "/s/", false, false, false, false, false},
    };
    for (const Case &c : cases) {
        const TCommandLine cl = ParseCommandLine(c.args);
        const QString what = c.args.join(QLatin1Char('|'));
        EXPECT_EQ(cl.joined, c.joined.endsWith(' ') ? c.joined.chopped(1) : c.joined) << qPrintable(what);
        EXPECT_EQ(cl.silent, c.silent) << qPrintable(what);
        EXPECT_EQ(cl.gui, c.gui) << qPrintable(what);
        EXPECT_EQ(cl.noLastJump, c.noLastJump) << qPrintable(what);
        EXPECT_EQ(cl.allHives, c.allHives) << qPrintable(what);
        EXPECT_EQ(cl.search.has_value(), c.search) << qPrintable(what);
    }
}

TEST(CommandLine, SearchOptionsFollowTheirOrder)
{
    const TCommandLine cl = ParseCommandLine({"HKEY_CURRENT_USER\\Software\\X", "a b", "/search", "/style=regexp",
                                              "-style=wildcard", "/focus=all", "/nofocus=values", "/type=binary",
                                              "/notype=binary", "/noignorecase", "/ignorecase"});
    ASSERT_TRUE(cl.search);
    const TSearchStart &s = *cl.search;
    EXPECT_EQ(s.style, 3) << "regexp is the last of the styles tested";
    EXPECT_EQ(s.focusKeys, true);
    EXPECT_EQ(s.focusValues, false);
    EXPECT_EQ(s.focusData, true);
    EXPECT_EQ(s.typeBinary, false);
    EXPECT_FALSE(s.typeStrings.has_value()) << "not named: the restored setting stays";
    EXPECT_EQ(s.ignoreCase, false) << "noignorecase is applied after ignorecase";
    EXPECT_EQ(s.term, "a b");
    EXPECT_FALSE(s.wholeRegistry);
    EXPECT_EQ(s.root, HKEY_CURRENT_USER);
    EXPECT_EQ(s.keyPath, "\\Software\\X");

    const TCommandLine whole = ParseCommandLine({"*", "x", "-search"});
    ASSERT_TRUE(whole.search);
    EXPECT_TRUE(whole.search->wholeRegistry);
    const TCommandLine bare = ParseCommandLine({"NoBackslash", "x", "/search"});
    ASSERT_TRUE(bare.search);
    EXPECT_EQ(bare.search->root, nullptr);
    EXPECT_EQ(bare.search->keyPath, "NoBackslash");
}

TEST(CommandLine, ProgramOptionsAreTakenOutFirst)
{
    const TProgramOptions o =
        SplitProgramOptions({"--system", "/tmp/x", "-style=regexp", "--as-user", "/s", "--system=/tmp/y", "-platform"});
    EXPECT_EQ(o.systemRoot, "/tmp/y");
    EXPECT_TRUE(o.asUser);
    EXPECT_EQ(o.params, QStringList({"-style=regexp", "/s", "-platform"}));
    EXPECT_FALSE(SplitProgramOptions({"--system"}).error.isEmpty());
}

// The window's start with a file: asked, imported, ended; /s asks nothing;
// No imports nothing; /gui keeps the program.
TEST_F(Settings, CommandLineImportsJumpsAndEnds)
{
    QTemporaryDir dir;
    const QString file = writeRegFile(dir, QStringLiteral("My Files fix.reg"), "VtCmd");
    const QStringList split = file.split(QLatin1Char(' '));
    ASSERT_EQ(split.size(), 3);

    TformMain w;
    vt::i18n::setNextAnswer(vt::i18n::mrNo);
    EXPECT_FALSE(w.ProcessCommandLine(ParseCommandLine(split)));
    // The question names the file.
    EXPECT_EQ(vt::i18n::lastMessage().text,
              vt::i18n::MessageText("DialogConfirmImport") + QStringLiteral("\r\n\r\n") + file);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtCmd"));

    EXPECT_FALSE(w.ProcessCommandLine(ParseCommandLine(split + QStringList{"/s"})));
    EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtCmd"));

    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtCmd"));
    w.show();
    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    EXPECT_TRUE(w.ProcessCommandLine(ParseCommandLine(split + QStringList{"/gui"})));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtCmd"));

    // A Windows path names a file of the replacement system's drive.
    QTemporaryDir driveDir(QString::fromStdString(vt::platform::toNativePath("C:\\")) + QStringLiteral("vt XXXXXX"));
    ASSERT_TRUE(driveDir.isValid());
    writeRegFile(driveDir, QStringLiteral("drive c.reg"), "VtDrive");
    const QString windowsPath =
        QStringLiteral("C:\\") + QDir(driveDir.path()).dirName() + QStringLiteral("\\drive c.reg");
    EXPECT_FALSE(w.ProcessCommandLine(ParseCommandLine(windowsPath.split(QLatin1Char(' ')) + QStringList{"/s"})));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtDrive"));

    // Not a file: a jump, also with blanks around the separators.
    EXPECT_TRUE(w.ProcessCommandLine(ParseCommandLine({"HKEY_CURRENT_USER\\Software", "\\", "VtCmd"})));
    ASSERT_TRUE(w.tvKeys->currentItem());
    EXPECT_EQ(w.tvKeys->currentItem()->text(0), QStringLiteral("VtCmd"));
}

#ifdef VT_GUI_PATH
// The real program: Qt takes none of the switches, and an import without
// /gui ends it.
TEST_F(Settings, RealProgramImportsAndEnds)
{
    QTemporaryDir dir;
    const QString file = writeRegFile(dir, QStringLiteral("a b.reg"), "VtReal");
    const std::string root = sys.root();
    sys.close();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    QStringList args{QStringLiteral("--system"), QString::fromStdString(root)};
    args << file.split(QLatin1Char(' ')) << QStringLiteral("-style=regexp") << QStringLiteral("/s");
    p.start(QStringLiteral(VT_GUI_PATH), args);
    ASSERT_TRUE(p.waitForFinished(60000)) << p.readAllStandardError().toStdString();
    const QString errors = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << qPrintable(errors);
    // Qt would have taken -style=regexp as a widget style it does not know.
    EXPECT_FALSE(errors.contains(QLatin1String("style"))) << qPrintable(errors);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtReal"));
    // What the build installs is in the program's folder now.
    EXPECT_TRUE(QFile::exists(QString::fromStdString(ProgramFile("vantrel.ini"))));
}
#endif

} // namespace

std::string rectText(const QRect &r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

// Starts without a move put the main window back where it was, frame and
// client area alike: the frame's place is stored and restored before the
// window exists, so a frame the window manager reports late (X11) cannot
// turn it into the client area's place and the window creep up by its title
// bar at every start. Offscreen the frame is known at once; under a window
// manager on X this caught the creep.
TEST_F(Settings, MainWindowStaysPutOverRestarts)
{
    std::vector<QRect> frames, clients;
    for (int start = 0; start < 4; ++start) {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        if (start == 0) {
            w->move(60, 90);
            w->resize(700, 500);
            ASSERT_TRUE(QTest::qWaitFor([&] { return w->pos() == QPoint(60, 90); }, 2000))
                << rectText(w->frameGeometry());
        }
        QTest::qWait(50);
        frames.push_back(w->frameGeometry());
        clients.push_back(w->geometry());
        ASSERT_TRUE(w->close());
        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    }
    EXPECT_EQ(frames[0].topLeft(), QPoint(60, 90)) << rectText(frames[0]);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(rectText(frames[i]), rectText(frames[0])) << "frame at start " << i;
        EXPECT_EQ(rectText(clients[i]), rectText(clients[0])) << "client area at start " << i;
    }
}

// A window without a stored place opens centred on the main window; one
// stored partly below the screen comes back onto it whole; a window that was
// never shown stores no place when the program ends, so that it does not
// open at the screen's corner ever after.
TEST_F(Settings, OtherWindowsOpenOnTheScreenNearTheMainWindow)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string bookmarksSub = "UI\\Forms\\formBookmarks";
    const std::string searchSub = "UI\\Forms\\formSearch";
    TKLTConfigManager &config = ConfigManager();
    config.WriteInteger("Left", area.left() + 40, false, bookmarksSub);
    config.WriteInteger("Top", area.bottom() - 150, false, bookmarksSub);
    config.WriteInteger("Width", 420, false, bookmarksSub);
    config.WriteInteger("Height", 400, false, bookmarksSub);
    config.WriteInteger("WindowState", 0, false, bookmarksSub);
    {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->move(area.left() + 40, area.top() + 120);
        w->resize(720, 520);
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        QWidget *search = forms.form(QStringLiteral("formSearch"));
        QWidget *bookmarks = forms.form(QStringLiteral("formBookmarks"));
        ASSERT_TRUE(search && bookmarks);

        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(search));
        ASSERT_TRUE(area.contains(w->frameGeometry()));
        ASSERT_LT(search->width(), w->width()) << "room to centre it";
        const QPoint off = search->frameGeometry().center() - w->frameGeometry().center();
        EXPECT_LE(off.manhattanLength(), 4)
            << "search at " << rectText(search->frameGeometry()) << ", main at " << rectText(w->frameGeometry());
        search->close();

        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        // The manager runs modal: it is measured and closed from within.
        bool seen = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!bookmarks->isVisible())
                return;
            poll.stop();
            seen = true;
            EXPECT_TRUE(area.contains(bookmarks->frameGeometry())) << rectText(bookmarks->frameGeometry());
            EXPECT_NEAR(bookmarks->x(), area.left() + 40, 2); // a window manager's border may shift it
            EXPECT_EQ(bookmarks->width(), 420);
            bookmarks->close();
        });
        poll.start();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_M, Qt::ControlModifier);
        QTest::qWaitFor([&] { return seen && !bookmarks->isVisible(); }, 5000);
        EXPECT_TRUE(seen) << "the bookmarks manager opened";
        ASSERT_TRUE(w->close());
    }
    int value = 0;
    for (const char *never : {"formEditString", "formEditInteger", "formValueType", "formHistory", "formOpenZTIValue",
                              "formImportProgress"}) {
        EXPECT_FALSE(config.ReadInteger("Left", value, std::string("UI\\Forms\\") + never)) << never;
        EXPECT_FALSE(config.ReadInteger("WindowState", value, std::string("UI\\Forms\\") + never)) << never;
    }
    int left = 0, top = 0, height = 0;
    ASSERT_TRUE(config.ReadInteger("Left", left, searchSub));
    ASSERT_TRUE(config.ReadInteger("Top", top, searchSub));
    ASSERT_TRUE(config.ReadInteger("Top", value, bookmarksSub));
    ASSERT_TRUE(config.ReadInteger("Height", height, bookmarksSub));
    EXPECT_LT(value, area.bottom() - 150) << "the bookmarks window's place as it was shown";
    EXPECT_LT(value + height / 2, area.bottom());

    // Next start: the search window opens where it was, not centred anew on
    // the main window that moved.
    {
        TApplicationForms forms;
        TformMain *w = forms.formMain();
        w->move(area.left() + 10, area.top() + 10);
        w->show();
        QWidget *search = forms.form(QStringLiteral("formSearch"));
        search->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(search));
        EXPECT_EQ(search->pos(), QPoint(left, top));
        search->close();
        w->close();
    }
}
