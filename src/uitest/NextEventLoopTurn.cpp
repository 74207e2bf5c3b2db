#include "uitest/NextEventLoopTurn.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quaystone {

bool NextEventLoopTurn::await_ready() const noexcept {
    // Without an event loop there is no later turn to wait for.
    return QCoreApplication::instance() == nullptr;
}

void NextEventLoopTurn::await_suspend(std::coroutine_handle<> handle) const {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace quaystone
