#include "app/MenuBarController.h"
#include "AppFakes.h"
#include "app/AppConfig.h"
#include "model/PortStore.h"
#include "model/StoreFakes.h"

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// A controller over fakes and a real store seeded with three rows, the middle one selected.
struct Harness {
    Harness(bool launchAtLogin = false, bool serviceRefuses = false) {
        auto listingOwned = std::make_unique<FakeListing>();
        auto killerOwned = std::make_unique<FakeKiller>();
        auto popoverOwned = std::make_unique<FakePopover>();
        auto menuOwned = std::make_unique<FakeMenu>();
        listing = listingOwned.get();
        killer = killerOwned.get();
        popover = popoverOwned.get();
        menu = menuOwned.get();
        store = std::make_unique<PortStore>(std::move(listingOwned), std::make_unique<FakeResolver>(),
                                            std::move(killerOwned));
        store->seedEntries({PortEntry(10, 3000, "a"), PortEntry(20, 4000, "b"), PortEntry(30, 5000, "c")});
        store->setSelectedEntryID(PortEntryID{20, 4000});
        config = std::make_unique<AppConfig>(std::make_unique<FakeLaunchAtLogin>(launchAtLogin, serviceRefuses));
        controller =
            std::make_unique<MenuBarController>(*config, *store, std::move(popoverOwned), std::move(menuOwned));
    }

    ~Harness() {
        // Let every started task finish, so that no coroutine frame outlives the store.
        drainEvents();
        while (killer->pending.waiting() > 0) {
            killer->pending.complete(ProcessKillOutcome::killed);
            drainEvents();
        }
    }

    int refreshes() const { return static_cast<int>(listing->ranges.size()); }

    FakeListing *listing = nullptr;
    FakeKiller *killer = nullptr;
    FakePopover *popover = nullptr;
    FakeMenu *menu = nullptr;
    std::unique_ptr<PortStore> store;
    std::unique_ptr<AppConfig> config;
    std::unique_ptr<MenuBarController> controller;
};

enum class Effect { none, selectedPrevious, selectedNext, killedSelected, refreshed, closed };

Effect observedEffect(Harness &h) {
    drainEvents();
    if (!h.killer->pids.isEmpty())
        return Effect::killedSelected;
    if (h.refreshes() > 0)
        return Effect::refreshed;
    if (h.popover->dismissCount > 0)
        return Effect::closed;
    const auto selected = h.store->selectedEntryID();
    if (selected == PortEntryID{10, 3000})
        return Effect::selectedPrevious;
    if (selected == PortEntryID{30, 5000})
        return Effect::selectedNext;
    return Effect::none;
}

} // namespace

