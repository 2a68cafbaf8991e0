// Developer tool, not a test: opens a hive file for recovery in the main
// window, selects a key that holds deleted values and saves the window as a
// PNG for the documentation. Run under a real X server (xvfb-run) for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" recovery_screenshot docs/screenshot-recovery.png HIVE 'Key\Path'

#include "app/FormUnitMain.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: recovery_screenshot FILE.png HIVE KEY\n");
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
        if (!window.OpenHiveRecoveryView(QString::fromLocal8Bit(argv[2])))
            return 1;
        QTreeWidgetItem *node = window.tvKeys->topLevelItem(window.tvKeys->topLevelItemCount() - 1);
        for (const QString &name : QString::fromLocal8Bit(argv[3]).split('\\')) {
            QTreeWidgetItem *next = nullptr;
            for (int i = 0; node && i < node->childCount(); ++i)
                if (node->child(i)->text(0) == name)
                    next = node->child(i);
            if (!next)
                break;
            node->setExpanded(true);
            node = next;
        }
        window.tvKeys->setCurrentItem(node);
        window.tvKeysChange();
        window.tvKeys->scrollToItem(node);
        // The first row selected, so that the deleted rows below show their colour.
        if (window.lvData->topLevelItemCount() > 0)
            window.lvData->setCurrentItem(window.lvData->topLevelItem(0));
        QTest::qWait(200);
        if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
    }
    vt::platform::closeSystem();
    return result;
}
