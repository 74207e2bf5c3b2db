#include "ViewTestSupport.h"

#include "views/PopoverAccessibility.h"
#include "views/PopoverAnnouncements.h"
#include "views/PopoverAnnouncer.h"

#include <QAccessible>
#include <QDir>
#include <QTest>

using namespace quaystone;
using namespace quaystone::test;

namespace {

QAccessibleInterface *accessibleOf(QObject *object) {
    return QAccessible::queryAccessibleInterface(object);
}

QStringList childRoles(QAccessibleInterface *iface) {
    QStringList roles;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        roles.append(child->role() == QAccessible::Separator ? QStringLiteral("-") : child->text(QAccessible::Name));
        EXPECT_EQ(iface->indexOfChild(child), i);
        EXPECT_EQ(child->parent(), iface);
    }
    return roles;
}

class PopoverAccessibilityTest : public PopoverViewTest {
public:
    void showActive() {
        view().show();
        view().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
        drainEvents();
    }
};

TEST(SpokenDirectory, ShortensTheHomeFolderOnly) {
    const struct {
        const char *path;
        const char *home;
        const char *spoken;
    } cases[] = {
        {"/home/al/src/api", "/home/al", "~/src/api"},
        {"/home/al", "/home/al", "~"},
        {"/home/al/src", "/home/al/", "~/src"},
        {"/home/alice/src", "/home/al", "/home/alice/src"}, // a longer name, not a subfolder
        {"/srv/www", "/home/al", "/srv/www"},
        {"/srv/www", "/", "/srv/www"}, // root's home would make every path "~"
        {"/srv/www", "", "/srv/www"},
        {"/srv/www", "relative", "/srv/www"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path + std::string(" under ") + c.home);
        EXPECT_EQ(spokenDirectory(c.path, c.home), c.spoken);
    }
    EXPECT_EQ(spokenRowName(PortEntry(1, 4243, "python3", "/home/al/src/api"), std::nullopt, "/home/al"),
              "Port 4243, python3, ~/src/api");
    EXPECT_EQ(spokenRowName(PortEntry(1, 65535, "node"), RowError::permissionDenied, "/home/al"),
              "Port 65535, node, Permission denied");
    // A name or folder cannot pose as other words: control characters are read as escapes.
    EXPECT_EQ(spokenRowName(PortEntry(1, 3000, "a\nPort 9, b", "/home/al/x\u202Ey"), std::nullopt, "/home/al"),
              "Port 3000, a\\nPort 9, b, ~/x\\u202Ey");
}

TEST_F(PopoverAccessibilityTest, RowsAreListItemsNamedSelectedAndFocusedWithTheStore) {
    const QString home = QDir::homePath();
    load({PortEntry(10, 3000, "node", home + "/web"), PortEntry(11, 3001, "ruby")});
    showActive();

    QAccessibleInterface *list = accessibleOf(view().findChild<PortListView *>());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(childRoles(list), (QStringList{"Port 3000, node, ~/web", "Port 3001, ruby"}));
    QAccessibleInterface *first = accessibleOf(rowOf(3000));
    QAccessibleInterface *second = accessibleOf(rowOf(3001));
    EXPECT_EQ(first->role(), QAccessible::ListItem);
    EXPECT_TRUE(first->state().selected && first->state().focused && first->state().focusable);
    EXPECT_TRUE(second->state().selectable && !second->state().selected && !second->state().focused);
    EXPECT_EQ(list->focusChild(), first);

    store().selectNext();
    drainEvents();
    EXPECT_FALSE(first->state().selected || first->state().focused);
    EXPECT_TRUE(second->state().selected && second->state().focused);

    // An inactive window has no focused row, though its selection stays.
    view().hide();
    drainEvents();
    EXPECT_TRUE(second->state().selected && !second->state().focused);
}

