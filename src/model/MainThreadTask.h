#pragma once

#include <qcoro/qcorotask.h>

#include <functional>

namespace quaystone {

// Starts body as a task on the main thread's event loop: queued, so the caller (a click or
// key handler) returns first; awaited by nobody; kept alive until it finishes. An exception
// that escapes body is swallowed here, since nobody is there to receive it.
void startMainThreadTask(std::function<QCoro::Task<>()> body);

} // namespace quaystone
