// Developer tool, not a test: the main window on a fresh temporary system
// with the "Security information" tab shown for a key of it, its account
// nodes expanded, saved as a PNG for the README. Run under xvfb-run for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" security_screenshot docs/screenshot-security.png [KEY]

#include "app/FormUnitMain.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: security_screenshot FILE.png [KEY]\n");
        return 2;
    }
    QTemporaryDir dir;
    vt::platform::SystemOptions options;
    options.root = dir.path().toStdString() + "/system";
    if (vt::platform::openSystem(options) != ERROR_SUCCESS)
        return 1;

    int result = 0;
    {
        vt::app::TformMain window;
        window.resize(1100, 680);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            std::fprintf(stderr, "the window was not exposed; the picture may be empty\n");
        window.pcMain->setCurrentWidget(window.tsInfo);
        window.GoToKey(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
        window.tvKeys->scrollToItem(window.tvKeys->currentItem());
        window.tvInfo->expandAll();
        QTest::qWait(200);
        if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
    }
    vt::platform::closeSystem();
    return result;
}
