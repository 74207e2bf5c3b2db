#pragma once

#include <coroutine>

namespace quaystone {

// Awaiting this gives the main thread up until the event loop's next turn, then resumes the
// coroutine there. The fakes reach their shared scenario state through it, the way a call into
// another executor suspends the caller: events already queued, clicks and key presses
// included, are served before the call completes.
struct NextEventLoopTurn {
    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}
};

} // namespace quaystone
