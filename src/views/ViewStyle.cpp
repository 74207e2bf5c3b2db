#include "ViewStyle.h"

#include <QColor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace quaystone {

namespace {

constexpr qreal smallTextFactor = 0.85;
// Small text needs 4.5:1; a large area such as a row's background 3:1 (WCAG 2).
constexpr qreal textContrast = 4.5;
constexpr qreal areaContrast = 3.0;

QFont sized(QFont font, TextSize size, QFont::Weight weight) {
    const QFont desktop = QGuiApplication::font();
    const qreal factor = size == TextSize::small ? smallTextFactor : 1.0;
    if (desktop.pointSizeF() > 0)
        font.setPointSizeF(desktop.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(1, int(std::lround(desktop.pixelSize() * factor))));
    font.setWeight(weight);
    return font;
}

qreal relativeLuminance(const QColor &colour) {
    const auto channel = [](qreal v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

QColor mixed(const QColor &a, const QColor &b, qreal t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Black or white, whichever stands further from the background.
QColor farthestExtreme(const QColor &background) {
    return contrastRatio(Qt::black, background) > contrastRatio(Qt::white, background) ? QColor(Qt::black)
                                                                                       : QColor(Qt::white);
}

// The colour moved toward black or white, away from the background, no further than it takes to
// reach the contrast (or all the way, where even that falls short).
QColor readableOn(const QColor &colour, const QColor &background, qreal minimum) {
    const QColor extreme = farthestExtreme(background);
    QColor result = colour;
    for (int step = 1; step <= 20 && contrastRatio(result, background) < minimum; ++step)
        result = mixed(colour, extreme, step / 20.0);
    return result;
}

} // namespace

QFont popoverFont(TextSize size, QFont::Weight weight) {
    return sized(QGuiApplication::font(), size, weight);
}

QFont popoverMonospacedFont(TextSize size, QFont::Weight weight) {
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), size, weight);
}

qreal popoverScale() {
    return std::max(1.0, QFontInfo(QGuiApplication::font()).pixelSize() / 13.0);
}

int scaled(int logicalPixels) {
    return int(std::lround(logicalPixels * popoverScale()));
}

int popoverWidth() {
    return scaled(320);
}

qreal contrastRatio(const QColor &a, const QColor &b) {
    const qreal la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor toneColour(const QPalette &palette, TextTone tone) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    switch (tone) {
    case TextTone::primary:
        return readableOn(text, base, textContrast);
    case TextTone::secondary:
        // Between the text and the base, as far toward the base as stays readable.
        return readableOn(mixed(text, base, 0.5), base, textContrast);
    case TextTone::red:
        return readableOn(base.lightnessF() < 0.5 ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28), base,
                          textContrast);
    }
    return text;
}

QPalette selectedRowPalette(const QPalette &palette) {
    const QColor base = palette.color(QPalette::Base);
    QColor selection = readableOn(palette.color(QPalette::Highlight), base, areaContrast);
    QColor text = palette.color(QPalette::HighlightedText);
    // Where the highlighted text does not read on it, the highlight goes further from the text,
    // as long as it stays apart from the base.
    const QColor away = farthestExtreme(text);
    for (int step = 1; step <= 20 && contrastRatio(text, selection) < textContrast; ++step) {
        const QColor candidate = mixed(selection, away, step / 20.0);
        if (contrastRatio(candidate, base) >= areaContrast && contrastRatio(text, candidate) >= textContrast)
            selection = candidate;
    }
    if (contrastRatio(text, selection) < textContrast)
        text = farthestExtreme(selection);
    QPalette selected = palette;
    for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Window})
        selected.setColor(role, selection);
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
        selected.setColor(role, text);
    return selected;
}

} // namespace quaystone
