#include "uitest/UITestLaunchAtLoginController.h"

namespace quaystone {

std::optional<LaunchAtLoginError> UITestLaunchAtLoginController::setEnabled(bool enabled) {
    m_enabled = enabled;
    return std::nullopt;
}

} // namespace quaystone
