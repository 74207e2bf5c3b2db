#include "termination/ProcStatStartTimeReader.h"

#include <QByteArray>
#include <QFile>

#include <limits>

namespace quaystone {

std::optional<quint64> ProcStatStartTimeReader::startTime(qint32 pid) {
    if (pid <= 0)
        return std::nullopt;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseStartTime(stat.readAll());
}

std::optional<quint64> ProcStatStartTimeReader::parseStartTime(QByteArrayView stat) {
    // The name (field 2) sits in parentheses and may itself hold spaces and ')', so the
    // fields are counted from the last ')': field 3 follows it. Read once per listed process
    // in every refresh, so it walks the text without allocating.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    qsizetype i = close + 1;
    const auto skipSpaces = [&] {
        while (i < stat.size() && stat[i] == ' ')
            ++i;
    };
    constexpr int startTimeField = 22;
    for (int field = 3; field < startTimeField; ++field) {
        skipSpaces();
        if (i == stat.size())
            return std::nullopt;
        while (i < stat.size() && stat[i] != ' ')
            ++i;
    }
    skipSpaces();
    const qsizetype begin = i;
    quint64 ticks = 0;
    for (; i < stat.size() && stat[i] >= '0' && stat[i] <= '9'; ++i) {
        if (ticks > (std::numeric_limits<quint64>::max() - 9) / 10)
            return std::nullopt;
        ticks = ticks * 10 + quint64(stat[i] - '0');
    }
    if (i == begin || (i < stat.size() && stat[i] != ' ' && stat[i] != '\n'))
        return std::nullopt;
    return ticks;
}

} // namespace quaystone
