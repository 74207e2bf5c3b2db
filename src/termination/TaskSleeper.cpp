#include "termination/TaskSleeper.h"

#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <chrono>
#include <limits>

namespace quaystone {

QCoro::Task<bool> TaskSleeper::sleep(quint64 nanoseconds) {
    // QTimer takes an int of milliseconds, so a long wait is served in pieces; each piece is
    // rounded up so the sleep never ends before the time asked for.
    constexpr quint64 nanosecondsPerMillisecond = 1'000'000;
    constexpr quint64 longestPiece = quint64(std::numeric_limits<int>::max());
    quint64 remainingMs = nanoseconds / nanosecondsPerMillisecond + (nanoseconds % nanosecondsPerMillisecond != 0);
    while (remainingMs > 0) {
        const quint64 piece = std::min(remainingMs, longestPiece);
        co_await QCoro::sleepFor(std::chrono::milliseconds(piece));
        remainingMs -= piece;
    }
    co_return true;
}

} // namespace quaystone
