#pragma once

#include <QString>
#include <QStringView>

namespace quaystone {

// Text from other processes (names, paths, command lines) made safe to show: control characters,
// line and paragraph separators, invisible format characters (bidirectional controls, zero-width
// characters, tags) and unpaired surrogates are written as visible escapes ("\n", "\x1B",
// "\u202E", "\U000E0041"), and the backslash as "\\", so no name can break a line, draw itself
// reversed, hide part of itself or pass an escape off as the real thing to pose as another.
QString displayText(QStringView text);

// The text with each unpaired surrogate, which no encoding can carry, replaced by U+FFFD.
QString wellFormed(QStringView text);

} // namespace quaystone
