#pragma once

// The few xcb helpers the app's own X11 code shares; included by .cpp files only.

#include <QByteArray>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace quaystone {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
// xcb hands replies over for the caller to free.
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

inline xcb_atom_t internAtom(xcb_connection_t *connection, const QByteArray &name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, static_cast<uint16_t>(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace quaystone
