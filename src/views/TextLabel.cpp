#include "TextLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace quaystone {

TextLabel::TextLabel(const QString &text, const QFont &font, TextTone tone, QWidget *parent)
    : QLabel(parent)
    , m_tone(tone) {
    // Process names and paths come from outside: never interpret them as markup.
    setTextFormat(Qt::PlainText);
    setFont(font);
    setText(text);
    setFixedHeight(fontMetrics().height());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString TextLabel::displayedText() const {
    return fontMetrics().elidedText(text(), m_elideMode, contentsRect().width());
}

QSize TextLabel::sizeHint() const {
    // Rounded up: elision measures the fractional width, and must not cut a text that fits.
    const int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    return {width, fontMetrics().height()};
}

QSize TextLabel::minimumSizeHint() const {
    return {0, fontMetrics().height()};
}

void TextLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(toneColour(palette(), m_tone));
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, displayedText());
}

} // namespace quaystone
