#include "AppFakes.h"
#include "app/AppConfig.h"
#include "app/MenuBarController.h"
#include "app/PopoverWindow.h"
#include "app/SystemTrayStatusItem.h"
#include "model/PortStore.h"
#include "support/StoreFakes.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// The real popup and tray item under a controller, over a store on a fake listing.
struct FrontEnd {
    explicit FrontEnd(bool launchAtLogin = false, bool serviceRefuses = false)
        : config(std::make_unique<FakeLaunchAtLogin>(launchAtLogin, serviceRefuses)) {
        auto itemOwned = std::make_unique<SystemTrayStatusItem>();
        item = itemOwned.get();
        // An icon in a top panel, unless a test asks for the tray item's own anchor.
        auto popoverOwned = std::make_unique<PopoverWindow>(store, [this] {
            return anchorAtItem ? item->anchor() : PopupAnchor{QRect(600, 0, 24, 24), std::nullopt};
        });
        popover = popoverOwned.get();
        controller = std::make_unique<MenuBarController>(config, store, std::move(popoverOwned), std::move(itemOwned),
                                                         [this] { return MenuBarController::Clock::now() + skipped; });
        controller->configure();
        listing->answer = QList<PortEntry>{PortEntry(10, 3000, "vite"), PortEntry(20, 8080, "python3")};
    }
    ~FrontEnd() { drainEvents(); }

    void openPopup() {
        controller->handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
        ASSERT_TRUE(spinUntil([&] { return popover->isVisible() && store.entries().size() == 2; }));
    }
    QWidget *focusTarget() const { return popover->focusWidget() ? popover->focusWidget() : popover; }

    AppConfig config;
    std::unique_ptr<FakeListing> listingOwned = std::make_unique<FakeListing>();
    FakeListing *listing = listingOwned.get();
    std::unique_ptr<FakeKiller> killerOwned = std::make_unique<FakeKiller>();
    FakeKiller *killer = killerOwned.get();
    PortStore store{std::move(listingOwned), std::make_unique<FakeResolver>(), std::move(killerOwned)};
    PopoverWindow *popover = nullptr;
    SystemTrayStatusItem *item = nullptr;
    bool anchorAtItem = false;
    MenuBarController::Clock::duration skipped{}; // added to the controller's clock
    std::unique_ptr<MenuBarController> controller;
};

} // namespace

