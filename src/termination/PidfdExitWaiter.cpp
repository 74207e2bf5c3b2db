#include "termination/PidfdExitWaiter.h"

#include "kernel/Pidfd.h"

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

namespace quaystone {

namespace {

// The timer and the pidfd's notifier of one wait, and the task they wake. Built outside the
// coroutine: GCC 12 destroys lambda captures in a coroutine frame twice.
class WakeSources {
public:
    explicit WakeSources(int pidfd) {
        // A coarse timer may fire up to 5% early; the caller checks the clock all the same.
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { wake(); });
        if (pidfd >= 0) {
            m_notifier = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { wake(); });
        }
    }

    // Suspends the task until the pidfd is readable or the time is up.
    auto wakeAfter(std::chrono::milliseconds timeout) {
        struct Awaiter {
            WakeSources *sources;
            std::chrono::milliseconds timeout;
            bool await_ready() const noexcept { return false; }
            void await_suspend(std::coroutine_handle<> awaiting) {
                sources->m_waiting = awaiting;
                sources->m_timer.start(timeout);
            }
            void await_resume() const noexcept {}
        };
        return Awaiter{this, timeout};
    }

private:
    // The task resumes from a queued call on the application, so that it may destroy the timer
    // and the notifier without doing so inside their own signal. Whichever of the two comes first
    // wakes it; the other finds nobody waiting.
    void wake() {
        m_timer.stop();
        if (const std::coroutine_handle<> waiting = std::exchange(m_waiting, nullptr))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
    }

    QTimer m_timer;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::coroutine_handle<> m_waiting;
};

} // namespace

QCoro::Task<bool> PidfdExitWaiter::waitForExit(const ProcessHandle &process, quint64 nanoseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::nanoseconds(nanoseconds);
    const auto sources = std::make_unique<WakeSources>(process.pidfd());
    for (;;) {
        if (process.hasPidfd() && kernel::pidfdHasExited(process.pidfd()))
            co_return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            co_return false;
        // Rounded up, so that no single wait ends before the deadline; a long wait is served in
        // pieces because the timer takes an int of milliseconds.
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        co_await sources->wakeAfter(std::min(remaining, std::chrono::milliseconds(std::numeric_limits<int>::max())));
    }
}

} // namespace quaystone
