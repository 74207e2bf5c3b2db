#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <qcoro/qcorotask.h>

#include <cassert>
#include <coroutine>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace quaystone::test {

// Serves the event loop until condition holds or the timeout passes; returns the condition.
inline bool spinUntil(const std::function<bool()> &condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

// Serves the event loop until every event queued so far has run.
inline void drainEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace detail {
template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T> *out) {
    out->emplace(co_await std::move(task));
}
} // namespace detail

// Runs task to its end on a local event loop. QCoro::waitFor itself needs a default-constructible
// result, which Result<T, E> is not.
template <typename T>
T awaitTask(QCoro::Task<T> task) {
    std::optional<T> result;
    QCoro::waitFor(detail::storeResult(std::move(task), &result));
    return std::move(*result);
}

// A queue of calls that stay suspended until the test completes them, so that any
// interleaving of coroutines can be played step by step without sleeps.
template <typename T>
class PendingCalls {
public:
    // co_await next() inside a fake's operation: it completes with the value that the test
    // later hands to complete().
    auto next() { return Awaiter{this}; }

    std::size_t waiting() const { return m_waiting.size(); }

    // Resumes the oldest waiting call with value; runs that coroutine up to its next suspension.
    void complete(T value) {
        assert(!m_waiting.empty());
        std::coroutine_handle<> h = m_waiting.front();
        m_waiting.pop_front();
        m_results.push_back(std::move(value));
        h.resume();
    }

private:
    struct Awaiter {
        PendingCalls *calls;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> h) { calls->m_waiting.push_back(h); }
        T await_resume() {
            T value = std::move(calls->m_results.front());
            calls->m_results.pop_front();
            return value;
        }
    };

    std::deque<std::coroutine_handle<>> m_waiting;
    std::deque<T> m_results;
};

} // namespace quaystone::test
