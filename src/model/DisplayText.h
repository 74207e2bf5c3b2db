#pragma once

#include <QString>
#include <QStringView>

namespace quaystone {

// Text from other processes (names, paths, command lines) made safe to show: control characters,
// line and paragraph separators and bidirectional controls are written as visible escapes ("\n",
// "\x1b", "\u202E"), so no name can break a line or draw itself reversed to pose as another.
QString displayText(QStringView text);

} // namespace quaystone
