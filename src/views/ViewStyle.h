#pragma once

#include <QFont>

class QColor;
class QPalette;

namespace quaystone {

// The three text colours of the popover, resolved against the current palette when painted,
// so a theme change needs no rebuild.
enum class TextTone { primary, secondary, red };

// Fonts are set by pixel size so the popover keeps its 320-pixel layout at any DPI scale.
QFont popoverFont(int pixelSize, QFont::Weight weight);
QFont popoverMonospacedFont(int pixelSize, QFont::Weight weight);

QColor toneColour(const QPalette &palette, TextTone tone);
// The background of a selected row: the highlight at 12 % over the popover's base.
QColor selectionTint(const QPalette &palette);

} // namespace quaystone
