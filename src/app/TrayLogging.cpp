#include "app/TrayLogging.h"

namespace quaystone {

Q_LOGGING_CATEGORY(lcTray, "quaystone.tray", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPopup, "quaystone.popup", QtInfoMsg)

} // namespace quaystone
