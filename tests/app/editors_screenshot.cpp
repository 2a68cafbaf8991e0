// Developer tool, not a test: the main window with the hex view under the
// value list, and the value editors as they open from it, in one picture
// for the docs. Run under a real X server (xvfb-run) for fonts.
//
//   xvfb-run -s "-screen 0 1600x1000x24" editors_screenshot docs/screenshot-editors.png

#include "app/FormUnitMain.h"
#include "editors/gui/EditorModal.h"
#include "editors/gui/vzoHexView.h"
#include "platform/vtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

namespace
{

void write(const char *name, uint32_t code, const std::vector<uint8_t> &bytes)
{
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.OpenKey("\\Software\\Vantrel sample", true);
    reg.writeValue(name, code, bytes);
}

QTreeWidgetItem *rowOf(vt::app::TformMain &w, const QString &name)
{
    for (int i = 0; i < w.lvData->topLevelItemCount(); ++i)
        if (w.lvData->topLevelItem(i)->text(0) == name)
            return w.lvData->topLevelItem(i);
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: editors_screenshot FILE.png\n");
        return 2;
    }
    QTemporaryDir dir;
    vt::platform::SystemOptions options;
    options.root = dir.path().toStdString() + "/system";
    if (vt::platform::openSystem(options) != ERROR_SUCCESS)
        return 1;
    std::vector<uint8_t> blob(300);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = uint8_t(i * 37 + 11);
    const char text[] = "Vantrel shows any value's bytes here.";
    std::copy(text, text + sizeof text - 1, blob.begin());
    write("Blob", REG_BINARY, blob);
    write("Counter", REG_DWORD, {0x2A, 0, 0, 0});
    write("Path", REG_EXPAND_SZ, {'%', 'S', 'y', 's', 't', 'e', 'm', 'R', 'o', 'o', 't', '%', 0});
    write("Lines", REG_MULTI_SZ, {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0});

    int result = 0;
    {
        vt::app::TformMain window;
        window.resize(1000, 620);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            std::fprintf(stderr, "the window was not exposed; the picture may be empty\n");
        window.GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vantrel sample"));
        window.lvData->setCurrentItem(rowOf(window, "Blob"));
        QTest::qWait(200);
        window.lvHexDump->SetCurrentRow(1);
        QTest::qWait(100);
        const QPixmap main = window.grab();

        QPixmap number, type;
        vt::editors::setNextEditorDriver([&](QDialog &dialog) {
            (void)QTest::qWaitForWindowExposed(&dialog);
            QTest::qWait(100);
            number = dialog.grab();
        });
        window.lvData->setCurrentItem(rowOf(window, "Counter"));
        window.aValueChange->trigger();
        vt::editors::setNextEditorDriver([&](QDialog &dialog) {
            (void)QTest::qWaitForWindowExposed(&dialog);
            if (auto *cb = dialog.findChild<QComboBox *>("cbTypeNew"))
                cb->setCurrentIndex(2);
            QTest::qWait(100);
            type = dialog.grab();
        });
        window.aValueChangeType->trigger();

        const int gap = 12;
        QPixmap all(main.width() + gap + std::max(number.width(), type.width()),
                    std::max(main.height(), number.height() + gap + type.height()));
        all.fill(Qt::white);
        QPainter painter(&all);
        painter.drawPixmap(0, 0, main);
        painter.drawPixmap(main.width() + gap, 0, number);
        painter.drawPixmap(main.width() + gap, number.height() + gap, type);
        painter.end();
        if (!all.save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
    }
    vt::platform::closeSystem();
    return result;
}
