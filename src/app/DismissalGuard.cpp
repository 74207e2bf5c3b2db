#include "app/DismissalGuard.h"

namespace quaystone {

void DismissalGuard::notePressDismissal(QPoint globalPos, QRect trayGeometry, Clock::time_point at) {
    if (trayGeometry.isEmpty() || trayGeometry.contains(globalPos))
        m_dismissedAt = at;
    else
        m_dismissedAt.reset();
}

bool DismissalGuard::absorbsClickAt(Clock::time_point at) const {
    return m_dismissedAt && at >= *m_dismissedAt && at - *m_dismissedAt <= echoWindow;
}

} // namespace quaystone
