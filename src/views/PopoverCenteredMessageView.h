#pragma once

#include <QWidget>

#include <optional>

namespace quaystone {

// A title and an optional subtitle, centred in at least 80 pixels of height: shown instead
// of the list while the first scan runs or when nothing listens.
class PopoverCenteredMessageView : public QWidget {
    Q_OBJECT

public:
    PopoverCenteredMessageView(const QString &title, const std::optional<QString> &subtitle, QWidget *parent = nullptr);
};

} // namespace quaystone
