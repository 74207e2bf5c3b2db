#pragma once

#include <QList>
#include <QThreadPool>

#include <utility>

namespace quaystone {

// Frees a large list on a worker thread: hundreds of thousands of entries, each with strings of its
// own, take tens of milliseconds to free, far more than a frame of the event loop. A list still shared
// elsewhere, or a short one, is simply let go here. Implicit sharing counts references atomically,
// so the elements may be freed on any thread.
template <typename T>
void releaseInBackground(QList<T> &&list) {
    constexpr qsizetype largeList = 10000;
    QList<T> doomed = std::exchange(list, {});
    if (doomed.size() < largeList || !doomed.isDetached())
        return;
    QThreadPool::globalInstance()->start([doomed = std::move(doomed)]() mutable { doomed = {}; });
}

} // namespace quaystone
