#include "app/HeldKeys.h"

#include <QKeyEvent>

namespace quaystone {

void HeldKeys::released(const QKeyEvent &key) {
    if (key.isAutoRepeat())
        return;
    m_held.remove(key.key());
    m_releaseTimes.insert(key.key(), key.timestamp());
}

bool HeldKeys::pressIsRepeat(const QKeyEvent &key) {
    const bool repeated = key.isAutoRepeat() || m_held.contains(key.key()) ||
                          (key.timestamp() != 0 && m_releaseTimes.value(key.key()) == key.timestamp());
    m_held.insert(key.key());
    return repeated;
}

} // namespace quaystone
