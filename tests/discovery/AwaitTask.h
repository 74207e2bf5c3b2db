#pragma once

#include <qcoro/qcorotask.h>

#include <optional>
#include <utility>

namespace quaystone::test {

template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T> *out) {
    out->emplace(co_await std::move(task));
}

// Runs task to its end on a local event loop. QCoro::waitFor itself needs a default-constructible
// result, which Result<T, E> is not.
template <typename T>
T awaitTask(QCoro::Task<T> task) {
    std::optional<T> result;
    QCoro::waitFor(storeResult(std::move(task), &result));
    return std::move(*result);
}

} // namespace quaystone::test
