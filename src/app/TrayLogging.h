#pragma once

#include <QLoggingCategory>

namespace quaystone {

// What the tray and the popup do, for finding out why an icon or popup did not show on some
// desktop. Silent unless QT_LOGGING_RULES turns them on ("quaystone.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcTray)
Q_DECLARE_LOGGING_CATEGORY(lcPopup)

} // namespace quaystone
