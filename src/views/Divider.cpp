#include "Divider.h"

#include <QPainter>

namespace quaystone {

Divider::Divider(QWidget *parent)
    : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent *) {
    QColor colour = palette().color(QPalette::Text);
    colour.setAlphaF(0.15f);
    QPainter(this).fillRect(rect(), colour);
}

} // namespace quaystone
