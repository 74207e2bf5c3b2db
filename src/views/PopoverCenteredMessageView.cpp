#include "PopoverCenteredMessageView.h"

#include "TextLabel.h"

#include <QVBoxLayout>

namespace quaystone {

PopoverCenteredMessageView::PopoverCenteredMessageView(const QString &title, const std::optional<QString> &subtitle,
                                                       QWidget *parent)
    : QWidget(parent) {
    setMinimumHeight(80);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(4);
    layout->addStretch(1);
    const auto addLine = [&](const QString &text, QFont::Weight weight) {
        auto *label = new TextLabel(text, popoverFont(TextSize::regular, weight), TextTone::secondary, this);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    };
    addLine(title, QFont::Medium);
    if (subtitle)
        addLine(*subtitle, QFont::Normal);
    layout->addStretch(1);
}

} // namespace quaystone
