#include "app/PopupPlacement.h"

#include <gtest/gtest.h>

using namespace quaystone;

TEST(PopupPlacement, PlacesThePopupAtTheTrayIcon) {
    const QRect screen(0, 0, 1280, 800);
    const QRect belowTopPanel(0, 24, 1280, 776);
    const QRect aboveBottomPanel(0, 0, 1280, 776);
    const QSize popup(320, 400);
    const struct {
        const char *name;
        QRect tray;
        QPoint cursor;
        QSize size;
        QRect available;
        QPoint expected;
    } cases[] = {
        {"top panel: centred under the icon", QRect(600, 0, 24, 24), {}, popup, belowTopPanel, {452, 24}},
        {"bottom panel: above the icon", QRect(600, 776, 24, 24), {}, popup, aboveBottomPanel, {452, 376}},
        {"icon at the right edge", QRect(1256, 0, 24, 24), {}, popup, belowTopPanel, {960, 24}},
        {"icon at the left edge", QRect(0, 0, 24, 24), {}, popup, belowTopPanel, {0, 24}},
        {"no geometry: at the cursor", QRect(), {700, 10}, popup, screen, {540, 11}},
        {"no geometry, cursor low: above it", QRect(), {700, 790}, popup, screen, {540, 390}},
        {"second screen", QRect(2000, 0, 24, 24), {}, popup, QRect(1280, 24, 1920, 1056), {1852, 24}},
        {"screen unknown: no clamping", QRect(1256, 0, 24, 24), {}, popup, QRect(), {1108, 24}},
        {"taller than the screen", QRect(600, 776, 24, 24), {}, QSize(320, 900), QRect(0, 0, 1280, 770), {452, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(popupPosition(c.tray, c.cursor, c.size, c.available), c.expected);
    }
}
