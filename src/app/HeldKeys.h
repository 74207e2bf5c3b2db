#pragma once

#include "app/KeyDownEvent.h"

#include <QHash>
#include <QSet>

#include <optional>

class QKeyEvent;

namespace quaystone {

// Tells a fresh key press from a held key's repeat. An X server repeats a key as a release and
// a press at the same time, and xcb marks them as repeats only when the press is already queued
// as the release is read, which a loaded machine need not manage. So a press of a key not seen
// going up since, or that went up at the very time of this press, is a repeat too.
class HeldKeys {
public:
    // Every key press and release of the window: a press comes back as its key-down, marked as
    // a repeat where it is one; a release only makes the next press of that key count as fresh.
    std::optional<KeyDownEvent> keyDown(const QKeyEvent &key);
    // When the window shows again: a key let go while it was hidden was never seen going up.
    void forget() {
        m_held.clear();
        m_releaseTimes.clear();
    }

private:
    QSet<int> m_held;
    QHash<int, quint64> m_releaseTimes;
};

} // namespace quaystone
