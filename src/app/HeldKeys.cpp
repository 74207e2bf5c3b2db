#include "app/HeldKeys.h"

#include <QKeyEvent>

namespace quaystone {

std::optional<KeyDownEvent> HeldKeys::keyDown(const QKeyEvent &key) {
    if (key.type() != QEvent::KeyPress) {
        if (!key.isAutoRepeat()) {
            m_held.remove(key.key());
            m_releaseTimes.insert(key.key(), key.timestamp());
        }
        return std::nullopt;
    }
    const bool repeated = key.isAutoRepeat() || m_held.contains(key.key()) ||
                          (key.timestamp() != 0 && m_releaseTimes.value(key.key()) == key.timestamp());
    m_held.insert(key.key());
    return KeyDownEvent{key.key(), key.text(), key.modifiers(), repeated};
}

} // namespace quaystone
