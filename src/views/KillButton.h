#pragma once

#include "ViewStyle.h"

#include <QAbstractButton>

namespace quaystone {

// The row's kill button: a cross centred in a 16 by 16 frame, with no bezel. The cross is the
// theme's window-close icon recoloured to the tone, or a drawn one where the theme has none.
class KillButton : public QAbstractButton {
    Q_OBJECT

public:
    KillButton(TextTone tone, QWidget *parent = nullptr);

    TextTone tone() const { return m_tone; }
    void setTone(TextTone tone);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextTone m_tone;
};

} // namespace quaystone
