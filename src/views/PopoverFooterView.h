#pragma once

#include "ViewStyle.h"

#include <QWidget>

namespace quaystone {

// The line under the list: how long ago it was refreshed, or that the latest update failed (in red),
// and the refresh key at the right.
class PopoverFooterView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverFooterView(const QString &text, TextTone tone = TextTone::secondary, QWidget *parent = nullptr);
};

} // namespace quaystone
