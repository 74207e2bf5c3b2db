#include "KillButton.h"

#include <QPainter>

namespace quaystone {

namespace {

// The cross spans the cap height of the small semibold text.
constexpr int crossSize = 8;
constexpr qreal strokeWidth = 1.6;

} // namespace

KillButton::KillButton(TextTone tone, QWidget *parent)
    : QAbstractButton(parent)
    , m_tone(tone) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(frameSize(), frameSize());
}

int KillButton::frameSize() {
    return scaled(16);
}

void KillButton::setTone(TextTone tone) {
    if (tone == m_tone)
        return;
    m_tone = tone;
    update();
}

void KillButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(toneColour(palette(), m_tone), strokeWidth * popoverScale(), Qt::SolidLine, Qt::RoundCap));
    const qreal size = crossSize * popoverScale();
    const QRectF cross = QRectF(0, 0, size, size).translated(QPointF(width() - size, height() - size) / 2);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
}

} // namespace quaystone
