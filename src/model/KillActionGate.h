#pragma once

#include <chrono>
#include <optional>

namespace quaystone {

// One deliberate act stops one process. The next row slides into the place of a stopped one, so
// the second click of a double click, or a repeat of a held key that the window system does not
// mark as one, would stop it too. A kill action within the desktop's double-click interval of
// the one before belongs to the same act and is ignored; the interval runs from the latest
// action, taken or not, so that a stream of repeats never gets through.
class KillActionGate {
public:
    using Clock = std::chrono::steady_clock;

    bool admit(Clock::time_point at, std::chrono::milliseconds interval) {
        const bool admitted = !m_latest || at - *m_latest >= interval;
        m_latest = at;
        return admitted;
    }

private:
    std::optional<Clock::time_point> m_latest;
};

} // namespace quaystone
