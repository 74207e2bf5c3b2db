#include "app/PopupPlacement.h"
#include "app/DismissalGuard.h"

#include <gtest/gtest.h>

using namespace quaystone;

TEST(PopupPlacement, PlacesThePopupAtTheTrayIcon) {
    const QRect screen(0, 0, 1280, 800);
    const QRect belowTopPanel(0, 24, 1280, 776);
    const QRect aboveBottomPanel(0, 0, 1280, 776);
    const QSize popup(320, 400);
    struct Case {
        const char *name;
        QRect tray;
        QPoint cursor;
        QRect available;
        QPoint expected;
    };
    const Case cases[] = {
        {"top panel: centred under the icon", QRect(600, 0, 24, 24), {}, belowTopPanel, {452, 24}},
        {"bottom panel: above the icon", QRect(600, 776, 24, 24), {}, aboveBottomPanel, {452, 376}},
        {"icon at the right edge: kept on screen", QRect(1256, 0, 24, 24), {}, belowTopPanel, {960, 24}},
        {"icon at the left edge: kept on screen", QRect(0, 0, 24, 24), {}, belowTopPanel, {0, 24}},
        {"bottom right corner", QRect(1256, 776, 24, 24), {}, aboveBottomPanel, {960, 376}},
        {"no geometry: at the cursor", QRect(), {700, 10}, screen, {540, 11}},
        {"no geometry, cursor low: above it", QRect(), {700, 790}, screen, {540, 390}},
        {"no geometry, cursor in a corner", QRect(), {1279, 0}, screen, {960, 1}},
        {"second screen to the right", QRect(2000, 0, 24, 24), {}, QRect(1280, 24, 1920, 1056), {1852, 24}},
        {"screen unknown: no clamping", QRect(1256, 0, 24, 24), {}, QRect(), {1108, 24}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(popupPosition(c.tray, c.cursor, popup, c.available), c.expected);
    }
}

TEST(PopupPlacement, PopupTallerThanTheScreenStartsAtItsTop) {
    EXPECT_EQ(popupPosition(QRect(600, 776, 24, 24), {}, QSize(320, 900), QRect(0, 0, 1280, 770)), QPoint(452, 0));
}

TEST(DismissalGuard, AbsorbsOnlyTheClickOfThePressThatClosedThePopup) {
    using namespace std::chrono_literals;
    const DismissalGuard::Clock::time_point t0{};
    const QRect icon(600, 0, 24, 24);
    struct Case {
        const char *name;
        QPoint press;
        QRect tray;
        std::chrono::milliseconds clickAfter;
        bool absorbed;
    };
    const Case cases[] = {
        {"press on the icon, click right after", {610, 10}, icon, 20ms, true},
        {"press on the icon, a later click", {610, 10}, icon, 1s, false},
        {"press elsewhere", {100, 300}, icon, 20ms, false},
        {"host gives no geometry", {100, 300}, QRect(), 20ms, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DismissalGuard guard;
        EXPECT_FALSE(guard.absorbsClickAt(t0));
        guard.notePressDismissal(c.press, c.tray, t0);
        EXPECT_EQ(guard.absorbsClickAt(t0 + c.clickAfter), c.absorbed);
        guard.clear();
        EXPECT_FALSE(guard.absorbsClickAt(t0 + c.clickAfter));
    }
}