TEST_F(PopoverAccessibilityTest, TreeReadsHeaderRowsFooterAndTheLatestAnnouncementsInOrder) {
    // The footer exists before the list does: a list that arrives later still reads before it.
    load({});
    load({PortEntry(10, 3000, "node"), PortEntry(11, 3001, "ruby"), PortEntry(12, 3002, "go")});
    QAccessibleInterface *root = accessibleOf(&view());
    EXPECT_EQ(childRoles(root), (QStringList{"", "-", "Listening ports", "-", ""}));
    EXPECT_EQ(root->child(0)->child(0)->text(QAccessible::Name), "PORT");
    EXPECT_EQ(root->child(4)->child(0)->text(QAccessible::Name), "Last updated just now");

    // Each quick kill tells its end; the latest four messages stay, after the footer.
    m_killer->held = false;
    for (const int port : {3000, 3001, 3002, 3000, 3001}) {
        QTest::mouseClick(find(QStringLiteral("kill-port-%1").arg(port)), Qt::LeftButton);
        drainEvents();
    }
    const QStringList children = childRoles(root);
    ASSERT_EQ(children.size(), 9) << children.join(" | ").toStdString();
    EXPECT_EQ(children.sliced(5), (QStringList{"Stopped ruby on port 3001", "Stopped go on port 3002",
                                               "Stopped node on port 3000", "Stopped ruby on port 3001"}));
    EXPECT_EQ(root->child(8)->role(), QAccessible::Notification);
}

TEST(PopoverAnnouncements, TellKillsTheirOutcomeAndFailedUpdatesOnce) {
    using Snapshot = PopoverAnnouncements::Snapshot;
    const PortEntry node(10, 3000, "node"), node2(10, 3005, "node"), ruby(11, 3001, "ruby");
    const Snapshot shown{{node, node2, ruby}, {}, {}, std::nullopt};
    const Snapshot killingNode{{ruby}, {}, {10}, std::nullopt};
    const Snapshot refused{{node, node2, ruby}, {{node.id(), RowError::couldNotKill}}, {}, std::nullopt};
    const Snapshot gone{{ruby}, {}, {}, std::nullopt};
    const struct {
        const char *name;
        QList<Snapshot> snapshots;
        QStringList messages;
    } cases[] = {
        {"kill that stops", {shown, killingNode, killingNode, gone}, {"Stopped node on ports 3000, 3005"}},
        {"kill that fails",
         {shown, killingNode, refused, refused},
         {"Could not stop node on ports 3000, 3005: Could not kill process"}},
        {"kill refused: rows back before the suppression ends",
         {shown, killingNode, Snapshot{refused.entries, refused.rowErrors, {10}, std::nullopt}, refused},
         {"Could not stop node on ports 3000, 3005: Could not kill process"}},
        {"kill that failed before a render saw it",
         {shown, refused},
         {"Could not stop node on ports 3000, 3005: Could not kill process"}},
        {"a process never shown", {gone, Snapshot{{ruby}, {}, {10}, {}}, gone}, {}},
        {"stops as administrator, each told once",
         {shown, Snapshot{{ruby}, {}, {}, {}, 1, {"postgres (pid 812) on port 5432"}},
          Snapshot{{ruby}, {}, {}, {}, 1, {"postgres (pid 812) on port 5432"}}, Snapshot{{ruby}, {}, {}, {}, 2, {}}},
         {"Stopped postgres (pid 812) on port 5432"}},
        {"failed updates, each new one once",
         {shown, Snapshot{{node}, {}, {}, "lsof is missing"}, Snapshot{{node}, {}, {}, "lsof is missing"},
          Snapshot{{node}, {}, {}, "lsof timed out"}, shown, Snapshot{{node}, {}, {}, "lsof timed out"}},
         {"Update failed: lsof is missing", "Update failed: lsof timed out", "Update failed: lsof timed out"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PopoverAnnouncements announcements;
        QStringList messages;
        for (const Snapshot &snapshot : c.snapshots)
            messages += announcements.update(snapshot);
        EXPECT_EQ(messages, c.messages);
    }
}

} // namespace
