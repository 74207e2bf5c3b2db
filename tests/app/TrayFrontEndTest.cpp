#include "AppFakes.h"
#include "app/AppConfig.h"
#include "app/MenuBarController.h"
#include "app/PopoverWindow.h"
#include "app/SystemTrayStatusItem.h"
#include "model/PortStore.h"
#include "support/StoreFakes.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// The real popup and tray item under a controller, over a store on a fake listing.
struct FrontEnd {
    explicit FrontEnd(bool launchAtLogin = false, bool serviceRefuses = false)
        : config(std::make_unique<FakeLaunchAtLogin>(launchAtLogin, serviceRefuses)) {
        auto popoverOwned = std::make_unique<PopoverWindow>(store, [] { return QRect(600, 0, 24, 24); });
        auto itemOwned = std::make_unique<SystemTrayStatusItem>();
        popover = popoverOwned.get();
        item = itemOwned.get();
        controller = std::make_unique<MenuBarController>(config, store, std::move(popoverOwned), std::move(itemOwned));
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
    EXPECT_TRUE(f.item->menu().isVisible());
    f.item->menu().hide();
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
        const auto press = [&](bool autoRepeat) {
            QKeyEvent event(QEvent::KeyPress, k.key, Qt::NoModifier, QString::fromLatin1(k.text), autoRepeat);
            QApplication::sendEvent(f.focusTarget(), &event);
            drainEvents();
        };
        press(false);
        EXPECT_EQ(f.killer->pids, QList<qint32>{10});
        ASSERT_EQ(f.store.selectedEntryID(), (PortEntryID{20, 8080})) << "the kill moved the selection on";
        press(true);
        press(true);
        EXPECT_EQ(f.killer->pids, QList<qint32>{10}) << "the repeats of the held key stop nothing";
        press(false);
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
