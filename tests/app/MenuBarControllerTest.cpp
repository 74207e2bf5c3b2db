#include "app/MenuBarController.h"
#include "AppFakes.h"
#include "app/AppConfig.h"
#include "app/KeyDownEvent.h"
#include "model/PortStore.h"
#include "support/StoreFakes.h"

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// Makes a T for an owner and keeps a pointer to it.
template <typename T>
std::unique_ptr<T> kept(T *&pointer) {
    auto owned = std::make_unique<T>();
    pointer = owned.get();
    return owned;
}

// A controller over fakes and a real store seeded with three rows, the middle one selected.
struct Harness {
    Harness() {
        killer->held = false;
        store.seedEntries({PortEntry(10, 3000, "a"), PortEntry(20, 4000, "b"), PortEntry(30, 5000, "c")});
        store.setSelectedEntryID(PortEntryID{20, 4000});
    }
    // Every started task ends before the store goes.
    ~Harness() { drainEvents(); }

    FakeListing *listing = nullptr;
    FakeKiller *killer = nullptr;
    FakePopover *popover = nullptr;
    FakeMenu *menu = nullptr;
    PortStore store{kept(listing), std::make_unique<FakeResolver>(), kept(killer)};
    AppConfig config{std::make_unique<FakeLaunchAtLogin>(false, false)};
    MenuBarController::Clock::time_point now{};
    MenuBarController controller{config, store, kept(popover), kept(menu), [this] { return now; }};
};

enum class Effect { none, selectedPrevious, selectedNext, killedSelected, refreshed, closed };

Effect observedEffect(Harness &h) {
    drainEvents();
    if (h.killer->pids == QList<qint32>{20})
        return Effect::killedSelected;
    if (!h.listing->ranges.isEmpty())
        return Effect::refreshed;
    if (!h.popover->shown)
        return Effect::closed;
    if (h.store.selectedEntryID() == PortEntryID{10, 3000})
        return Effect::selectedPrevious;
    if (h.store.selectedEntryID() == PortEntryID{30, 5000})
        return Effect::selectedNext;
    return Effect::none;
}

} // namespace

TEST(MenuBarControllerKeys, MapsKeysOfTheOpenPopup) {
    const Qt::KeyboardModifiers none = Qt::NoModifier, ctrl = Qt::ControlModifier;
    const struct {
        const char *name;
        KeyDownEvent event;
        bool handled;
        Effect effect;
    } cases[] = {
        {"up", {Qt::Key_Up, {}, none}, true, Effect::selectedPrevious},
        {"shift+up", {Qt::Key_Up, {}, Qt::ShiftModifier}, true, Effect::selectedPrevious},
        {"down", {Qt::Key_Down, {}, Qt::KeypadModifier}, true, Effect::selectedNext},
        // Three rows: the first and the last are a page and all the rows away.
        {"home", {Qt::Key_Home, {}, none}, true, Effect::selectedPrevious},
        {"end", {Qt::Key_End, {}, none}, true, Effect::selectedNext},
        {"page up", {Qt::Key_PageUp, {}, none}, true, Effect::selectedPrevious},
        {"page down", {Qt::Key_PageDown, {}, none}, true, Effect::selectedNext},
        {"backspace", {Qt::Key_Backspace, "\b", none}, true, Effect::killedSelected},
        {"ctrl+delete", {Qt::Key_Delete, "\x7f", ctrl}, true, Effect::killedSelected},
        {"escape", {Qt::Key_Escape, "\x1b", none}, true, Effect::closed},
        // X11 gives Ctrl+R the control character as its text.
        {"ctrl+r", {Qt::Key_R, "\x12", ctrl}, true, Effect::refreshed},
        {"ctrl+shift+r", {Qt::Key_R, "\x12", ctrl | Qt::ShiftModifier}, true, Effect::refreshed},
        {"ctrl+w", {Qt::Key_W, "\x17", ctrl}, true, Effect::closed},
        {"plain r", {Qt::Key_R, "r", none}, false, Effect::none},
        {"plain w", {Qt::Key_W, "w", none}, false, Effect::none},
        {"k", {Qt::Key_K, "k", none}, true, Effect::killedSelected},
        {"ctrl+k", {Qt::Key_K, "\x0b", ctrl}, true, Effect::killedSelected},
        {"no characters", {Qt::Key_F5, {}, none}, false, Effect::none},
        {"unknown key", {Qt::Key_Space, " ", none}, false, Effect::none},
        // Held keys: one press, one kill; moving the selection may repeat.
        {"held delete", {Qt::Key_Delete, "\x7f", none, true}, true, Effect::none},
        {"held backspace", {Qt::Key_Backspace, "\b", none, true}, true, Effect::none},
        {"held k", {Qt::Key_K, "k", none, true}, true, Effect::none},
        {"held down", {Qt::Key_Down, {}, none, true}, true, Effect::selectedNext},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.popover->shown = true;
        EXPECT_EQ(h.controller.handleKeyDown(c.event), c.handled);
        EXPECT_EQ(observedEffect(h), c.effect);
    }
}

