#pragma once

#include <QFont>

class QColor;
class QPalette;

namespace quaystone {

// The three text colours of the popover, resolved against the palette of the widget that paints
// them, so a theme change needs no rebuild and a selected row's own palette gives its own tones.
enum class TextTone { primary, secondary, red };

// The desktop's font size, and the smaller one of footers, headers and details (about 85 %).
enum class TextSize { regular, small };

// The desktop's font (QGuiApplication::font()) in its size or the smaller one.
QFont popoverFont(TextSize size, QFont::Weight weight);
QFont popoverMonospacedFont(TextSize size, QFont::Weight weight);

// How much larger than 13 pixels the desktop's font is, at least 1: the popover's width and the
// columns and marks sized for text grow by it.
qreal popoverScale();
int scaled(int logicalPixels);
// 320 pixels at the default font size.
int popoverWidth();

QColor toneColour(const QPalette &palette, TextTone tone);
// The WCAG contrast ratio of two opaque colours, from 1 to 21.
qreal contrastRatio(const QColor &a, const QColor &b);
// The palette of a selected row: its base is the highlight, at least 3:1 against the popover's
// base, and its text the highlighted text (or whichever reads at 4.5:1 on it).
QPalette selectedRowPalette(const QPalette &palette);

} // namespace quaystone
