#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace quaystone {

// The popup's top-left corner: centred under the tray icon, or above it when the icon sits in
// the lower half of the screen (a bottom panel), then moved inside the screen's available
// area. Tray hosts that report no icon geometry get the popup at the cursor instead. An empty
// available area (no screen known) places without clamping.
QPoint popupPosition(QRect trayGeometry, QPoint cursor, QSize popupSize, QRect availableScreen);

} // namespace quaystone
