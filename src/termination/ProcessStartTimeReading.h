#pragma once

#include <QtGlobal>

#include <optional>

namespace quaystone {

class ProcessStartTimeReading {
public:
    virtual ~ProcessStartTimeReading() = default;

    // When the process that has pid now started, in clock ticks since boot; absent when no
    // process has that pid (or its start cannot be read).
    virtual std::optional<quint64> startTime(qint32 pid) = 0;
};

} // namespace quaystone
