#include "PopoverHeaderView.h"

#include "PortRowView.h"
#include "TextLabel.h"

#include <QHBoxLayout>

namespace quaystone {

PopoverHeaderView::PopoverHeaderView(QWidget *parent)
    : QWidget(parent) {
    const QFont font = popoverFont(TextSize::small, QFont::Medium);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(PortRowView::columnSpacing);

    auto *port = new TextLabel(tr("PORT"), font, TextTone::secondary, this);
    port->setFixedWidth(PortRowView::portColumnWidth());
    layout->addWidget(port, 0, Qt::AlignVCenter);
    layout->addWidget(new TextLabel(tr("PROCESS"), font, TextTone::secondary, this), 0, Qt::AlignVCenter);
    layout->addStretch(1);
}

} // namespace quaystone
