#pragma once

namespace quaystone {

// Makes the popup a window of the application's accessible tree: Qt leaves every Qt::Popup
// window out of the application's accessible children, so a screen reader could not reach the
// popup from the application. Installed once, before the accessibility bridge first asks for
// the application (the bridge keeps the first answer).
void installPopupAccessibility();

} // namespace quaystone
