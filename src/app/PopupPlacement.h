#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace quaystone {

// Where the popup belongs: the tray icon's global geometry when the tray host tells it
// (XEmbed), else the point a StatusNotifierItem host sent with its last click, or the pointer
// as it was when the icon or its menu was last used (by the time "Show Ports" is chosen the
// pointer has moved to the menu item).
struct PopupAnchor {
    QRect iconGeometry;
    std::optional<QPoint> pointer;

    friend bool operator==(const PopupAnchor &, const PopupAnchor &) = default;
};

// Half the side of the area taken as the icon around a remembered pointer: a panel icon is
// about 24 pixels, and the popup must not cover the part of it below or above the pointer.
inline constexpr int pointerAnchorReach = 12;

// The area a popup must leave uncovered: the icon, else a panel icon's worth around the
// pointer.
QRect anchorArea(QRect iconGeometry, QPoint pointer);

// The popup's top-left corner: centred under the anchor area, or above it when it sits in the
// lower half of the screen (a bottom panel), then moved inside the screen's available area. An
// empty available area (no screen known) places without clamping.
QPoint popupPosition(QRect iconGeometry, QPoint pointer, QSize popupSize, QRect availableScreen);

} // namespace quaystone
