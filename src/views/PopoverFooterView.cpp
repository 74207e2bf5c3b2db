#include "PopoverFooterView.h"

#include "TextLabel.h"

#include <QHBoxLayout>
#include <QKeySequence>

namespace quaystone {

PopoverFooterView::PopoverFooterView(const QString &text, TextTone tone, QWidget *parent)
    : QWidget(parent) {
    const QFont font = popoverFont(11, QFont::Normal);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    m_text = new TextLabel(text, font, tone, this);
    m_text->setObjectName(QStringLiteral("footer-status"));
    layout->addWidget(m_text, 0, Qt::AlignVCenter);
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
