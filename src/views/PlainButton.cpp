#include "PlainButton.h"

namespace quaystone {

PlainButton::PlainButton(QWidget *parent)
    : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void PlainButton::paintEvent(QPaintEvent *) {}

} // namespace quaystone
