#include "security/gui/FormUnitSecurityTree.h"

#include "security/zoSecurity.h"

#include <QIcon>
#include <QTreeWidget>

#include <unordered_map>

namespace vt::security_info
{

namespace
{

ImageSource gImages = nullptr;

QTreeWidgetItem *node(QTreeWidgetItem *parent, const std::string &text, int image)
{
    auto *item = new QTreeWidgetItem(parent, {QString::fromStdString(text)});
    item->setData(0, Qt::UserRole, image); // the image position, as the design names it
    if (gImages)
        item->setIcon(0, gImages(image));
    return item;
}

// Updates stay off while the tree is filled, also when a step throws.
struct UpdatesOff {
    QTreeWidget *tree;
    explicit UpdatesOff(QTreeWidget *t) : tree(t) { tree->setUpdatesEnabled(false); }
    ~UpdatesOff() { tree->setUpdatesEnabled(true); }
};

} // namespace

void SetSecurityTreeImages(ImageSource source)
{
    gImages = source;
}

void FillSecurityTree(HKEY root, const std::string &path, QTreeWidget *tree, int viewMode, int accountImage,
                      int categoryImage, int entryImage)
{
    UpdatesOff off(tree);
    tree->clear();
    // The hint belongs to this key only: a key whose info cannot be read
    // shows none rather than the previous key's.
    tree->setToolTip(QString());
    try {
        {
            TMyRegistry64 reg;
            reg.SetViewMode(uint8_t(viewMode));
            reg.SetRootKey(root);
            TRegKeyInfo info;
            if (reg.OpenKeyReadOnly(path) && reg.GetKeyInfo(info)) {
                QStringList lines;
                for (const std::string &line : KeyInfoLines(info))
                    lines << QString::fromStdString(line);
                tree->setToolTip(lines.join(QStringLiteral("\r\n")));
            }
        }
        std::string sddl;
        zoGetRegistrySecurityString(root, path, DACL_SECURITY_INFORMATION, sddl, viewMode);
        std::string kind;
        std::vector<std::string> aces;
        SplitSecurityString(sddl, kind, aces);
        std::unordered_map<std::string, std::string> names;
        QList<QTreeWidgetItem *> top;
        top.reserve(qsizetype(aces.size()));
        for (const std::string &ace : aces) {
            const TAceFields f = SplitAceString(ace);
            auto found = names.find(f.sid);
            if (found == names.end())
                found = names.emplace(f.sid, AccountDisplayName(f.sid)).first;
            QTreeWidgetItem *account = node(nullptr, found->second, accountImage);
            top << account;
            if (!f.type.empty())
                node(node(account, "ACE Type", categoryImage), AceTypeName(f.type), entryImage);
            if (!f.flags.empty()) {
                QTreeWidgetItem *flags = node(account, "ACE Flags", categoryImage);
                for (const std::string &n : AceFlagNames(f.flags))
                    node(flags, n, entryImage);
            }
            QTreeWidgetItem *rights = node(account, "Rights", categoryImage);
            for (const std::string &n : RightNames(f.rights))
                node(rights, n, entryImage);
            if (!f.objectGuid.empty())
                node(node(account, "Object GUID", categoryImage), f.objectGuid, entryImage);
            if (!f.inheritGuid.empty())
                node(node(account, "Inherit GUID", categoryImage), f.inheritGuid, entryImage);
        }
        tree->addTopLevelItems(top);
    } catch (...) {
        // The tree shows what it could; the tab never raises a message.
    }
}

} // namespace vt::security_info