TEST(MenuBarControllerKeys, OneActStopsTheRowSelectedAtThePress) {
    Harness h;
    h.popover->shown = true;
    h.listing->answer = QList<PortEntry>{PortEntry(10, 3000, "a"), PortEntry(30, 5000, "c")};
    const KeyDownEvent press{Qt::Key_Delete, "\x7f", Qt::NoModifier};
    EXPECT_TRUE(h.controller.handleKeyDown(press));
    h.store.setSelectedEntryID(PortEntryID{30, 5000}); // a refresh publishing before the kill runs
    drainEvents();
    EXPECT_EQ(h.killer->pids, QList<qint32>{20});
    h.now += MenuBarController::doubleClickInterval() / 2;
    EXPECT_TRUE(h.controller.handleKeyDown(press));
    drainEvents();
    EXPECT_EQ(h.killer->pids, QList<qint32>{20}) << "within the double-click interval: the same act";
    h.now += MenuBarController::doubleClickInterval();
    h.controller.handleKeyDown(press);
    drainEvents();
    EXPECT_EQ(h.killer->pids, (QList<qint32>{20, 30}));
}

TEST(MenuBarControllerKeys, DeleteWithNothingSelectedIsSwallowedAndDoesNothing) {
    Harness h;
    h.popover->shown = true;
    h.store.setSelectedEntryID(std::nullopt);
    EXPECT_TRUE(h.controller.handleKeyDown({Qt::Key_Delete, {}, Qt::NoModifier}));
    drainEvents();
    EXPECT_TRUE(h.killer->pids.isEmpty());
    EXPECT_EQ(h.store.entries().size(), 3);
}

TEST(MenuBarControllerKeys, KeysPassThroughWhileThePopupIsClosed) {
    Harness h;
    h.controller.configure();
    for (int key : {Qt::Key_Escape, Qt::Key_Delete, Qt::Key_Up, Qt::Key_R})
        EXPECT_FALSE(h.popover->keyHandler({key, {}, Qt::ControlModifier}));
    drainEvents();
    EXPECT_TRUE(h.killer->pids.isEmpty() && h.listing->ranges.isEmpty());
    EXPECT_EQ(h.store.selectedEntryID(), (PortEntryID{20, 4000}));
}

