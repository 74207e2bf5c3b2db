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
    auto *status = new TextLabel(text, font, tone, this);
    status->setObjectName(QStringLiteral("footer-status"));
    layout->addWidget(status, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    // The popover window maps this key to a refresh.
    const QString hint = QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText);
    layout->addWidget(new TextLabel(hint, font, TextTone::secondary, this), 0, Qt::AlignVCenter);
}

} // namespace quaystone
