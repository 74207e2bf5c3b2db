#pragma once

#include <QPoint>
#include <QRect>

#include <chrono>
#include <optional>

namespace quaystone {

// A popup closes itself on any mouse press outside it. When that press lands on the tray icon,
// some setups report the same click to the icon a moment later: Qt replays a popup-closing
// press to its own widget under the pointer, and a StatusNotifierItem host may receive the
// click too once the popup lets go. Without this guard that click would open the popup again
// instead of leaving it closed.
class DismissalGuard {
public:
    using Clock = std::chrono::steady_clock;
    // Long enough for a replayed or D-Bus-delivered activation, too short for a second click.
    static constexpr std::chrono::milliseconds echoWindow{300};

    // An empty icon geometry means the host does not tell where the icon is: any press counts.
    void notePressDismissal(QPoint globalPos, QRect trayGeometry, Clock::time_point at);
    bool absorbsClickAt(Clock::time_point at) const;
    void clear() { m_dismissedAt.reset(); }

private:
    std::optional<Clock::time_point> m_dismissedAt;
};

} // namespace quaystone
