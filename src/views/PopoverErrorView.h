#pragma once

#include <QWidget>

namespace quaystone {

// Shown instead of the list when the tool could not list the ports and no earlier rows are kept:
// the title "Can't list ports" and, wrapped under it, what went wrong and what to do about it.
class PopoverErrorView : public QWidget {
    Q_OBJECT

public:
    PopoverErrorView(const QString &description, int width, QWidget *parent = nullptr);
};

} // namespace quaystone