TEST(MenuBarControllerClicks, RoutesTrayClicks) {
    const struct {
        const char *name;
        TrayActivation activation;
        Qt::KeyboardModifiers modifiers;
        bool shownBefore;
        bool shownAfter;
        int menuPopUps;
        int refreshes;
    } cases[] = {
        {"plain click opens and refreshes", TrayActivation::primary, Qt::NoModifier, false, true, 0, 1},
        {"plain click closes without refresh", TrayActivation::primary, Qt::NoModifier, true, false, 0, 0},
        // The tray host shows the menu for a right click itself.
        {"right click closes", TrayActivation::context, Qt::NoModifier, true, false, 0, 0},
        {"ctrl+click closes and pops the menu", TrayActivation::primary, Qt::ControlModifier, true, false, 1, 0},
        {"ctrl+click while closed pops the menu", TrayActivation::primary, Qt::ControlModifier, false, false, 1, 0},
        // A StatusNotifierItem host that calls ContextMenu shows no menu of its own.
        {"host asks for the menu", TrayActivation::contextMenuRequest, Qt::NoModifier, true, false, 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.popover->shown = c.shownBefore;
        h.controller.handleStatusItemClick(c.activation, c.modifiers);
        drainEvents();
        EXPECT_EQ(h.popover->shown, c.shownAfter);
        EXPECT_EQ(h.menu->popUpCount, c.menuPopUps);
        EXPECT_EQ(h.listing->ranges.size(), c.refreshes);
    }
}

TEST(MenuBarControllerClicks, TheSecondClickOfADoubleClickLeavesThePopupOpen) {
    const auto interval = MenuBarController::doubleClickInterval();
    const struct {
        const char *name;
        std::chrono::milliseconds secondClickAfter;
        bool shownAfter;
    } cases[] = {
        {"at once", std::chrono::milliseconds(0), true},
        {"just inside the interval", interval - std::chrono::milliseconds(1), true},
        {"at the interval", interval, false},
        {"long after", interval * 10, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.controller.handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
        h.now += c.secondClickAfter;
        h.controller.handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
        drainEvents();
        EXPECT_EQ(h.popover->shown, c.shownAfter);
        EXPECT_EQ(h.listing->ranges.size(), 1); // the open's refresh only
    }
}

TEST(MenuBarControllerActivation, ShowsThePopupAtTheIconElseTheWindow) {
    enum Shown { nothing, popup, window };
    using Request = void (MenuBarController::*)();
    const Request activate = &MenuBarController::activate, toggle = &MenuBarController::toggle,
                  start = &MenuBarController::showWindowUnlessIconShows;
    const struct {
        const char *name;
        bool icon;
        Shown before;
        Request request;
        Shown after;
    } cases[] = {
        {"launch with an icon", true, nothing, activate, popup},
        {"launch without one", false, nothing, activate, window},
        {"launch, window open", false, window, activate, window},
        {"toggle, popup open", true, popup, toggle, nothing},
        {"toggle, window open", false, window, toggle, nothing},
        {"toggle, nothing open", false, nothing, toggle, window},
        {"start with an icon", true, nothing, start, nothing},
        {"start without one", false, nothing, start, window},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        FakePopover *shownWindow = nullptr;
        h.controller.setWindowFactory([&]() -> std::unique_ptr<PopoverPresenting> { return kept(shownWindow); });
        h.menu->icon = c.icon;
        h.popover->shown = c.before == popup;
        if (c.before == window)
            h.controller.activate();
        (h.controller.*c.request)();
        EXPECT_EQ(h.popover->shown, c.after == popup);
        EXPECT_EQ(shownWindow && shownWindow->shown, c.after == window);
        // The window's Escape closes the window.
        if (c.after == window) {
            EXPECT_TRUE(shownWindow->keyHandler(KeyDownEvent{Qt::Key_Escape, "\x1b", Qt::NoModifier}));
            EXPECT_FALSE(shownWindow->shown);
        }
    }
}

TEST(MenuBarControllerActivation, ShowsTheWindowWhereThePopupCannotBePlaced) {
    Harness h;
    FakePopover *shownWindow = nullptr;
    h.controller.setWindowFactory([&]() -> std::unique_ptr<PopoverPresenting> { return kept(shownWindow); });
    h.popover->placeable = false;
    h.controller.handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
    EXPECT_FALSE(h.popover->shown);
    ASSERT_TRUE(shownWindow);
    EXPECT_TRUE(shownWindow->shown);
}
