#pragma once

#include <QWidget>

namespace quaystone {

class TextLabel;

// The line under the list: how long ago it was refreshed, and the refresh key at the right.
class PopoverFooterView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverFooterView(const QString &text, QWidget *parent = nullptr);

    // Touches the label only when the text differs, so a render that changes nothing here
    // tells assistive technology nothing.
    void setText(const QString &text);

private:
    TextLabel *m_text;
};

} // namespace quaystone
