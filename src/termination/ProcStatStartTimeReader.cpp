#include "termination/ProcStatStartTimeReader.h"

#include "kernel/ProcStat.h"

namespace quaystone {

std::optional<quint64> ProcStatStartTimeReader::startTime(qint32 pid) {
    return kernel::readStartTime(pid);
}

std::optional<quint64> ProcStatStartTimeReader::parseStartTime(QByteArrayView stat) {
    return kernel::parseStartTime(std::string_view(stat.data(), size_t(stat.size())));
}

} // namespace quaystone
