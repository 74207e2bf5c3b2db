#include "PopoverFooterView.h"

#include "TextLabel.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QPainter>

#include <algorithm>

namespace quaystone {

PopoverFooterView::PopoverFooterView(const QString &text, TextTone tone, QWidget *parent)
    : QWidget(parent) {
    const QFont font = popoverFont(TextSize::small, QFont::Normal);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    m_text = new TextLabel(text, font, tone, this);
    m_text->setObjectName(QStringLiteral("footer-status"));
    layout->addWidget(m_text, 0, Qt::AlignVCenter);
    // Room for the busy mark, a text line high.
    layout->addSpacing(m_text->height() * 3 / 2);
    layout->addStretch(1);
    // The popover window maps this key to a refresh.
    const QString hint = QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText);
    layout->addWidget(new TextLabel(hint, font, TextTone::secondary, this), 0, Qt::AlignVCenter);
}

void PopoverFooterView::setText(const QString &text, TextTone tone) {
    m_text->setTone(tone);
    if (m_text->text() != text)
        m_text->setText(text);
}

} // namespace quaystone

namespace quaystone {

void PopoverFooterView::setBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    update();
}

// Three quarters of a ring after the status text, as a refresh button draws it.
void PopoverFooterView::paintEvent(QPaintEvent *) {
    if (!m_busy)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal size = m_text->height() * 0.6;
    const QRectF ring(m_text->geometry().right() + m_text->height() * 0.5, m_text->geometry().center().y() - size / 2,
                      size, size);
    painter.setPen(
        QPen(toneColour(palette(), TextTone::secondary), std::max(1.5, size / 7), Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, 90 * 16, 270 * 16);
}

} // namespace quaystone