TEST(TrayFrontEnd, KeysAndAPressOnTheIconReachTheControllerThroughTheOpenPopup) {
    FrontEnd f;
    f.openPopup();
    f.store.setSelectedEntryID(PortEntryID{10, 3000});
    QTest::keyClick(f.focusTarget(), Qt::Key_Down);
    EXPECT_EQ(f.store.selectedEntryID(), (PortEntryID{20, 8080}));
    QTest::keyClick(f.focusTarget(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(spinUntil([&] { return f.listing->ranges.size() == 2; }));

    // The open popup holds the pointer: a right press on the icon reaches it, not the icon.
    QTest::mousePress(f.popover, Qt::RightButton, Qt::NoModifier, f.popover->mapFromGlobal(QPoint(612, 12)));
    drainEvents();
    EXPECT_FALSE(f.popover->isVisible());
    EXPECT_TRUE(f.item->popupMenu().isVisible());
    f.item->popupMenu().hide();
}

TEST(TrayFrontEnd, AHeldKillKeyStopsOneProcessAndAFreshPressTheNext) {
    const struct {
        int key;
        const char *text;
    } keys[] = {{Qt::Key_Delete, "\x7f"}, {Qt::Key_Backspace, "\b"}, {Qt::Key_K, "k"}};
    for (const auto &k : keys) {
        SCOPED_TRACE(k.text);
        FrontEnd f;
        f.killer->held = false;
        f.openPopup();
        f.store.setSelectedEntryID(PortEntryID{10, 3000});
        const auto send = [&](QEvent::Type type, bool autoRepeat) {
            QKeyEvent event(type, k.key, Qt::NoModifier, QString::fromLatin1(k.text), autoRepeat);
            QApplication::sendEvent(f.focusTarget(), &event);
            drainEvents();
        };
        send(QEvent::KeyPress, false);
        EXPECT_EQ(f.killer->pids, QList<qint32>{10});
        ASSERT_EQ(f.store.selectedEntryID(), (PortEntryID{20, 8080})) << "the kill moved the selection on";
        f.skipped += MenuBarController::doubleClickInterval();
        send(QEvent::KeyPress, true);
        send(QEvent::KeyPress, false); // X11 repeats may come unmarked
        EXPECT_EQ(f.killer->pids, QList<qint32>{10}) << "the repeats of the held key stop nothing";
        send(QEvent::KeyRelease, false);
        send(QEvent::KeyPress, false);
        EXPECT_EQ(f.killer->pids, (QList<qint32>{10, 20}));
    }
}

TEST(TrayFrontEnd, LaunchAtLoginItemKeepsTheCheckMarkTheServiceReports) {
    const struct {
        bool before;
        bool refuses;
        bool after;
    } cases[] = {{false, false, true}, {true, false, false}, {false, true, false}, {true, true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << c.refuses);
        FrontEnd f(c.before, c.refuses);
        QAction *item = f.item->menu().actions().at(2);
        ASSERT_EQ(item->text(), "Launch at Login");
        EXPECT_EQ(item->isChecked(), c.before);
        item->trigger(); // a checkable action flips itself first
        EXPECT_EQ(item->isChecked(), c.after);
    }
}

TEST(TrayFrontEnd, MenuKeyEquivalentsWorkWhileTheMenuIsOpen) {
    const struct {
        const char *name;
        bool popupMenu;
        Qt::Key key;
        const char *item;
    } cases[] = {
        {"tray menu, ctrl+r", false, Qt::Key_R, "Refresh"},
        {"tray menu, ctrl+q", false, Qt::Key_Q, "Quit Quaystone"},
        {"popped-up menu, ctrl+r", true, Qt::Key_R, "Refresh"},
        {"popped-up menu, ctrl+q", true, Qt::Key_Q, "Quit Quaystone"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FrontEnd f;
        QMenu &menu = c.popupMenu ? f.item->popupMenu() : f.item->menu();
        QAction *action = nullptr;
        for (QAction *candidate : menu.actions()) {
            if (candidate->text() == c.item)
                action = candidate;
        }
        ASSERT_NE(action, nullptr);
        // The hint the menu shows is the key that works.
        EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | c.key));
        QSignalSpy triggered(action, &QAction::triggered);
        menu.popup(QPoint(600, 30));
        ASSERT_TRUE(spinUntil([&] { return menu.isVisible(); }));
        QTest::keyClick(&menu, c.key, Qt::ControlModifier);
        drainEvents();
        EXPECT_EQ(triggered.count(), 1);
        EXPECT_FALSE(menu.isVisible());
    }
}

TEST(TrayFrontEnd, APressOnTheIconRightAfterTheOpeningClickLeavesThePopupOpen) {
    QStyleHints *hints = QGuiApplication::styleHints();
    const int savedInterval = hints->mouseDoubleClickInterval();
    const struct {
        const char *name;
        int intervalMs;
        QPoint at;
        bool shownAfter;
    } cases[] = {
        {"on the icon, within the interval", 60000, {612, 12}, true},
        {"on the icon, after the interval", 0, {612, 12}, false},
        {"elsewhere, within the interval", 60000, {100, 500}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        hints->setMouseDoubleClickInterval(c.intervalMs);
        FrontEnd f;
        f.openPopup();
        QTest::mousePress(f.popover, Qt::LeftButton, Qt::NoModifier, f.popover->mapFromGlobal(c.at));
        drainEvents();
        EXPECT_EQ(f.popover->isVisible(), c.shownAfter);
        f.popover->dismiss();
    }
    hints->setMouseDoubleClickInterval(savedInterval);
}

TEST(TrayFrontEnd, EachOpenRunsTheListingOnce) {
    const struct {
        const char *name;
        std::optional<PortListingResult> before; // the outcome of an earlier open, if any
    } cases[] = {
        {"first open", std::nullopt},
        {"after a listing", QList<PortEntry>{PortEntry(10, 3000, "vite")}},
        {"after a failed first listing", ListingError{}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FrontEnd f;
        f.listing->held = true;
        if (c.before) {
            f.controller->showPorts();
            ASSERT_TRUE(spinUntil([&] { return f.listing->pending.waiting() == 1; }));
            f.listing->pending.complete(*c.before);
            f.controller->closePopover();
            drainEvents();
            f.listing->ranges.clear();
        }
        f.controller->showPorts();
        drainEvents();
        EXPECT_EQ(f.listing->ranges.size(), 1);
        // The open's listing still ends, and owes no second pass.
        f.listing->pending.complete(QList<PortEntry>{});
        drainEvents();
        EXPECT_EQ(f.listing->ranges.size(), 1);
        EXPECT_FALSE(f.store.isRefreshing());
    }
}

TEST(TrayFrontEnd, ShowPortsOpensThePopupWhereTheMenuWasOpenedNotWhereItWasChosen) {
    // No icon geometry (a StatusNotifierItem host): the pointer on the icon when the menu
    // opened is the anchor, though "Show Ports" is chosen further down in the menu.
    FrontEnd f;
    f.anchorAtItem = true;
    QCursor::setPos(300, 10);
    f.item->menu().popup(QPoint(300, 10));
    ASSERT_TRUE(spinUntil([&] { return f.item->menu().isVisible(); }));
    QCursor::setPos(330, 60);
    f.item->menu().actions().at(0)->trigger();
    f.item->menu().hide();
    ASSERT_TRUE(spinUntil([&] { return f.popover->isVisible(); }));
    EXPECT_EQ(f.item->anchor().pointer, QPoint(300, 10));
    const QRect popup = f.popover->geometry();
    EXPECT_GT(popup.top(), 10 + pointerAnchorReach);
    EXPECT_TRUE(popup.left() <= 300 && 300 <= popup.right());
}
