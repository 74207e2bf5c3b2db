#pragma once

#include <QWidget>

namespace quaystone {

// The line under the list: how long ago it was refreshed, and the refresh key at the right.
class PopoverFooterView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverFooterView(const QString &text, QWidget *parent = nullptr);
};

} // namespace quaystone
