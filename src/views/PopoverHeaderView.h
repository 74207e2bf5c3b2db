#pragma once

#include <QWidget>

namespace quaystone {

// The column titles above the rows: "PORT" over the 48-pixel port column, then "PROCESS".
class PopoverHeaderView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverHeaderView(QWidget *parent = nullptr);
};

} // namespace quaystone
