#pragma once

#include "termination/ProcessStartTimeReading.h"

#include <QByteArrayView>

namespace quaystone {

// Field 22 of /proc/PID/stat, the value the listing records for each row.
class ProcStatStartTimeReader final : public ProcessStartTimeReading {
public:
    std::optional<quint64> startTime(qint32 pid) override;

    // The start time in the text of a stat file; absent when the text is not one.
    static std::optional<quint64> parseStartTime(QByteArrayView stat);
};

} // namespace quaystone
