// Developer tool, not a test: builds the main window on a fresh temporary
// system, exactly as a first start creates it, jumps to a key that system has
// and saves the window as a PNG for the README. Run under a real X server
// (xvfb-run) for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" app_screenshot docs/screenshot-main.png

#include "app/FormUnitMain.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_screenshot FILE.png [KEY]\n");
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
        // Open the machine's root too, so both software views show.
        for (int i = 0; i < window.MyComputerNode()->childCount(); ++i)
            if (window.MyComputerNode()->child(i)->text(0) == QLatin1String("HKEY_LOCAL_MACHINE"))
                window.MyComputerNode()->child(i)->setExpanded(true);
        window.GoToKey(argc > 2 ? QString::fromLocal8Bit(argv[2])
                                : QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
        window.tvKeys->scrollToItem(window.tvKeys->currentItem());
        QTest::qWait(200);
        if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
    }
    vt::platform::closeSystem();
    return result;
}
