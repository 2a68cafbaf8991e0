// Developer tool, not a test: the rule dialog for a value of a fresh
// temporary system, as the value list's "Copy OpenZTI rule to clipboard"
// opens it, saved as a PNG for the docs. Run under a real X server for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" rules_screenshot docs/screenshot-rules.png

#include "core/kltRegistry.h"
#include "editors/gui/EditorModal.h"
#include "knowledge/gui/FormUnitZTIValue.h"

#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QRadioButton>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rules_screenshot FILE.png\n");
        return 2;
    }
    vt::knowledge::TformOpenZTIValue dialog;
    int result = 0;
    vt::editors::setNextEditorDriver([&](QDialog &) {
        dialog.cbDescription->setCurrentIndex(18); // <$REG_AUTORUN>
        dialog.rbRegyValue->setChecked(true);
        if (!QTest::qWaitForWindowExposed(&dialog))
            std::fprintf(stderr, "the dialog was not exposed; the picture may be empty\n");
        QTest::qWait(200);
        if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
    });
    std::string line;
    dialog.Execute(HKEY_CURRENT_USER, rdString, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Example",
                   "C:\\Program Files\\Example\\updater.exe /background", line);
    return result;
}
