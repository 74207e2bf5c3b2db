#include "ViewStyle.h"

#include <QColor>
#include <QFontDatabase>
#include <QPalette>

namespace quaystone {

namespace {

QFont withSize(QFont font, int pixelSize, QFont::Weight weight) {
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont popoverFont(int pixelSize, QFont::Weight weight) {
    return withSize(QFontDatabase::systemFont(QFontDatabase::GeneralFont), pixelSize, weight);
}

QFont popoverMonospacedFont(int pixelSize, QFont::Weight weight) {
    return withSize(QFontDatabase::systemFont(QFontDatabase::FixedFont), pixelSize, weight);
}

QColor toneColour(const QPalette &palette, TextTone tone) {
    switch (tone) {
    case TextTone::primary:
        return palette.color(QPalette::Text);
    case TextTone::secondary:
        return palette.color(QPalette::PlaceholderText);
    case TextTone::red:
        // The popover paints on the base colour; each red keeps a readable contrast on its side.
        return palette.color(QPalette::Base).lightnessF() < 0.5 ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28);
    }
    return palette.color(QPalette::Text);
}

QColor selectionTint(const QPalette &palette) {
    QColor tint = palette.color(QPalette::Highlight);
    tint.setAlphaF(0.12f);
    return tint;
}

} // namespace quaystone
