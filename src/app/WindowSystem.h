#pragma once

class QWidget;

namespace quaystone {

// Where the app's windows live, which decides whether the popup can be put at the icon: an X11
// session, an X11 client of a Wayland session (Xwayland), or a Wayland client, which is given no
// global positions and cannot place a window at all.
enum class WindowSystem { x11, xwayland, wayland };

WindowSystem currentWindowSystem();

// Called before the application object exists: a Wayland session that runs Xwayland gets the
// app on it, unless the user chose a platform (QT_QPA_PLATFORM). Only X11 lets a client put a
// window at a global position, and the popup belongs at the icon.
// Returns whether it chose.
bool preferXwaylandInWaylandSession();

namespace x11 {
// Keeps a frameless window of a Wayland session's X server out of taskbars and window
// switchers, and above other windows, and names the app's desktop entry for it. Call before it
// is mapped. Does nothing off X11.
void markAsPopup(QWidget &window);
// Names the window's desktop entry, so that shells show the app's name and icon for it.
void setDesktopEntry(QWidget &window);
} // namespace x11

} // namespace quaystone
