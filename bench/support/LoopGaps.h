#pragma once

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <functional>

namespace quaystone::bench {

// The main thread's own CPU time, which does not advance while the scheduler runs other threads.
inline qint64 threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The longest time the event loop went without serving a 1 ms timer: in wall-clock time, and in the
// main thread's CPU time. On a busy machine the first also counts time the thread waited for a CPU;
// the second counts only the work done in one go, which is what the code controls.
struct LoopGaps {
    double wallMs = 0;
    double busyMs = 0;
};

// Runs the work to its end on the event loop and returns its longest gaps.
inline LoopGaps longestLoopGaps(const std::function<QCoro::Task<>()> &work) {
    QElapsedTimer sinceTick;
    qint64 gapNs = 0;
    qint64 busyNs = 0;
    qint64 cpuAtTick = threadCpuNs();
    const auto tick = [&] {
        gapNs = std::max(gapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
        const qint64 cpu = threadCpuNs();
        busyNs = std::max(busyNs, cpu - cpuAtTick);
        cpuAtTick = cpu;
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, tick);
    sinceTick.start();
    ticker.start();
    QCoro::waitFor(work());
    tick();
    return {static_cast<double>(gapNs) / 1e6, static_cast<double>(busyNs) / 1e6};
}

} // namespace quaystone::bench
