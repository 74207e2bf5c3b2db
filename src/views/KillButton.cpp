#include "KillButton.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace quaystone {

namespace {

constexpr int killFrameSize = 16;
// The cross spans the cap height of an 11-pixel semibold glyph.
constexpr int crossSize = 8;
constexpr qreal strokeWidth = 1.6;

// The icon's shape filled with one colour, so a full-colour theme icon still follows the tone.
QPixmap tinted(const QIcon &icon, int size, qreal devicePixelRatio, const QColor &colour) {
    QPixmap pixmap = icon.pixmap(QSize(size, size), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

} // namespace

KillButton::KillButton(TextTone tone, QWidget *parent)
    : QAbstractButton(parent)
    , m_tone(tone) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(killFrameSize, killFrameSize);
}

void KillButton::setTone(TextTone tone) {
    if (tone == m_tone)
        return;
    m_tone = tone;
    update();
}

void KillButton::paintEvent(QPaintEvent *) {
    const QColor colour = toneColour(palette(), m_tone);
    QPainter painter(this);
    const QIcon icon = QIcon::fromTheme(QStringLiteral("window-close"));
    if (!icon.isNull()) {
        const QPixmap pixmap = tinted(icon, crossSize + 2, devicePixelRatioF(), colour);
        const QSizeF logical = pixmap.deviceIndependentSize();
        painter.drawPixmap(QPointF((width() - logical.width()) / 2, (height() - logical.height()) / 2), pixmap);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, strokeWidth, Qt::SolidLine, Qt::RoundCap));
    const QRectF cross(QPointF(0, 0), QSizeF(crossSize, crossSize));
    const QRectF centred = cross.translated(QPointF(width() - crossSize, height() - crossSize) / 2);
    painter.drawLine(centred.topLeft(), centred.bottomRight());
    painter.drawLine(centred.topRight(), centred.bottomLeft());
}

} // namespace quaystone
