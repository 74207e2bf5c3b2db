#include "AppFakes.h"
#include "app/AppConfig.h"
#include "app/MenuBarController.h"
#include "app/PopoverWindow.h"
#include "app/SystemTrayStatusItem.h"
#include "model/PortStore.h"
#include "model/StoreFakes.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// The real popup and tray item under a controller, over a store on a fake listing.
struct FrontEnd {
    FrontEnd() {
        const QRect anchor(600, 0, 24, 24);
        auto listingOwned = std::make_unique<FakeListing>();
        listing = listingOwned.get();
        listing->answer = QList<PortEntry>{PortEntry(10, 3000, "vite"), PortEntry(20, 8080, "python3")};
        store = std::make_unique<PortStore>(std::move(listingOwned), std::make_unique<FakeResolver>(),
                                            std::make_unique<FakeKiller>());
        config = std::make_unique<AppConfig>(std::make_unique<FakeLaunchAtLogin>(false, false));
        auto popoverOwned = std::make_unique<PopoverWindow>(*store, [anchor] { return anchor; });
        auto itemOwned = std::make_unique<SystemTrayStatusItem>();
        popover = popoverOwned.get();
        item = itemOwned.get();
        controller =
            std::make_unique<MenuBarController>(*config, *store, std::move(popoverOwned), std::move(itemOwned));
        controller->configure();
    }

    ~FrontEnd() { drainEvents(); }

    void clickIcon(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        controller->handleStatusItemClick(TrayActivation::primary, modifiers);
        drainEvents();
    }

    QWidget *focusTarget() const { return popover->focusWidget() ? popover->focusWidget() : popover; }

    FakeListing *listing = nullptr;
    std::unique_ptr<PortStore> store;
    std::unique_ptr<AppConfig> config;
    PopoverWindow *popover = nullptr;
    SystemTrayStatusItem *item = nullptr;
    std::unique_ptr<MenuBarController> controller;
};

} // namespace

TEST(TrayFrontEnd, ClickOpensThePopupUnderTheIconAndClickAgainClosesIt) {
    FrontEnd f;
    f.clickIcon();
    ASSERT_TRUE(f.popover->isVisible());
    EXPECT_TRUE(f.popover->windowFlags().testFlag(Qt::Popup));
    ASSERT_TRUE(spinUntil([&] { return f.store->entries().size() == 2; }));

    const QRect shown = f.popover->frameGeometry();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(shown)) << shown.x() << "," << shown.y();
    EXPECT_EQ(shown.top(), 24);
    EXPECT_LE(std::abs(shown.center().x() - 612), 1);

    const auto listingsBefore = f.listing->ranges.size();
    f.clickIcon();
    EXPECT_FALSE(f.popover->isVisible());
    EXPECT_EQ(f.listing->ranges.size(), listingsBefore);
}

TEST(TrayFrontEnd, KeysOfTheOpenPopupReachTheCommands) {
    FrontEnd f;
    QTest::keyClick(f.popover, Qt::Key_Escape); // closed: nobody listens
    f.clickIcon();
    ASSERT_TRUE(spinUntil([&] { return f.store->entries().size() == 2; }));
    f.store->setSelectedEntryID(PortEntryID{10, 3000});

    QTest::keyClick(f.focusTarget(), Qt::Key_Down);
    EXPECT_EQ(f.store->selectedEntryID(), (PortEntryID{20, 8080}));
    QTest::keyClick(f.focusTarget(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(f.store->selectedEntryID(), (PortEntryID{10, 3000}));

    const auto listingsBefore = f.listing->ranges.size();
    QTest::keyClick(f.focusTarget(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(spinUntil([&] { return f.listing->ranges.size() > listingsBefore; }));

    QTest::keyClick(f.focusTarget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(f.popover->isVisible());
}

TEST(TrayFrontEnd, MenuHoldsItsItemsAndClosesThePopupWhenShown) {
    FrontEnd f;
    QMenu &menu = f.item->menu();
    QStringList titles;
    for (QAction *action : menu.actions())
        titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles, (QStringList{"Show Ports", "Refresh", "Launch at Login", "-", "Quit Quaystone"}));
    EXPECT_EQ(menu.actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(menu.actions()[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    QAction *launchAtLogin = menu.actions()[2];
    ASSERT_TRUE(launchAtLogin->isCheckable());
    EXPECT_FALSE(launchAtLogin->isChecked());
    launchAtLogin->trigger();
    EXPECT_TRUE(launchAtLogin->isChecked());
    EXPECT_TRUE(f.config->launchAtLoginEnabled());

    f.clickIcon();
    ASSERT_TRUE(f.popover->isVisible());
    menu.popup(QPoint(600, 30));
    drainEvents();
    EXPECT_FALSE(f.popover->isVisible());
    menu.hide();

    menu.actions()[0]->trigger(); // Show Ports
    drainEvents();
    EXPECT_TRUE(f.popover->isVisible());
    ASSERT_TRUE(spinUntil([&] { return !f.store->isRefreshing(); }));
    const auto listingsBefore = f.listing->ranges.size();
    menu.actions()[1]->trigger(); // Refresh
    ASSERT_TRUE(spinUntil([&] { return f.listing->ranges.size() > listingsBefore; }));
}

TEST(TrayFrontEnd, RightPressOnTheIconWhileOpenClosesThePopupAndOpensTheMenu) {
    FrontEnd f;
    f.clickIcon();
    ASSERT_TRUE(f.popover->isVisible());
    QTest::mousePress(f.popover, Qt::RightButton, Qt::NoModifier, f.popover->mapFromGlobal(QPoint(612, 12)));
    drainEvents();
    EXPECT_FALSE(f.popover->isVisible());
    EXPECT_TRUE(f.item->menu().isVisible());
    f.item->menu().hide();
}
