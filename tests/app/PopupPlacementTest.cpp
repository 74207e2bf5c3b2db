#include "app/PopupPlacement.h"

#include <gtest/gtest.h>

using namespace quaystone;

TEST(PopupPlacement, PlacesThePopupAtTheTrayIconOrThePointerWithoutCoveringIt) {
    const QRect screen(0, 0, 1280, 800);
    const QRect belowTopPanel(0, 24, 1280, 776);
    const QRect aboveBottomPanel(0, 0, 1280, 776);
    const QSize popup(320, 400);
    const struct {
        const char *name;
        QRect tray;
        QPoint pointer;
        QSize size;
        QRect available;
        QPoint expected;
        bool fits = true; // false: the popup cannot help covering the anchor
    } cases[] = {
        {"top panel: centred under the icon", QRect(600, 0, 24, 24), {}, popup, belowTopPanel, {452, 24}},
        {"bottom panel: above the icon", QRect(600, 776, 24, 24), {}, popup, aboveBottomPanel, {452, 376}},
        {"icon at the right edge", QRect(1256, 0, 24, 24), {}, popup, belowTopPanel, {960, 24}},
        {"icon at the left edge", QRect(0, 0, 24, 24), {}, popup, belowTopPanel, {0, 24}},
        {"icon geometry wins over the pointer", QRect(600, 0, 24, 24), {100, 700}, popup, belowTopPanel, {452, 24}},
        // No geometry (StatusNotifierItem): the popup clears a panel icon's worth around the pointer.
        {"pointer high, no strut: below it", QRect(), {700, 10}, popup, screen, {540, 23}},
        {"pointer low, no strut: above it", QRect(), {700, 790}, popup, screen, {540, 378}},
        {"pointer in a top panel with a strut", QRect(), {700, 12}, popup, belowTopPanel, {540, 25}},
        {"pointer in a bottom panel with a strut", QRect(), {700, 788}, popup, aboveBottomPanel, {540, 376}},
        {"pointer at the right edge", QRect(), {1279, 5}, popup, screen, {960, 18}},
        {"pointer on a second screen", QRect(), {2000, 1070}, popup, QRect(1280, 0, 1920, 1080), {1840, 658}},
        {"screen unknown: no clamping", QRect(1256, 0, 24, 24), {}, popup, QRect(), {1108, 24}},
        {"taller than the screen",
         QRect(600, 776, 24, 24),
         {},
         QSize(320, 900),
         QRect(0, 0, 1280, 770),
         {452, 0},
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint position = popupPosition(c.tray, c.pointer, c.size, c.available);
        EXPECT_EQ(position, c.expected);
        EXPECT_EQ(QRect(position, c.size).intersects(anchorArea(c.tray, c.pointer)), !c.fits);
    }
}
