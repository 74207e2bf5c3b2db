#pragma once

#include "ViewStyle.h"

#include <QLabel>

namespace quaystone {

// Plain text in a popover font and tone: one line elided to the width it is given, or wrapped
// at a width. text() and the accessible name keep the full text; only the painting is elided,
// so a resize elides again without touching the text. Its height is the font's line height
// times its lines exactly, which lets the list compute row heights without building rows.
class TextLabel : public QLabel {
    Q_OBJECT

public:
    TextLabel(const QString &text, const QFont &font, TextTone tone, QWidget *parent = nullptr);

    void setElideMode(Qt::TextElideMode mode) { m_elideMode = mode; }
    // Wraps the text at the width (at word boundaries, or anywhere in a longer word) and takes
    // that width and the height of all its lines.
    void wrapAt(int width);
    // The lines of text in font at width, as wrapAt breaks them.
    static int lineCount(const QFont &font, const QString &text, int width);
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
    bool m_wraps = false;
};

} // namespace quaystone
