#include "app/XEmbedTrayWatcher.h"

#include "app/TrayLogging.h"
#include "app/Xcb.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <cstdlib>

namespace quaystone {

namespace {

xcb_connection_t *xcb(void *connection) {
    return static_cast<xcb_connection_t *>(connection);
}

// Adds to what this client already listens to on the window instead of replacing it: Qt
// listens on the root window too.
bool listenForStructureChanges(xcb_connection_t *connection, xcb_window_t window) {
    const XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
    if (!attributes)
        return false;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    // Checked: an owner that is already gone must not end as an error report on stderr.
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(
        connection, xcb_change_window_attributes_checked(connection, window, XCB_CW_EVENT_MASK, &mask)));
    return !error;
}

} // namespace

XEmbedTrayWatcher::XEmbedTrayWatcher(QObject *parent)
    : QObject(parent) {
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    // The display's default screen, which is the one Qt's tray icon docks on.
    char *host = nullptr;
    int displayNumber = 0;
    int screenNumber = 0;
    if (xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        std::free(host);
    else
        screenNumber = 0;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return;

    m_connection = connection;
    m_root = screens.data->root;
    m_selection = internAtom(connection, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber));
    m_managerAtom = internAtom(connection, "MANAGER");
    listenForStructureChanges(connection, m_root);
    QCoreApplication::instance()->installNativeEventFilter(this);
    lookForOwner();
}

XEmbedTrayWatcher::~XEmbedTrayWatcher() {
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedTrayWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_CLIENT_MESSAGE: {
        const auto *clientMessage = static_cast<const xcb_client_message_event_t *>(message);
        if (clientMessage->type == m_managerAtom && clientMessage->data.data32[1] == m_selection)
            lookForOwnerLater();
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (m_owner && static_cast<const xcb_destroy_notify_event_t *>(message)->window == m_owner)
            lookForOwnerLater();
        break;
    default:
        break;
    }
    return false; // Qt's own tray tracking needs the same events
}

void XEmbedTrayWatcher::lookForOwnerLater() {
    if (m_lookPending)
        return;
    m_lookPending = true;
    QMetaObject::invokeMethod(this, &XEmbedTrayWatcher::lookForOwner, Qt::QueuedConnection);
}

void XEmbedTrayWatcher::lookForOwner() {
    m_lookPending = false;
    xcb_connection_t *connection = xcb(m_connection);
    const XcbReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, m_selection), nullptr));
    xcb_window_t owner = reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
    // Its destruction is how a tray's end shows; an owner gone in between counts as none.
    if (owner != XCB_WINDOW_NONE && owner != m_owner && !listenForStructureChanges(connection, owner))
        owner = XCB_WINDOW_NONE;
    if (owner == m_owner)
        return;
    const bool hadOwner = m_owner != 0;
    m_owner = owner;
    qCDebug(lcTray) << "XEmbed tray" << (owner ? "present" : "gone");
    if (hadOwner)
        Q_EMIT trayVanished();
    if (owner)
        Q_EMIT trayAppeared();
}

} // namespace quaystone
