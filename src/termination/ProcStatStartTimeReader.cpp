#include "termination/ProcStatStartTimeReader.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>

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
    // fields are counted from the last ')': field 3 follows it.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    constexpr qsizetype startTimeIndex = 22 - 3;
    const QList<QByteArray> fields = stat.sliced(close + 1).trimmed().toByteArray().split(' ');
    if (fields.size() <= startTimeIndex)
        return std::nullopt;
    const QByteArray &text = fields[startTimeIndex];
    if (text.isEmpty() || !std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace quaystone
