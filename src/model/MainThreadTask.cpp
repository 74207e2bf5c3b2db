#include "MainThreadTask.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quaystone {

namespace {

// body is a parameter, so it lives in this frame for the whole run; a lambda coroutine's
// captures stay valid only while the lambda object lives.
QCoro::Task<> runDetached(std::function<QCoro::Task<>()> body) {
    try {
        co_await body();
    } catch (...) {
    }
}

} // namespace

void startMainThreadTask(std::function<QCoro::Task<>()> body) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [body = std::move(body)]() mutable { runDetached(std::move(body)); },
        Qt::QueuedConnection);
}

} // namespace quaystone
