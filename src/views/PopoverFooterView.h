#pragma once

#include "ViewStyle.h"

#include <QWidget>

namespace quaystone {

class TextLabel;

// The line under the list: how long ago it was refreshed, or that the latest update failed (in red),
// a small mark beside it while an update runs, and the refresh key at the right.
class PopoverFooterView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverFooterView(const QString &text, TextTone tone = TextTone::secondary, QWidget *parent = nullptr);

    // Touches the label only when the text or its tone differs, so a render that changes nothing
    // here tells assistive technology nothing.
    void setText(const QString &text, TextTone tone = TextTone::secondary);
    // The mark is painted, not a widget of its own: a screen reader hears nothing new for it.
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextLabel *m_text;
    bool m_busy = false;
};

} // namespace quaystone
