// Developer tool, not a test: builds the main window on a fresh temporary
// system, jumps to a key with values of several types, and saves the window
// as a PNG for the README. Run under a real X server (xvfb-run) for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" app_screenshot docs/screenshot.png

#include "app/FormUnitMain.h"
#include "core/kltRegistry.h"
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

    // A key with one value of each common type beside what the system has.
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        reg.OpenKey("\\Software\\Brakmoor\\Vantrel\\Sample", true);
        reg.WriteString("", "Values of every common type");
        reg.WriteString("InstallFolder", "C:\\Program Files\\Vantrel");
        reg.WriteExpandString("LogFile", "%LOCALAPPDATA%\\Vantrel\\vantrel.log");
        reg.WriteMultiString("RecentKeys", "HKEY_LOCAL_MACHINE\\SOFTWARE\r\nHKEY_CURRENT_USER\\Software\r\n");
        reg.WriteInteger("WindowState", 2);
        reg.WriteBigEndianInteger("NetworkOrder", 0x0A000001);
        reg.WriteInt64("InstallTime", 133780000000000000LL);
        const unsigned char blob[] = {0x56, 0x61, 0x6E, 0x74, 0x72, 0x65, 0x6C, 0x00, 0x01, 0x02, 0xFF};
        reg.WriteBinaryData("Signature", blob, sizeof blob);
        reg.WriteNone("Marker");
        reg.CloseKey();
    }

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
                                : QStringLiteral("HKEY_CURRENT_USER\\Software\\Brakmoor\\Vantrel\\Sample"));
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
