#include "TextLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace quaystone {

namespace {

// Lays text out in lines of the given width, each one font height below the last.
int layOut(QTextLayout &layout, int width, int lineHeight) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    int lines = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, lines++ * lineHeight));
    }
    layout.endLayout();
    return std::max(lines, 1);
}

} // namespace

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

int TextLabel::lineCount(const QFont &font, const QString &text, int width) {
    QTextLayout layout(text, font);
    return layOut(layout, width, 0);
}

void TextLabel::wrapAt(int width) {
    m_wraps = true;
    setFixedSize(width, lineCount(font(), text(), width) * fontMetrics().height());
}

QString TextLabel::displayedText() const {
    if (m_wraps)
        return text();
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
    if (m_wraps) {
        QTextLayout layout(text(), font(), this);
        layOut(layout, contentsRect().width(), fontMetrics().height());
        layout.draw(&painter, contentsRect().topLeft());
        return;
    }
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, displayedText());
}

} // namespace quaystone
