#pragma once

#include "ViewStyle.h"

#include <QLabel>

namespace quaystone {

// One line of plain text in a popover font and tone, elided to the width it is given.
// text() and the accessible name keep the full text; only the painting is elided, so a
// resize elides again without touching the text. Its height is the font's line height
// exactly, which lets the list compute row heights without building rows.
class TextLabel : public QLabel {
    Q_OBJECT

public:
    TextLabel(const QString &text, const QFont &font, TextTone tone, QWidget *parent = nullptr);

    void setElideMode(Qt::TextElideMode mode) { m_elideMode = mode; }
    TextTone tone() const { return m_tone; }
    void setTone(TextTone tone) {
        if (tone != m_tone) {
            m_tone = tone;
            update();
        }
    }
    // The text as painted at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextTone m_tone;
    Qt::TextElideMode m_elideMode = Qt::ElideRight;
};

} // namespace quaystone
