#pragma once

#include <QAbstractButton>

namespace quaystone {

// A button with no bezel, border or background: it shows only the child widgets laid out in
// it, and its whole rectangle, blank parts included, takes clicks. It never takes focus; the
// popover window handles the keyboard.
class PlainButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlainButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace quaystone
