#include "termination/PidfdExitWaiter.h"

#include "termination/ProcessHandle.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <coroutine>
#include <limits>
#include <memory>
#include <utility>

#include <poll.h>

namespace quaystone {

namespace {

bool hasExited(int pidfd) {
    pollfd entry{pidfd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP)) != 0;
}

// Suspends the task and leaves its handle where a wake-up finds it.
struct Suspended {
    std::shared_ptr<std::coroutine_handle<>> slot;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> awaiting) noexcept { *slot = awaiting; }
    void await_resume() const noexcept {}
};

} // namespace

QCoro::Task<bool> PidfdExitWaiter::waitForExit(const ProcessHandle &process, quint64 nanoseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::nanoseconds(nanoseconds);

    // The task resumes from a queued call on the application, so that it may destroy the timer
    // and the notifier that woke it without doing so inside their own signal. Whichever of the two
    // comes first wakes it; the later one finds the slot empty.
    auto waiting = std::make_shared<std::coroutine_handle<>>();
    const auto wake = [waiting] {
        if (const std::coroutine_handle<> awaiting = std::exchange(*waiting, nullptr))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [awaiting] { awaiting.resume(); }, Qt::QueuedConnection);
    };
    QTimer timer;
    // A coarse timer may fire up to 5% early; the clock is checked again all the same.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &timer, wake);
    std::unique_ptr<QSocketNotifier> notifier;
    if (process.hasPidfd()) {
        notifier = std::make_unique<QSocketNotifier>(process.pidfd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), wake);
    }

    for (;;) {
        if (process.hasPidfd() && hasExited(process.pidfd()))
            co_return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            co_return false;
        // Rounded up, so that no single wait ends before the deadline; a long wait is served in
        // pieces because the timer takes an int of milliseconds.
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        timer.start(std::min(remaining, std::chrono::milliseconds(std::numeric_limits<int>::max())));
        co_await Suspended{waiting};
        timer.stop();
    }
}

} // namespace quaystone
