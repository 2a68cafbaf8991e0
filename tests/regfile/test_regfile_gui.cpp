// The Export and Import actions with their dialogs answered through the
// seams, the progress window during an import, and the start-up import.
#include "RegfileFixture.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/RegFileText.h"
#include "regfile/gui/FormUnitImportProgress.h"
#include "regfile/gui/RegFileActions.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

using namespace regfiletest;

namespace
{

const std::string kBase = "\\Software\\VtRegfileGui";

class Actions : public TempSystemTest
{
protected:
    void TearDown() override
    {
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        TempSystemTest::TearDown();
    }
    // Answers the next file dialogs with file and filter; records what they were.
    void answer(std::optional<vt::regfile::TFileChoice> choice)
    {
        vt::regfile::setFileDialogSeam([this, choice](QFileDialog &d) {
            seen.push_back({d.objectName(), d.acceptMode(), d.fileMode(), d.defaultSuffix(), d.nameFilters()});
            return choice;
        });
    }
    struct Seen {
        QString name;
        QFileDialog::AcceptMode mode;
        QFileDialog::FileMode fileMode;
        QString suffix;
        QStringList filters;
    };
    std::vector<Seen> seen;
};

TEST_F(Actions, ExportAskForFileAndVersion)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kBase + "\\Sub", "v", 32, "x"));
    const QStringList filters = {"Registry files (v5) (*.reg)", "Win 9x/NT4 registry files (v4) (*.reg)"};

    answer(std::nullopt);
    EXPECT_FALSE(aKeyExportExecute(nullptr, HKEY_CURRENT_USER, kBase, false));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "sdExportReg");
    EXPECT_EQ(seen[0].mode, QFileDialog::AcceptSave);
    EXPECT_EQ(seen[0].suffix, "reg");
    EXPECT_EQ(seen[0].filters, filters);

    struct Case {
        int filter;
        std::string key, start, keyLine;
    } cases[] = {
        {1, kBase, std::string("\xFF\xFE", 2), "[HKEY_CURRENT_USER" + kBase + "\\Sub]"},
        {2, kBase, "REGEDIT4\r\n", "[HKEY_CURRENT_USER" + kBase + "\\Sub]"},
        {2, "", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n", "[HKEY_CURRENT_USER" + kBase + "\\Sub]"}, // the root
    };
    for (const Case &c : cases) {
        const fs::path f = file("export" + std::to_string(c.filter) + ".reg");
        answer(vt::regfile::TFileChoice{QString::fromStdString(f.string()), c.filter});
        EXPECT_TRUE(aKeyExportExecute(nullptr, HKEY_CURRENT_USER, c.key, false));
        std::string data = readAll(f);
        EXPECT_EQ(data.substr(0, c.start.size()), c.start) << c.filter << c.key;
        if (c.filter == 1)
            data = Utf16leBytesToUtf8(reinterpret_cast<const uint8_t *>(data.data()) + 2, data.size() - 2);
        EXPECT_NE(data.find(c.keyLine + "\r\n\"v\"=\"x\"\r\n"), std::string::npos) << c.filter << c.key;
    }
}

TEST_F(Actions, ImportShowsProgressAndStaysResponsive)
{
    std::string text = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 300; ++i)
        text += "[HKEY_CURRENT_USER" + kBase + "\\K" + std::to_string(i) + "]\r\n\"v\"=dword:00000001\r\n";
    writeAll(file("in.reg"), text);

    TformImportProgress progress;
    answer(std::nullopt);
    EXPECT_FALSE(aKeyImportExecute(nullptr, progress));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "odImportReg");
    EXPECT_EQ(seen[0].mode, QFileDialog::AcceptOpen);
    EXPECT_EQ(seen[0].fileMode, QFileDialog::ExistingFile);
    EXPECT_FALSE(progress.isVisible());

    // A timer of the event loop fires while the import runs: the window is up,
    // animated and moving on.
    int ticks = 0;
    bool shownWhileRunning = false, animating = false;
    int maxPercent = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        shownWhileRunning = shownWhileRunning || progress.isVisible();
        animating = animating || progress.isAnimating();
        maxPercent = std::max(maxPercent, progress.pbProgress->value());
    });
    timer.start();
    answer(vt::regfile::TFileChoice{QString::fromStdString(file("in.reg").string()), 2});
    EXPECT_TRUE(aKeyImportExecute(nullptr, progress));
    timer.stop();
    EXPECT_GT(ticks, 10);
    EXPECT_TRUE(shownWhileRunning);
    EXPECT_TRUE(animating);
    EXPECT_GE(maxPercent, 90);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_FALSE(progress.isAnimating());
    EXPECT_EQ(progress.windowTitle(), "Importing registry file...");
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kBase + "\\K299", "v"));

    // A file the reader refuses still closes the window.
    writeAll(file("bad.reg"), "nothing");
    answer(vt::regfile::TFileChoice{QString::fromStdString(file("bad.reg").string()), 1});
    EXPECT_TRUE(aKeyImportExecute(nullptr, progress));
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(Actions, StartupImportAsksUnlessSilent)
{
    const std::string f = file("s.reg").string();
    writeAll(f, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kBase + "]\r\n\"v\"=\"1\"\r\n");
    struct Case {
        bool silent;
        int answer; // 0: no dialog expected
        bool applied;
    } cases[] = {{false, vt::i18n::mrNo, false},
                 {false, vt::i18n::mrCancel, false},
                 {false, vt::i18n::mrYes, true},
                 {true, 0, true}};
    for (const Case &c : cases) {
        DeleteKeyAt(HKEY_CURRENT_USER, kBase);
        vt::i18n::clearAnswers();
        if (c.answer)
            vt::i18n::setNextAnswer(c.answer);
        else
            vt::i18n::setNextAnswer(vt::i18n::mrNo); // must stay unused
        EXPECT_EQ(ImportFileAtStartup(f, c.silent), c.applied) << c.silent << c.answer;
        EXPECT_EQ(ValueExistsAt(HKEY_CURRENT_USER, kBase, "v"), c.applied);
        EXPECT_EQ(vt::i18n::pendingAnswers(), c.answer ? 0 : 1);
        if (c.answer) {
            // The question names the file.
            EXPECT_EQ(vt::i18n::lastMessage().text,
                      "Do you really want to import this file?\r\n\r\n" + QString::fromStdString(f));
            EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Confirmation);
        }
    }
}

} // namespace
