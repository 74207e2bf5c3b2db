#include "app/WindowSystem.h"

#include "app/Xcb.h"

#include <QGuiApplication>
#include <QWidget>

namespace quaystone {

namespace {

bool inWaylandSession() {
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
}

xcb_connection_t *x11Connection() {
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

void setStringProperty(xcb_connection_t *connection, xcb_window_t window, const char *name, const QByteArray &value) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, internAtom(connection, name),
                        internAtom(connection, "UTF8_STRING"), 8, uint32_t(value.size()), value.constData());
}

} // namespace

WindowSystem currentWindowSystem() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return WindowSystem::wayland;
    return inWaylandSession() ? WindowSystem::xwayland : WindowSystem::x11;
}

bool preferXwaylandInWaylandSession() {
    if (!inWaylandSession() || !qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

namespace x11 {

void setDesktopEntry(QWidget &window) {
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    // GNOME Shell and KWin both read it.
    setStringProperty(connection, xcb_window_t(window.winId()), "_GTK_APPLICATION_ID",
                      QGuiApplication::desktopFileName().toUtf8());
    xcb_flush(connection);
}

void markAsPopup(QWidget &window) {
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());
    // Qt adds its own states to these when it maps the window.
    const xcb_atom_t states[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(connection, "_NET_WM_STATE_SKIP_PAGER"),
                                 internAtom(connection, "_NET_WM_STATE_ABOVE")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                        32, std::size(states), states);
    setDesktopEntry(window);
}

} // namespace x11

} // namespace quaystone
