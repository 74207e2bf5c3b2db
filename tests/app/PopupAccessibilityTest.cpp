#include "app/PopupAccessibility.h"
#include "app/PopoverWindow.h"
#include "model/PortStore.h"
#include "support/StoreFakes.h"

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

QList<QObject *> applicationWindows() {
    QAccessibleInterface *app = QAccessible::queryAccessibleInterface(qApp);
    QList<QObject *> windows;
    for (int i = 0; i < app->childCount(); ++i) {
        QAccessibleInterface *window = app->child(i);
        EXPECT_EQ(app->indexOfChild(window), i);
        EXPECT_EQ(window->parent(), app);
        windows.append(window->object());
    }
    return windows;
}

// Qt lists no Qt::Popup window among the application's accessible children; the popup and the
// tray menu must be reachable while they are shown, and only then.
TEST(PopupAccessibility, ShownPopupsAreWindowsOfTheApplication) {
    installPopupAccessibility();
    FakeServices fakes;
    std::unique_ptr<PortStore> store = storeOverFakes(fakes);
    PopoverWindow popup(*store);
    QMenu menu;
    menu.addAction(QStringLiteral("Refresh"));
    QWidget ordinary;
    ordinary.winId(); // its platform window exists, hidden

    const struct {
        const char *name;
        QWidget *shown;
        bool popupListed, menuListed;
    } cases[] = {
        {"nothing shown", nullptr, false, false},
        {"the popup shown", &popup, true, false},
        {"the tray menu shown", &menu, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.shown) {
            c.shown->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(c.shown));
        }
        const QList<QObject *> windows = applicationWindows();
        EXPECT_EQ(windows.contains(&popup), c.popupListed);
        EXPECT_EQ(windows.contains(&menu), c.menuListed);
        // An ordinary window is listed whether shown or not, as Qt does.
        EXPECT_TRUE(windows.contains(&ordinary));
        if (c.shown)
            c.shown->hide();
    }

    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&popup);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), "Quaystone Ports");
    ASSERT_EQ(window->childCount(), 1);
    EXPECT_EQ(window->child(0)->role(), QAccessible::Pane);
}

} // namespace
