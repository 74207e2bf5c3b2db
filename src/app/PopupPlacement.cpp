#include "app/PopupPlacement.h"

#include <algorithm>

namespace quaystone {

namespace {

// Keeps [start, start + length) inside [low, high]; a span longer than that starts at low.
int clampSpan(int start, int length, int low, int high) {
    return std::max(low, std::min(start, high - length + 1));
}

} // namespace

QRect anchorArea(QRect iconGeometry, QPoint pointer) {
    if (!iconGeometry.isEmpty())
        return iconGeometry;
    constexpr int side = 2 * pointerAnchorReach + 1;
    return {pointer - QPoint(pointerAnchorReach, pointerAnchorReach), QSize(side, side)};
}

QPoint popupPosition(QRect iconGeometry, QPoint pointer, QSize popupSize, QRect availableScreen) {
    const QRect anchor = anchorArea(iconGeometry, pointer);
    const int anchorMiddleY = anchor.top() + anchor.height() / 2;
    const bool screenKnown = !availableScreen.isEmpty();
    const bool above = screenKnown && anchorMiddleY > availableScreen.top() + availableScreen.height() / 2;

    int x = anchor.left() + anchor.width() / 2 - popupSize.width() / 2;
    int y = above ? anchor.top() - popupSize.height() : anchor.bottom() + 1;
    if (screenKnown) {
        x = clampSpan(x, popupSize.width(), availableScreen.left(), availableScreen.right());
        y = clampSpan(y, popupSize.height(), availableScreen.top(), availableScreen.bottom());
    }
    return {x, y};
}

} // namespace quaystone
