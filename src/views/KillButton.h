#pragma once

#include "ViewStyle.h"

#include <QAbstractButton>

namespace quaystone {

// The row's kill button: a drawn cross centred in a square frame, with no bezel. Drawn rather
// than taken from the icon theme, whose crosses vary too much in size and weight.
class KillButton : public QAbstractButton {
    Q_OBJECT

public:
    KillButton(TextTone tone, QWidget *parent = nullptr);

    // The side of the frame: 16 pixels at the default font size.
    static int frameSize();
    TextTone tone() const { return m_tone; }
    void setTone(TextTone tone);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextTone m_tone;
};

} // namespace quaystone