TEST(MenuBarControllerKeys, MapsKeysOfTheOpenPopup) {
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    struct Case {
        const char *name;
        KeyDownEvent event;
        bool handled;
        Effect effect;
    };
    const Case cases[] = {
        {"up", {Qt::Key_Up, {}, none}, true, Effect::selectedPrevious},
        {"shift+up ignores the modifier", {Qt::Key_Up, {}, Qt::ShiftModifier}, true, Effect::selectedPrevious},
        {"down", {Qt::Key_Down, {}, Qt::KeypadModifier}, true, Effect::selectedNext},
        {"backspace", {Qt::Key_Backspace, "\b", none}, true, Effect::killedSelected},
        {"ctrl+delete ignores the modifier", {Qt::Key_Delete, "\x7f", ctrl}, true, Effect::killedSelected},
        {"escape", {Qt::Key_Escape, "\x1b", none}, true, Effect::closed},
        // X11 reports Ctrl+R with the control character as its text.
        {"ctrl+r", {Qt::Key_R, "\x12", ctrl}, true, Effect::refreshed},
        {"ctrl+shift+r", {Qt::Key_R, "\x12", ctrlShift}, true, Effect::refreshed},
        {"ctrl+w", {Qt::Key_W, "\x17", ctrl}, true, Effect::closed},
        {"plain r", {Qt::Key_R, "r", none}, false, Effect::none},
        {"shift+r", {Qt::Key_R, "R", Qt::ShiftModifier}, false, Effect::none},
        {"plain w", {Qt::Key_W, "w", none}, false, Effect::none},
        {"k", {Qt::Key_K, "k", none}, true, Effect::killedSelected},
        {"ctrl+k", {Qt::Key_K, "\x0b", ctrl}, true, Effect::killedSelected},
        {"shift+k", {Qt::Key_K, "K", Qt::ShiftModifier}, true, Effect::killedSelected},
        {"no text", {Qt::Key_F5, {}, none}, false, Effect::none},
        {"modifier key alone", {Qt::Key_Control, {}, ctrl}, false, Effect::none},
        {"unknown key", {Qt::Key_Space, " ", none}, false, Effect::none},
        {"ctrl+unmapped letter", {Qt::Key_Q, "\x11", ctrl}, false, Effect::none},
        {"a character outside the letters", {Qt::Key_unknown, QString::fromUtf8("é"), ctrl}, false, Effect::none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.popover->shown = true;
        EXPECT_EQ(h.controller->handleKeyDown(c.event), c.handled);
        EXPECT_EQ(observedEffect(h), c.effect);
        if (c.effect == Effect::killedSelected) {
            EXPECT_EQ(h.killer->pids, QList<qint32>{20});
        }
    }
}

TEST(MenuBarControllerKeys, KillWithNothingSelectedIsSwallowedAndDoesNothing) {
    for (int key : {Qt::Key_Delete, Qt::Key_K}) {
        Harness h;
        h.popover->shown = true;
        h.store->setSelectedEntryID(std::nullopt);
        EXPECT_TRUE(h.controller->handleKeyDown({key, {}, Qt::NoModifier}));
        drainEvents();
        EXPECT_TRUE(h.killer->pids.isEmpty());
        EXPECT_EQ(h.store->entries().size(), 3);
        EXPECT_EQ(h.refreshes(), 0);
    }
}

TEST(MenuBarControllerKeys, KillTakesTheSelectionAtTheTimeTheTaskRuns) {
    Harness h;
    h.popover->shown = true;
    EXPECT_TRUE(h.controller->handleKeyDown({Qt::Key_Delete, {}, Qt::NoModifier}));
    h.store->selectNext(); // before the queued task has run
    drainEvents();
    EXPECT_EQ(h.killer->pids, QList<qint32>{30});
}

TEST(MenuBarControllerKeys, KeysPassThroughWhileThePopupIsClosed) {
    Harness h;
    h.controller->configure();
    ASSERT_TRUE(h.popover->keyHandler);
    const KeyDownEvent keys[] = {{Qt::Key_Escape, "\x1b", Qt::NoModifier},
                                 {Qt::Key_W, "\x17", Qt::ControlModifier},
                                 {Qt::Key_R, "\x12", Qt::ControlModifier},
                                 {Qt::Key_Delete, {}, Qt::NoModifier},
                                 {Qt::Key_Up, {}, Qt::NoModifier}};
    for (const KeyDownEvent &key : keys)
        EXPECT_FALSE(h.popover->keyHandler(key));
    EXPECT_EQ(observedEffect(h), Effect::none);

    h.popover->shown = true;
    EXPECT_TRUE(h.popover->keyHandler({Qt::Key_Escape, "\x1b", Qt::NoModifier}));
    EXPECT_FALSE(h.popover->shown);
}

TEST(MenuBarControllerClicks, RoutesTrayClicks) {
    struct Case {
        const char *name;
        TrayActivation activation;
        Qt::KeyboardModifiers modifiers;
        bool shownBefore;
        bool shownAfter;
        int menuPopUps;
        int refreshes;
    };
    const Case cases[] = {
        {"plain click opens and refreshes", TrayActivation::primary, Qt::NoModifier, false, true, 0, 1},
        {"plain click closes without refresh", TrayActivation::primary, Qt::NoModifier, true, false, 0, 0},
        {"shift+click is a plain click", TrayActivation::primary, Qt::ShiftModifier, false, true, 0, 1},
        // The tray host shows the menu for a right click itself.
        {"right click while open closes", TrayActivation::context, Qt::NoModifier, true, false, 0, 0},
        {"right click while closed", TrayActivation::context, Qt::NoModifier, false, false, 0, 0},
        {"ctrl+click while open closes and pops the menu", TrayActivation::primary, Qt::ControlModifier, true, false, 1,
         0},
        {"ctrl+click while closed pops the menu", TrayActivation::primary, Qt::ControlModifier, false, false, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.popover->shown = c.shownBefore;
        h.controller->handleStatusItemClick(c.activation, c.modifiers);
        drainEvents();
        EXPECT_EQ(h.popover->shown, c.shownAfter);
        EXPECT_EQ(h.menu->popUpCount, c.menuPopUps);
        EXPECT_EQ(h.refreshes(), c.refreshes);
    }
}

TEST(MenuBarControllerClicks, PopupIsOnScreenBeforeTheRefreshStarts) {
    Harness h;
    h.listing->held = true;
    h.controller->handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
    EXPECT_TRUE(h.popover->shown);
    EXPECT_EQ(h.refreshes(), 0); // queued: the click handler returns first
    drainEvents();
    EXPECT_EQ(h.refreshes(), 1);
    h.listing->pending.complete(QList<PortEntry>{});
}

TEST(MenuBarControllerClicks, ShowPortsOpensLikeAPlainClickButNeverCloses) {
    Harness h;
    h.controller->showPorts();
    drainEvents();
    EXPECT_TRUE(h.popover->shown);
    EXPECT_EQ(h.refreshes(), 1);
    h.controller->showPorts();
    drainEvents();
    EXPECT_TRUE(h.popover->shown);
    EXPECT_EQ(h.popover->presentCount, 1);
}

TEST(MenuBarControllerMenu, CheckMarkFollowsWhatTheServiceReports) {
    struct Case {
        const char *name;
        bool enabledBefore;
        bool refuses;
        bool checkedAfter;
    };
    const Case cases[] = {
        {"turn on", false, false, true},
        {"turn off", true, false, false},
        {"refused while off", false, true, false},
        {"refused while on", true, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.enabledBefore, c.refuses);
        h.controller->configure();
        EXPECT_EQ(h.menu->installCount, 1);
        EXPECT_EQ(h.menu->checked, c.enabledBefore);
        h.controller->toggleLaunchAtLogin();
        EXPECT_EQ(h.menu->checked, c.checkedAfter);
        EXPECT_EQ(h.config->launchAtLoginEnabled(), c.checkedAfter);
    }
}

TEST(MenuBarControllerClicks, IconPressThatClosedThePopupStillOpensTheMenuForAContextRequest) {
    struct Case {
        const char *name;
        TrayActivation activation;
        Qt::KeyboardModifiers modifiers;
        int menuPopUps;
    };
    const Case cases[] = {
        {"right press", TrayActivation::context, Qt::NoModifier, 1},
        {"ctrl+left press", TrayActivation::primary, Qt::ControlModifier, 1},
        {"plain left press only closes", TrayActivation::primary, Qt::NoModifier, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.controller->configure();
        ASSERT_TRUE(h.popover->iconPressHandler);
        h.popover->iconPressHandler(c.activation, c.modifiers);
        drainEvents();
        EXPECT_EQ(h.menu->popUpCount, c.menuPopUps);
        EXPECT_FALSE(h.popover->shown);
        EXPECT_EQ(h.refreshes(), 0);
    }
}
